// Fuzz target: the whole pipeline, in-process, on arbitrary bytes as the
// checkpoint file (or, when they begin as one, the Molden, .wfn, .wfx or
// .mwfn file, which the command line alone reads).  Every
// input is analysed twice, as the no-argument run and
// as the command line, each in a fresh run of its own (its own results and
// report, nothing shared with the previous input).  It must end in a complete
// report with finite numbers, or in a stop; anything else (a crash, a
// sanitizer report, a non-finite number in a complete report) is a finding.
// A complete analysis of the command line (an "ok" result) must moreover
// hold only finite numbers within the ranges a possible density allows: the
// populations add up to the electron count within the density check's 0.1,
// and the effectively unpaired electrons, the sum of n(2 - n) over the
// natural occupations n in [-0.1, 2.1], lie within [-0.21, 1] per function.
//
// Besides libFuzzer's byte-level mutations, a line-aware mutator edits the
// file the way damaged checkpoint files differ from good ones: numbers
// replaced by extreme or meaningless values, lines deleted, repeated or
// swapped, counts on the scalar lines changed, the file cut short.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/pipeline.h"
#include "checkpoint/detect.h"
#include "checkpoint/text.h"
#include "core/stop.h"
#include "report/text_report.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

// Values that damaged files hold where numbers belong.
// clang-format off
const char* const kValues[] = {
    "0", "-0.0", "-1", "1", "2", "3", "4", "-4", "21", "27", "500", "501", "2001", "999999",
    "99999999", "2147483647", "-2147483648", "1.0E+308", "1.0E+154", "1.0E+100", "1.0E-300",
    "4.9E-324", "-1.0E+308", "1.0E+309", "NaN", "Inf", "-Infinity", "abc", "1.5D-3",
    "0.12345678-100", "1*", "3*0.0", ",", "/", "-3", "-2", "-1.0", "1.00000000E+03", "1.0E+20",
    "0.5", "10", "100"};
// clang-format on

using Lines = std::vector<std::string>;

Lines splitLines(std::string_view t) {
  Lines v;
  std::size_t s = 0;
  while (s < t.size()) {
    std::size_t e = t.find('\n', s);
    if (e == std::string_view::npos) e = t.size();
    v.emplace_back(t.substr(s, e - s));
    s = e + 1;
  }
  return v;
}

// A line-aware edit of the file; false when it does not apply.
bool editLines(std::string& text, std::minstd_rand& rng) {
  Lines ls = splitLines(text);
  if (ls.empty()) return false;
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  const std::size_t k = pick(ls.size());
  const std::string value = kValues[pick(sizeof kValues / sizeof kValues[0])];
  switch (rng() % 7) {
    case 0:
    case 1: {  // a number token replaced, right-aligned at its last column
      std::string& l = ls[k];
      std::vector<std::pair<std::size_t, std::size_t>> tok;
      for (std::size_t p = 0; (p = l.find_first_not_of(' ', p)) != std::string::npos;) {
        std::size_t e = l.find(' ', p);
        if (e == std::string::npos) e = l.size();
        tok.emplace_back(p, e);
        p = e;
      }
      if (tok.empty()) return false;
      const auto [b, e] = tok[pick(tok.size())];
      std::string nv = value;
      if (nv.size() < e - b) nv.insert(0, e - b - nv.size(), ' ');
      l.replace(b, e - b, nv);
      break;
    }
    case 2:  // the count on a scalar label line
      if (ls[k].size() < 44) return false;
      ls[k] =
          ls[k].substr(0, 49) + std::string(value.size() < 12 ? 12 - value.size() : 0, ' ') + value;
      break;
    case 3:
      ls.erase(ls.begin() + static_cast<std::ptrdiff_t>(k));
      break;
    case 4:
      ls.insert(ls.begin() + static_cast<std::ptrdiff_t>(k), ls[pick(ls.size())]);
      break;
    case 5:
      std::swap(ls[k], ls[pick(ls.size())]);
      break;
    default:
      ls.resize(k);
      break;
  }
  text.clear();
  for (const auto& l : ls) text += l + '\n';
  return true;
}

bool finite(const mv::Vec1<double>& v) {
  for (int i = 1; i <= v.size(); ++i)
    if (!std::isfinite(v(i))) return false;
  return true;
}

