#include "app/batch.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <new>
#include <optional>
#include <sstream>

#include "app/classic_run.h"
#include "app/pipeline.h"
#include "checkpoint/detect.h"
#include "checkpoint/input.h"
#include "checkpoint/text.h"
#include "core/elements.h"
#include "core/printable.h"
#include "core/stop.h"
#include "report/json.h"
#include "report/svg.h"
#include "report/text_report.h"

namespace mv {

namespace fs = std::filesystem;

std::string displayName(const std::string& file) {
  return file == "-" ? "standard input" : file;
}

namespace {

std::string diagnosticOf(const std::string& file, const Stop& s) {
  std::string message = s.diagnostic();
  if (!s.code.empty()) message += " (stop " + s.code + ")";
  // File names and the quoted text of a file may hold any bytes.
  return printable(errorLine(displayName(file), s.line, message));
}

}  // namespace

std::string drawing(const RunResults& r, const BatchOptions& options) {
  const Checkpoint& ck = r.ck;
  const BondOrders& b = r.bonds;
  const double minBond = options.minBond;
  Drawing d;
  d.title = ck.title;
  d.method = ck.calc.method;
  d.minBond = minBond;
  d.labels = options.svgLabels;
  d.openShell = ck.unrestricted() || ck.nalpha != ck.nbeta;
  for (int a = 1; a <= b.total.size(); ++a) {
    d.atoms.push_back({a,
                       ck.atomicNumber(a),
                       std::string(elementSymbol(ck.atomicNumber(a))),
                       {ck.coords(1, a), ck.coords(2, a), ck.coords(3, a)},
                       ck.nuclearCharge(a) - r.populations.qat(a),
                       b.free(a)});
    d.atoms.back().ghost = ck.nuclearCharge(a) == 0.0;
  }
  for (int a = 1; a <= b.total.size(); ++a)
    for (int c = a + 1; c <= b.total.size(); ++c)
      if (b.bonds(a, c) >= minBond) d.bonds.push_back({a, c, b.bonds(a, c)});
  std::ostringstream out;
  writeSvg(out, d);
  return out.str();
}

namespace {

std::string headerLine(const std::string& file) {
  return "==> " + displayName(file) + " <==\n";
}

}  // namespace

FileResult analyseFile(const std::string& file, const BatchOptions& options, bool header,
                       const Parallel& par) {
  FileResult res;
  std::ostringstream text;
  TextReport report(text, ReportStyle::Fit);
  const bool json = options.json && !options.keep;  // no text report
  auto run = std::make_shared<RunResults>();
  RunResults& r = *run;
  RunOptions ro;
  ro.limits = Limits::commandLine();
  ro.par = &par;
  ro.density = options.density;
  std::optional<Stop> stop;
  // A file that cannot be opened or read gets its diagnostic and no report:
  // the banner comes once its text is in.
  bool opened = false;
  try {
    // The bytes (decompressed when compressed); the format is chosen once,
    // from their content.  They are given back as soon as they are read.
    InputBytes in = file == "-" ? InputBytes::fromDescriptor(0, displayName(file))
                                : InputBytes::fromFile(file, file);
    opened = true;
    if (!json) report.banner();
    if (detectFormat(in.bytes()) == FileFormat::Molden) {
      analyseMolden(in.bytes(), in.name(), ro, r, json ? nullptr : &report);
    } else {
      CheckpointText t = CheckpointText::fromBytes(in.bytes(), in.name(), par);
      in.release();
      analyse(std::move(t), ro, r, json ? nullptr : &report);
    }
  } catch (const Stop& s) {
    if (!json) report.stop(s);
    stop = s;
  } catch (const std::bad_alloc&) {
    Stop s;
    s.status = kStatusInputError;
    s.detail = "out of memory";
    stop = s;
  }
  res.ok = !stop.has_value();
  if (stop) res.diagnostic = diagnosticOf(file, *stop);
  if (res.ok && !options.svg.empty()) res.drawing = drawing(r, options);
  if (options.json || options.keep) {
    JsonInput in;
    in.file = file;
    in.ck = &r.ck;
    in.density = &r.density;
    in.populations = r.complete ? &r.populations : nullptr;
    in.bonds = r.complete ? &r.bonds : nullptr;
    in.convention = r.complete ? &r.convention : nullptr;
    in.stop = stop ? &*stop : nullptr;
    in.minBond = options.minBond;
    res.output = jsonLine(in) + "\n";
  }
  if (options.keep) {
    res.json = std::move(res.output);
    res.json.pop_back();
    res.run = std::move(run);
  }
  if (!json) res.output = opened ? (header ? headerLine(file) : std::string()) + text.str() : "";
  return res;
}

std::string stemOf(const std::string& file) {
  return file == "-" ? "stdin" : fs::path(file).stem().string();
}

std::string outputPath(const BatchOptions& options, const std::string& file) {
  return (fs::path(options.outDir) / (stemOf(file) + (options.json ? ".json" : ".txt"))).string();
}

std::string drawingPath(const BatchOptions& options, const std::string& file) {
  if (!options.svgDirectory) return options.svg;
  return (fs::path(options.svg) / (stemOf(file) + ".svg")).string();
}

namespace {

// The progress line on a terminal: files done of total, failures, elapsed
// time and an estimate of the time left from the bytes of the files done.
class Progress {
 public:
  Progress(std::ostream& err, bool on, std::size_t total, unsigned long long totalBytes)
      : err_(err), on_(on), total_(total), totalBytes_(totalBytes) {}

