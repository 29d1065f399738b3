#include "app/batch.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "app/classic_run.h"
#include "app/output.h"
#include "app/pipeline.h"
#include "checkpoint/detect.h"
#include "checkpoint/input.h"
#include "checkpoint/text.h"
#include "core/elements.h"
#include "core/memory.h"
#include "core/printable.h"
#include "core/stop.h"
#include "report/json.h"
#include "report/svg.h"
#include "report/text_report.h"

namespace mv {

namespace fs = std::filesystem;

namespace {
constexpr int kStatusUsageError = 2;  // as the command line's usage errors
}  // namespace

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

// The drawing of a complete analysis: atoms, bonds from the threshold on,
// charges, and the spin populations (when there are) or free valences.
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
    if (r.spin) d.atoms.back().spin = r.spin->atom(a);
  }
  if (r.fragments)
    for (int f = 1; f <= r.fragments->count(); ++f)
      for (const int a : r.fragments->atoms[static_cast<std::size_t>(f - 1)])
        d.atoms[static_cast<std::size_t>(a - 1)].fragment = f;
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

namespace {

int threadsFor(int jobs);

// The outputs of one analysed file (report, JSON line, drawing) into res.
void writeOutputs(const std::string& file, const BatchOptions& options, bool header, bool opened,
                  const std::optional<Stop>& stop, const std::ostringstream& text,
                  std::shared_ptr<RunResults>& run, FileResult& res);
// What a series keeps of a complete analysis: the atoms, the energy and the
// bond orders of `pairs` (every pair i < j when empty).  A pair beyond the
// file's atoms gives NaN; such a frame has other atoms than the series, and
// is refused for that.
SeriesFrame seriesFrame(const std::string& file, const RunResults& r,
                        const std::vector<AtomPair>& pairs) {
  SeriesFrame f;
  f.file = file;
  f.energy = r.ck.energy();
  const int nat = r.bonds.bonds.rows();
  for (int a = 1; a <= nat; ++a) f.atomicNumbers.push_back(r.ck.atomicNumber(a));
  auto order = [&](int a, int c) {
    return a >= 1 && c >= 1 && a <= nat && c <= nat ? r.bonds.bonds(a, c)
                                                    : std::numeric_limits<double>::quiet_NaN();
  };
  if (pairs.empty()) {
    f.orders.reserve(static_cast<std::size_t>(nat) * static_cast<std::size_t>(nat) / 2);
    for (int a = 1; a <= nat; ++a)
      for (int c = a + 1; c <= nat; ++c) f.orders.push_back(order(a, c));
  } else {
    for (const AtomPair& p : pairs) f.orders.push_back(order(p.first, p.second));
  }
  return f;
}

}  // namespace