// The command line's analysis of the input: a complete one is an "ok"
// result, whose numbers must be finite and within range.
void commandLineRun(std::string_view text) {
  mv::RunResults r;
  mv::RunOptions o;
  o.limits = mv::Limits::commandLine();
  try {
    mv::FileFormat format = mv::FileFormat::Fchk;
    try {
      format = mv::detectFormat(text);
    } catch (const mv::Stop&) {
    }
    if (format == mv::FileFormat::Wfn || format == mv::FileFormat::Wfx ||
        format == mv::FileFormat::Mwfn) {
      // As for Molden files: a few lines can announce a large basis.
      o.limits.basisFunctions = 300;
      mv::analyseWaveFile(text, "x.wfn", format, o, r, nullptr);
    } else {
      mv::analyse(mv::CheckpointText::fromString(text, "x.fchk"), o, r, nullptr);
    }
  } catch (const mv::Stop&) {
    return;
  }
  if (!r.complete) return;
  const mv::BondOrders& b = r.bonds;
  const int nbf = r.ck.nbf;
  const int natoms = b.bonds.rows();
  bool ok = finite(r.populations.qat) && std::isfinite(r.populations.total) &&
            std::isfinite(b.unpaired) && finite(b.total) && finite(b.used) && finite(b.free);
  for (int i = 1; i <= natoms && ok; ++i)
    for (int j = 1; j <= natoms; ++j) ok = ok && std::isfinite(b.bonds(i, j));
  const double tolerance = 1e-6 * (1 + nbf);
  ok = ok && std::fabs(r.populations.total - (r.ck.nalpha + r.ck.nbeta)) <= 0.1 + tolerance;
  ok = ok && b.unpaired >= -0.21 * nbf - tolerance && b.unpaired <= nbf + tolerance;
  if (!ok) std::abort();
}

// A Molden file cut at every line boundary, as a file whose writing was
// interrupted: every cut must end in a stop or a complete analysis, and a
// cut that ends inside an orbital (the first line cut off is a coefficient
// line after the first of an orbital) must be refused, never analysed as
// a smaller molecule.  Files of many lines are cut at some of them only.
void moldenCuts(std::string_view bytes) {
  std::vector<std::size_t> ends;  // the offset after each line feed
  for (std::size_t p = bytes.find('\n'); p != std::string_view::npos; p = bytes.find('\n', p + 1))
    ends.push_back(p + 1);
  const std::size_t step = ends.size() / 200 + 1;
  for (std::size_t k = 0; k < ends.size(); k += step) {
    const std::string_view cut = bytes.substr(0, ends[k]);
    const std::string_view rest = bytes.substr(ends[k]);
    const std::string_view next = rest.substr(0, rest.find('\n'));
    // A coefficient line: a function number above 1 and a value.
    long function = 0;
    char value[2] = {0, 0};
    const bool insideOrbital =
        std::sscanf(std::string(next).c_str(), " %ld %1s", &function, value) == 2 && function > 1 &&
        next.find('=') == std::string_view::npos;
    mv::RunResults r;
    mv::RunOptions options;
    options.limits = mv::Limits::commandLine();
    options.limits.basisFunctions = 300;
    try {
      mv::analyseMolden(cut, "cut.molden", options, r, nullptr);
    } catch (const mv::Stop&) {
      continue;
    }
    if (insideOrbital && r.complete) std::abort();
    const int n = r.ck.nalpha + r.ck.nbeta;
    if (r.complete && !(std::fabs(r.populations.total - n) <= 1e-4 * n)) std::abort();
  }
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
  std::minstd_rand rng(seed);
  if (rng() % 2 == 0) return LLVMFuzzerMutate(data, size, maxSize);
  std::string text(reinterpret_cast<const char*>(data), size);
  if (!editLines(text, rng) || text.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  std::memcpy(data, text.data(), text.size());
  return text.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::ostringstream out;
  mv::TextReport report(out);
  mv::RunResults results;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bool molden = false;
  try {
    report.banner();
    // A Molden file goes the command line's way (the no-argument run reads
    // formatted checkpoint files only); anything else to the classic run.
    try {
      molden = mv::detectFormat(bytes) == mv::FileFormat::Molden;
    } catch (const mv::Stop&) {
    }
    if (molden) {
      // A few lines of a Molden file can announce thousands of functions,
      // whose analysis takes minutes; the fuzzer looks for faults, not
      // large bases.
      mv::RunOptions options;
      options.limits = mv::Limits::commandLine();
      options.limits.basisFunctions = 300;
      mv::analyseMolden(bytes, "fuzz.molden", options, results, &report);
    } else {
      mv::analyse(mv::CheckpointText::fromString(bytes, "Test.FChk"), mv::RunOptions(), results,
                  &report);
    }
  } catch (const mv::Stop& s) {
    report.stop(s);
  }
  commandLineRun(std::string_view(reinterpret_cast<const char*>(data), size));
  if (molden) moldenCuts(bytes);
  if (results.complete) {
    // Only the analysis part: the echoed title line may hold any text.
    const std::string all = out.str();
    const std::size_t at = all.find("Mulliken populations");
    const std::string rep = at == std::string::npos ? all : all.substr(at);
    // A complete report never prints a non-finite number.
    if (rep.find("nan") != std::string::npos || rep.find("NAN") != std::string::npos ||
        rep.find("NaN") != std::string::npos || rep.find("INF") != std::string::npos ||
        rep.find("inf") != std::string::npos)
      std::abort();
  }
  return 0;
}