  void update(std::size_t done, std::size_t failed, unsigned long long doneBytes,
              bool force = false) {
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    char buf[160];
    int n = std::snprintf(buf, sizeof buf, "\r\033[Kmirvante: %zu/%zu files, %zu failed, %.0f s",
                          done, total_, failed, elapsed);
    const double left = secondsLeft(elapsed, doneBytes, totalBytes_);
    if (done > 0 && done < total_ && left >= 0.0)
      std::snprintf(buf + n, sizeof buf - static_cast<std::size_t>(n), ", about %.0f s left", left);
    err_ << buf << std::flush;
    shown_ = true;
  }
  void erase() {
    if (shown_) err_ << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  std::ostream& err_;
  bool on_;
  std::size_t total_;
  unsigned long long totalBytes_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

// The sizes of the inputs for the progress estimate; one that cannot be
// known beforehand (standard input, a missing file) counts as 1 byte.
std::vector<unsigned long long> inputSizes(const std::vector<std::string>& files) {
  std::vector<unsigned long long> sizes;
  for (const std::string& f : files) {
    std::error_code ec;
    const auto size = f == "-" ? 0 : fs::file_size(f, ec);
    sizes.push_back(ec || size == 0 ? 1ULL : static_cast<unsigned long long>(size));
  }
  return sizes;
}

}  // namespace

double secondsLeft(double elapsed, unsigned long long doneBytes, unsigned long long totalBytes) {
  if (doneBytes == 0 || doneBytes > totalBytes) return -1.0;
  return elapsed / static_cast<double>(doneBytes) * static_cast<double>(totalBytes - doneBytes);
}

int runBatch(const BatchOptions& options, std::ostream& out, std::ostream& err,
             const volatile std::sig_atomic_t* interrupted) {
  const std::size_t n = options.files.size();
  const bool several = n > 1;
  const int jobs = options.jobs < 1 ? 1 : options.jobs;
  // Results wait in their slots until every earlier one has been written;
  // no more files are started than a window ahead of the writer, so memory
  // is bounded by the largest file, not by the number of files.
  const std::size_t window = 2 * static_cast<std::size_t>(jobs) + 2;
  std::vector<std::optional<FileResult>> slots(n);
  std::mutex m;
  std::condition_variable ready;

  // The jobs' threads; this thread only writes the outputs in order.
  ThreadPool pool(jobs + 1);
  const Parallel par(pool, jobs);
  std::size_t submitted = 0;
  std::size_t next = 0;
  auto submitAhead = [&]() {
    while (submitted < n && submitted < next + window) {
      const std::size_t i = submitted++;
      pool.submit([&, i]() {
        FileResult r = analyseFile(options.files[i], options,
                                   several && options.outDir.empty() && !options.json, par);
        const std::lock_guard<std::mutex> lock(m);
        slots[i] = std::move(r);
        ready.notify_all();
      });
    }
  };

  const std::vector<unsigned long long> sizes = inputSizes(options.files);
  unsigned long long totalBytes = 0, doneBytes = 0;
  for (const unsigned long long b : sizes) totalBytes += b;
  Progress progress(err, options.progress && several, n, totalBytes);
  std::size_t failed = 0, reportsWritten = 0;
  bool writeFailed = false;
  auto write = [&](std::size_t i, FileResult& r) {
    if (!r.ok) {
      ++failed;
      progress.erase();
      err << r.diagnostic << '\n';
    }
    std::string text = std::move(r.output);
    if (text.empty()) {
      // Nothing to write: a file that could not be opened has no report.
    } else if (!options.outDir.empty()) {
      const std::string path = outputPath(options, options.files[i]);
      std::ofstream f(path, std::ios::binary | std::ios::trunc);
      f << text;
      f.close();
      if (!f) {
        progress.erase();
        err << errorLine(path, 0, "cannot write the output") << '\n';
        writeFailed = true;
      }
    } else {
      // Several reports are separated as head and tail separate files: an
      // empty line, then the header line.
      if (several && !options.json && reportsWritten > 0) out << '\n';
      out << text;
      ++reportsWritten;
    }
    if (!r.drawing.empty()) {
      const std::string path = drawingPath(options, options.files[i]);
      std::ofstream f(path, std::ios::binary | std::ios::trunc);
      f << r.drawing;
      f.close();
      if (!f) {
        progress.erase();
        err << errorLine(path, 0, "cannot write the drawing") << '\n';
        writeFailed = true;
      }
    }
  };

  submitAhead();
  progress.update(0, 0, 0, true);
  while (next < n) {
    std::optional<FileResult> r;
    {
      std::unique_lock<std::mutex> lock(m);
      ready.wait_for(lock, std::chrono::milliseconds(50), [&] { return slots[next].has_value(); });
      if (slots[next].has_value()) {
        r = std::move(slots[next]);
        slots[next].reset();
      }
    }
    if (*interrupted != 0) {
      // Stop at once: what is complete in order is written, the rest dropped.
      if (r) write(next, *r);
      out.flush();
      progress.erase();
      err << "mirvante: interrupted\n" << std::flush;
      std::fflush(stdout);
      std::_Exit(130);
    }
    if (!r) {
      progress.update(next, failed, doneBytes);
      continue;
    }
    write(next, *r);
    doneBytes += sizes[next];
    ++next;
    progress.update(next, failed, doneBytes);
    submitAhead();
  }
  progress.erase();
  out.flush();
  return failed > 0 || writeFailed ? kStatusStopped : kStatusOk;
}

}  // namespace mv