FileResult analyseFile(const std::string& file, const BatchOptions& options, bool header,
                       const Parallel& par) {
  FileResult res;
  std::ostringstream text;
  ReportOptions reportOptions;
  reportOptions.fullMatrix = options.matrix;
  reportOptions.minBond = options.minBond;
  TextReport report(text, ReportStyle::Fit, reportOptions);
  const bool json = (options.json && !options.keep) || options.series;  // no text report
  auto run = std::make_shared<RunResults>();
  RunResults& r = *run;
  RunOptions ro;
  ro.limits = Limits::commandLine();
  ro.par = &par;
  ro.lowdin = options.lowdin;
  ro.density = options.density;
  ro.fragments = options.fragments;
  ro.rings = options.rings;
  ro.minBond = options.minBond;
  std::optional<Stop> stop;
  // A file that cannot be opened or read gets its diagnostic and no report:
  // the banner comes once its text is in.
  bool opened = false;
  try {
    // The bytes (decompressed when compressed); the format is chosen once,
    // from their content.  They are given back as soon as they are read.
    // Standard input closed when the process started is held by /dev/null
    // marked close-on-exec (main.cpp): it is no empty file.
    if (file == "-" && ::fcntl(0, F_GETFD) > 0 && (::fcntl(0, F_GETFD) & FD_CLOEXEC) != 0)
      inputError(displayName(file), 0, "closed when the program started");
    // The files analysed at once share the memory: a compressed input may
    // expand to its share of what one file alone could take.
    const auto atOnce = static_cast<std::uint64_t>(std::clamp<std::size_t>(
        options.files.size(), 1, static_cast<std::size_t>(threadsFor(options.jobs))));
    const std::uint64_t expand = std::max<std::uint64_t>(defaultDecompressLimit() / atOnce, 1);
    InputBytes in = file == "-" ? InputBytes::fromDescriptor(0, displayName(file), expand)
                                : InputBytes::fromFile(file, file, expand);
    opened = true;
    if (!json) report.banner();
    const FileFormat format = detectFormat(in.bytes());
    if (format == FileFormat::Molden) {
      analyseMolden(in.bytes(), in.name(), ro, r, json ? nullptr : &report);
    } else if (format != FileFormat::Fchk) {
      analyseWaveFile(in.bytes(), in.name(), format, ro, r, json ? nullptr : &report);
    } else {
      // The text keeps the bytes until the reader is done with them.
      analyse(CheckpointText::fromInput(std::move(in), par), ro, r, json ? nullptr : &report);
    }
  } catch (const Stop& s) {
    if (!json) report.stop(s);
    stop = s;
  } catch (const std::bad_alloc&) {
    Stop s;
    s.status = kStatusInputError;
    s.detail = "out of memory";
    stop = s;
  } catch (const std::exception& e) {
    // Anything else the system refuses (threads, files) fails this file
    // with the system's reason; it must not end the batch.
    Stop s;
    s.status = kStatusInputError;
    s.detail = e.what();
    stop = s;
  }
  std::optional<Stop> failed;
  try {
    writeOutputs(file, options, header, opened, stop, text, run, res);
  } catch (const std::bad_alloc&) {
    failed = Stop{};
    failed->status = kStatusInputError;
    failed->detail = "out of memory";
  } catch (const Stop& s) {
    failed = s;  // the outputs would not fit in memory
  }
  if (failed) {
    // The outputs of a large analysis can fail for memory too: the file is
    // refused, with the smallest outputs, and the batch goes on.
    const Stop s = *failed;
    stop = s;
    res = FileResult{};
    run.reset();  // the run's values are given back first
    std::ostringstream().swap(text);
    if (!json) report.stop(s);
    auto bare = std::make_shared<RunResults>();
    writeOutputs(file, options, header, opened, stop, text, bare, res);
  }
  return res;
}

namespace {

void writeOutputs(const std::string& file, const BatchOptions& options, bool header, bool opened,
                  const std::optional<Stop>& stop, const std::ostringstream& text,
                  std::shared_ptr<RunResults>& run, FileResult& res) {
  const bool json = options.json && !options.keep;
  const RunResults& r = *run;
  res.ok = !stop.has_value();
  res.badOption = r.badOption;
  if (stop) res.diagnostic = diagnosticOf(file, *stop);
  // The JSON object holds the bond orders of every pair of atoms: its text
  // and its tree while it is made take some 100 bytes a pair.
  if ((options.json || options.keep) && r.complete) {
    const auto n = static_cast<std::uint64_t>(r.ck.natoms);
    requireMemory(100 * n * n, "the JSON output of " + std::to_string(n) + " atoms");
  }
  if (res.ok && !options.svg.empty()) res.drawing = drawing(r, options);
  if (options.series && res.ok) res.frame = seriesFrame(file, r, options.seriesBonds);
  if ((options.json || options.keep) && !options.series) {
    JsonInput in;
    in.file = file;
    in.ck = &r.ck;
    in.density = &r.density;
    in.populations = r.complete ? &r.populations : nullptr;
    in.bonds = r.complete ? &r.bonds : nullptr;
    in.convention = r.complete ? &r.convention : nullptr;
    in.spin = r.complete && r.spin ? &*r.spin : nullptr;
    in.lowdin = r.complete && r.lowdin ? &*r.lowdin : nullptr;
    in.stop = stop ? &*stop : nullptr;
    in.minBond = options.minBond;
    in.fragments = r.complete && r.fragments ? &*r.fragments : nullptr;
    in.multicenter = r.complete && r.multicenter ? &*r.multicenter : nullptr;
    res.output = jsonLine(in) + "\n";
  }
  if (options.keep) {
    res.json = std::move(res.output);
    res.json.pop_back();
    res.run = std::move(run);
  }
  if (!json) res.output = opened ? (header ? headerLine(file) : std::string()) + text.str() : "";
}

// The file name without a compression suffix (".gz", ".xz", in any case).
std::string uncompressedName(const std::string& file) {
  std::string name = fs::path(file).filename().string();
  if (name.size() > 3) {
    std::string ext = name.substr(name.size() - 3);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".gz" || ext == ".xz") name.resize(name.size() - 3);
  }
  return name;
}

