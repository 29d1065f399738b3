#include "app/series.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "app/classic_run.h"
#include "app/output.h"
#include "core/printable.h"
#include "core/stop.h"
#include "report/series_report.h"

namespace mv {

namespace {

// A whole number of atom from 1, the whole of `text`.
int atomNumber(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return 0;
  return std::stoi(text);
}

std::string trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::vector<AtomPair> parseBondPairs(const std::string& text) {
  std::vector<AtomPair> pairs;
  std::size_t begin = 0;
  while (true) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    const std::string item = trimmed(text.substr(begin, comma - begin));
    auto bad = [&](const std::string& why) {
      throw std::invalid_argument("--bonds '" + text + "': '" + item + "' " + why);
    };
    const auto dash = item.find('-');
    const int a = dash == std::string::npos ? 0 : atomNumber(trimmed(item.substr(0, dash)));
    const int b = dash == std::string::npos ? 0 : atomNumber(trimmed(item.substr(dash + 1)));
    if (a < 1 || b < 1) bad("is not a pair of atoms such as 1-2 (atoms counted from 1)");
    if (a == b) bad("names the same atom twice");
    const AtomPair p{std::min(a, b), std::max(a, b)};
    if (std::find(pairs.begin(), pairs.end(), p) != pairs.end()) bad("is given twice");
    pairs.push_back(p);
    if (comma == text.size()) break;
    begin = comma + 1;
  }
  return pairs;
}

SeriesOutcome collectSeries(BatchOptions options, std::ostream& out, std::ostream& err,
                            const volatile std::sig_atomic_t* interrupted) {
  options.series = true;
  options.keep = false;
  SeriesBuilder builder(options.seriesBonds.empty()
                            ? std::nullopt
                            : std::optional<std::vector<AtomPair>>(options.seriesBonds),
                        options.minBond);
  bool badPairs = false;
  SeriesOutcome o;
  // Called in input order: the first complete frame fixes the atoms.
  const FileSink sink = [&](std::size_t i, FileResult& r) {
    if (!r.ok || !r.frame) {
      o.skipped.emplace_back(options.files[i], r.diagnostic);
      return true;
    }
    const std::string name = displayName(r.frame->file);
    const int atoms = static_cast<int>(r.frame->atomicNumbers.size());
    if (builder.frames() == 0) {
      if (const auto p = builder.pairBeyond(atoms)) {
        r.ok = false;
        r.diagnostic = printable(errorLine(
            name, 0,
            "--bonds " + std::to_string(p->first) + "-" + std::to_string(p->second) +
                ": the molecule has " + std::to_string(atoms) + (atoms == 1 ? " atom" : " atoms")));
        badPairs = true;
        return false;
      }
    }
    if (const std::string why = builder.mismatch(r.frame->atomicNumbers); !why.empty()) {
      r.ok = false;
      r.diagnostic = printable(errorLine(name, 0, "not a frame of the series, skipped: " + why));
      o.skipped.emplace_back(options.files[i], r.diagnostic);
      return true;
    }
    builder.add(std::move(*r.frame));
    r.frame.reset();
    return true;
  };
  o.status = runBatch(options, out, err, interrupted, sink);
  if (badPairs) {
    o.status = kStatusInputError;
    o.refusedBonds = true;
    return o;
  }
  o.series = builder.finish();
  if (o.series.frames() == 0) {
    err << "mirvante: no frame of the series could be analysed\n";
    o.status = kStatusStopped;
  }
  return o;
}

int runSeries(const BatchOptions& options, std::ostream& out, std::ostream& err,
              const volatile std::sig_atomic_t* interrupted) {
  SeriesOutcome o = collectSeries(options, out, err, interrupted);
  if (o.refusedBonds) return o.status;
  if (options.json)
    out << seriesJson(o.series) << '\n';
  else
    writeSeriesText(out, o.series);
  out.flush();
  int status = o.status;
  if (!options.plot.empty()) {
    std::ostringstream svg;
    writeSeriesSvg(svg, o.series);
    if (const int e = replaceFile(options.plot, svg.str()); e != 0) {
      err << printable(errorLine(options.plot, 0,
                                 std::string("cannot write the plot: ") + std::strerror(e)))
          << '\n';
      status = kStatusInputError;
    }
  }
  if (const int e = streamError(out); e != 0) {
    err << "mirvante: cannot write the report to standard output: " << std::strerror(e) << '\n';
    status = kStatusInputError;
  }
  return status;
}

}  // namespace mv
