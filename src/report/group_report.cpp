// The report's sections on groups of atoms: the fragments and the bond
// orders between them, and the multicentre bond indices of rings.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/elements.h"
#include "report/format.h"
#include "report/text_report.h"

namespace mv {

namespace {

// x with d decimals; a value that rounds to zero has no sign.
std::string fixed(double x, int d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", d, x);
  if (buf[0] == '-' && std::string_view(buf + 1).find_first_not_of("0.") == std::string_view::npos)
    return buf + 1;
  return buf;
}

std::string padLeft(const std::string& text, std::size_t w) {
  std::string out(w > text.size() ? w - text.size() : 0, ' ');
  out += text;
  return out;
}

// Two blanks, then the widest of the texts and the heading.
std::size_t widthOf(const std::vector<std::string>& texts, const std::string& heading) {
  std::size_t w = heading.size();
  for (const std::string& t : texts) w = std::max(w, t.size());
  return w + 2;
}

constexpr int kDecimals = 5;

}  // namespace

void TextReport::sectionTitle(const std::string& title) {
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(" ")});
  std::string record(10, ' ');
  record += title;
  writeFree(out_, {Item(record)});
  writeFree(out_, {Item(" ")});
}

void TextReport::fragmentMatrix(const std::string& title, const Matrix& m, int nf) {
  sectionTitle(title);
  std::vector<std::string> cells;
  for (int j = 1; j <= nf; ++j)
    for (int i = 1; i <= nf; ++i) cells.push_back(fixed(m(i, j), kDecimals));
  const std::size_t wi = std::max<std::size_t>(9, std::to_string(nf).size() + 1);
  const std::size_t w = widthOf(cells, std::to_string(nf));
  for (int j1 = 1; j1 <= nf; j1 += 8) {
    const int j2 = std::min(nf, j1 + 7);
    std::string head(wi + 1, ' ');
    for (int j = j1; j <= j2; ++j) head += padLeft(std::to_string(j), w);
    out_ << head << '\n';
    for (int i = 1; i <= nf; ++i) {
      std::string row(1, ' ');
      row += padLeft(std::to_string(i), wi);
      for (int j = j1; j <= j2; ++j) row += padLeft(fixed(m(i, j), kDecimals), w);
      out_ << row << '\n';
    }
    if (j2 < nf) out_ << " \n";
  }
}

void TextReport::fragments(const FragmentAnalysis& f) {
  const int nf = f.count();
  const bool spin = f.spin.size() > 0;
  std::vector<std::string> charge, spins, valence;
  double sumCharge = 0.0, sumSpin = 0.0, sumValence = 0.0;
  for (int k = 1; k <= nf; ++k) {
    charge.push_back(fixed(f.charge(k), kDecimals));
    sumCharge += f.charge(k);
    if (spin) {
      spins.push_back(fixed(f.spin(k), kDecimals));
      sumSpin += f.spin(k);
    }
    valence.push_back(fixed(f.valence(k), kDecimals));
    sumValence += f.valence(k);
  }
  charge.push_back(fixed(sumCharge, kDecimals));
  if (spin) spins.push_back(fixed(sumSpin, kDecimals));
  valence.push_back(fixed(sumValence, kDecimals));

  const std::size_t wi = std::max<std::size_t>(9, std::to_string(nf).size() + 1);
  const std::size_t wc = widthOf(charge, "MULLIKEN");
  const std::size_t ws = spin ? widthOf(spins, "SPIN") : 0;
  const std::size_t wv = widthOf(valence, "VALENCE");
  sectionTitle("FRAGMENTS");
  out_ << " " << padLeft("FRAGMENT", wi) << padLeft("MULLIKEN", wc)
       << (spin ? padLeft("SPIN", ws) : "") << padLeft("VALENCE", wv) << "   ATOMS\n";
  for (int k = 1; k <= nf + 1; ++k) {
    const auto i = static_cast<std::size_t>(k - 1);
    const bool sum = k > nf;
    out_ << " " << padLeft(sum ? "SUM" : std::to_string(k), wi) << padLeft(charge[i], wc)
         << (spin ? padLeft(spins[i], ws) : "") << padLeft(valence[i], wv);
    if (!sum) out_ << "   " << atomRangesText(f.atoms[i]);
    out_ << '\n';
  }
  fragmentMatrix("BOND ORDERS BETWEEN FRAGMENTS", f.bonds, nf);
  if (!f.alpha.empty()) {
    fragmentMatrix("ALPHA PARTS OF THE BOND ORDERS BETWEEN FRAGMENTS", f.alpha, nf);
    fragmentMatrix("BETA PARTS OF THE BOND ORDERS BETWEEN FRAGMENTS", f.beta, nf);
  }
  if (!f.wiberg.empty()) fragmentMatrix("WIBERG-LOWDIN INDICES BETWEEN FRAGMENTS", f.wiberg, nf);
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(" The diagonal sums the pairs inside a fragment, each pair once.")});
}

void TextReport::multicenter(const Checkpoint& ck, const MulticenterAnalysis& m) {
  constexpr int kIndexDecimals = 6;
  sectionTitle("MULTICENTER BOND INDICES");
  switch (m.formula) {
    case MulticenterFormula::ClosedShell:
      writeFree(out_, {Item(" Closed-shell determinant: I = trace(PS[A1,A2] PS[A2,A3] ... "
                            "PS[An,A1]).")});
      break;
    case MulticenterFormula::SpinResolved:
      writeFree(out_, {Item(" Open-shell determinant: I = 2**(n-1) (C(Pa S) + C(Pb S)), C(M) = "
                            "trace(M[A1,A2] ... M[An,A1]).")});
      break;
    case MulticenterFormula::TotalDensity:
      writeFree(out_, {Item(" Correlated density: I = trace(PS[A1,A2] ... PS[An,A1]) of the total"
                            " density, without a")});
      writeFree(out_, {Item(" square-root term; for two atoms it is the first term of the bond "
                            "order only.")});
      break;
  }
  writeFree(out_, {Item(" Normalized index: sign(I) |I|**(1/n) for a ring of n atoms.")});
  writeFree(out_, {Item(" ")});
  std::vector<std::string> index, normalized;
  for (const MulticenterIndex& r : m.rings) {
    index.push_back(fixed(r.index, kIndexDecimals));
    normalized.push_back(fixed(r.normalized, kIndexDecimals));
  }
  const std::size_t wr = std::max<std::size_t>(6, std::to_string(m.rings.size()).size() + 1);
  const std::size_t wx = widthOf(index, "INDEX");
  const std::size_t wn = widthOf(normalized, "NORMALIZED");
  out_ << " " << padLeft("RING", wr) << padLeft("INDEX", wx) << padLeft("NORMALIZED", wn)
       << "   ATOMS\n";
  for (std::size_t k = 0; k < m.rings.size(); ++k) {
    std::string atoms;
    for (const int a : m.rings[k].atoms) {
      if (!atoms.empty()) atoms += ' ';
      atoms +=
          ck.nuclearCharge(a) == 0.0 ? std::string_view("Bq") : elementSymbol(ck.atomicNumber(a));
      atoms += std::to_string(a);
    }
    out_ << " " << padLeft(std::to_string(k + 1), wr) << padLeft(index[k], wx)
         << padLeft(normalized[k], wn) << "   " << atoms << '\n';
  }
}

}  // namespace mv