// The name an input's outputs are made from: its stem, or, when other
// inputs of the batch share that stem, its name with the format suffix.
std::string baseOf(const BatchOptions& options, const std::string& file) {
  const std::string stem = stemOf(file);
  if (file == "-" || !options.sharedStems.contains(stem)) return stem;
  return uncompressedName(file);
}

}  // namespace

std::string stemOf(const std::string& file) {
  return file == "-" ? "stdin" : fs::path(uncompressedName(file)).stem().string();
}

std::map<std::string, std::vector<std::string>> sharedStems(const std::vector<std::string>& files) {
  std::map<std::string, std::vector<std::string>> byStem;
  for (const std::string& f : files) byStem[stemOf(f)].push_back(f);
  std::map<std::string, std::vector<std::string>> shared;
  for (auto& [stem, inputs] : byStem) {
    // The same file named twice writes the same output: not a stem shared.
    std::set<std::string> distinct;
    for (const std::string& f : inputs) distinct.insert(uncompressedName(f));
    if (distinct.size() > 1) shared.emplace(stem, std::move(inputs));
  }
  return shared;
}

std::string outputPath(const BatchOptions& options, const std::string& file) {
  return (fs::path(options.outDir) / (baseOf(options, file) + (options.json ? ".json" : ".txt")))
      .string();
}

std::string drawingPath(const BatchOptions& options, const std::string& file) {
  if (!options.svgDirectory) return options.svg;
  return (fs::path(options.svg) / (baseOf(options, file) + ".svg")).string();
}

namespace {

// Threads for `jobs`: no more than the processors this process may run on.
int threadsFor(int jobs) {
  int cores = static_cast<int>(std::thread::hardware_concurrency());
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) cores = CPU_COUNT(&set);
  return std::clamp(jobs, 1, std::max(cores, 1));
}

// A drawing left by an earlier run of a file that is not analysed now would
// pass for its drawing: remove it (a file or a link, nothing else).
// Returns 0 or the errno.
int removeStaleDrawing(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return 0;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

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

// End the process at once with `status` after `message`: the analyses
// under way are dropped, what was written stays.
[[noreturn]] void endNow(std::ostream& out, std::ostream& err, Progress& progress,
                         const std::string& message, int status) {
  out.flush();
  progress.erase();
  err << message << '\n' << std::flush;
  std::fflush(stdout);
  std::_Exit(status);
}

}  // namespace

double secondsLeft(double elapsed, unsigned long long doneBytes, unsigned long long totalBytes) {
  if (doneBytes == 0 || doneBytes > totalBytes) return -1.0;
  return elapsed / static_cast<double>(doneBytes) * static_cast<double>(totalBytes - doneBytes);
}

int runBatch(const BatchOptions& options, std::ostream& out, std::ostream& err,
             const volatile std::sig_atomic_t* interrupted) {
  return runBatch(options, out, err, interrupted, FileSink());
}

int runBatch(const BatchOptions& options, std::ostream& out, std::ostream& err,
             const volatile std::sig_atomic_t* interrupted, const FileSink& sink) {
  const std::size_t n = options.files.size();
  const bool several = n > 1;
  const int jobs = threadsFor(options.jobs);
  // Results wait in their slots until every earlier one has been written;
  // no more files are started than a window ahead of the writer, so memory
  // is bounded by the largest file, not by the number of files.
  const std::size_t window = 2 * static_cast<std::size_t>(jobs) + 2;
  std::vector<std::optional<FileResult>> slots(n);
  std::mutex m;
  std::condition_variable ready;

  // The jobs' threads; this thread only writes the outputs in order.  They
  // start with the interrupt and termination signals blocked, so that these
  // reach this thread and cut short a write that blocks, not a worker's read.
  sigset_t stopSignals, previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  ThreadPool pool(jobs + 1);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  const Parallel par(pool, std::max(1, std::min(jobs, pool.size() - 1)));
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
  bool writeFailed = false, badOption = false;
  auto writeError = [&](const std::string& path, const char* what, int e) {
    progress.erase();
    err << printable(errorLine(path, 0, std::string(what) + ": " + std::strerror(e))) << '\n';
    writeFailed = true;
  };
  // Write one file's outputs; false when standard output failed, which
  // ends the batch.
  bool sinkEnded = false;
  auto write = [&](std::size_t i, FileResult& r) {
    if (sink && !sink(i, r)) sinkEnded = true;
    if (!r.ok) {
      ++failed;
      badOption = badOption || r.badOption;
      progress.erase();
      err << r.diagnostic << '\n';
    }
    if (sink) return true;  // the caller took the values; nothing to write
    std::string text = std::move(r.output);
    if (!options.outDir.empty()) {
      // The report of a failed file says why it failed, as standard error
      // did; a file that could not be opened has that line alone.
      if (!r.ok && !options.json) text += r.diagnostic + '\n';
      const std::string path = outputPath(options, options.files[i]);
      if (const int e = replaceFile(path, text); e != 0)
        writeError(path, "cannot write the output", e);
    } else if (!text.empty()) {  // a file that could not be opened has no report
      // Several reports are separated as head and tail separate files: an
      // empty line, then the header line.
      if (several && !options.json && reportsWritten > 0) out << '\n';
      out << text;
      ++reportsWritten;
      // Each finished output leaves the process before the next is
      // written: nothing complete is lost if the process is killed later.
      out.flush();
    }
    if (!options.svg.empty()) {
      const std::string path = drawingPath(options, options.files[i]);
      if (!r.drawing.empty()) {
        if (const int e = replaceFile(path, r.drawing); e != 0)
          writeError(path, "cannot write the drawing", e);
      } else if (const int e = removeStaleDrawing(path); e != 0) {
        writeError(path, "cannot remove the drawing of an earlier run", e);
      }
    }
    return options.outDir.empty() ? streamError(out) == 0 : true;
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
      endNow(out, err, progress, "mirvante: interrupted", 130);
    }
    if (!r) {
      progress.update(next, failed, doneBytes);
      continue;
    }
    if (!write(next, *r)) {
      // Standard output is gone (closed, full, a reader that left): the
      // rest of the batch could not be written, so it is not analysed.
      if (*interrupted != 0) endNow(out, err, progress, "mirvante: interrupted", 130);
      endNow(out, err, progress,
             std::string("mirvante: cannot write the report to standard output: ") +
                 std::strerror(streamError(out)),
             kStatusInputError);
    }
    doneBytes += sizes[next];
    ++next;
    progress.update(next, failed, doneBytes);
    if (sinkEnded) break;
    submitAhead();
  }
  progress.erase();
  out.flush();
  if (writeFailed) return kStatusInputError;
  // An atom that a file's molecule does not have makes the command line a
  // wrong one for that file (the others are analysed all the same).
  if (badOption) return kStatusUsageError;
  return failed > 0 ? kStatusStopped : kStatusOk;
}

}  // namespace mv
