#include "report/text_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "core/elements.h"
#include "report/format.h"

namespace mv {

namespace {

// Column headings of the total valences, as 4-character items.
const char* const kiir1[4] = {"  AT", "OM  ", "VALE", "NCE "};
const char* const kiir2[4] = {" ATO", "M   ", "VALE", "NCE "};

constexpr const char* kRowLayout = "(20(I3,A4,F8.5,4(I3,A4,1X,F8.5),/))";

// The texts joined (record layouts built from field widths).
std::string cat(std::initializer_list<std::string_view> parts) {
  std::string s;
  for (const std::string_view p : parts) s.append(p);
  return s;
}

int digits(long long n) {
  return static_cast<int>(std::to_string(n).size());
}

// The widest of the values written alone under F0.d (no field width).
int widest(const Vec1<double>& v, int decimals) {
  int w = 0;
  const std::string layout = cat({"(F0.", std::to_string(decimals), ")"});
  for (int k = 1; k <= v.size(); ++k)
    w = std::max(w, static_cast<int>(formatLayout(layout, {Item(v(k))}).size()) - 1);
  return w;
}

int widest(const Matrix& a, int n, int decimals) {
  int w = 0;
  const std::string layout = cat({"(F0.", std::to_string(decimals), ")"});
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i)
      w = std::max(w, static_cast<int>(formatLayout(layout, {Item(a(i, j))}).size()) - 1);
  return w;
}

// Widths of the atom-number and value fields of the valence tables: the
// classic I3 and F8.5 while they fit.  The number follows a value with no
// blank of its own, so it keeps one leading blank; the value follows a
// label that ends in a blank.
struct RowWidths {
  int number = 3;
  int value = 8;
};

RowWidths rowWidths(const Vec1<double>& values) {
  return {std::max(3, digits(values.size()) + 1), std::max(8, widest(values, 5))};
}

std::string rowLayout(const RowWidths& w) {
  const std::string i = cat({"I", std::to_string(w.number)});
  const std::string f = cat({"F", std::to_string(w.value), ".5"});
  return cat({"(20(", i, ",A4,", f, ",4(", i, ",A4,1X,", f, "),/))"});
}

}  // namespace

void TextReport::molecule(const Checkpoint& ck) {
  ghost_.clear();
  for (const std::string& note : ck.notes) writeFree(out_, {Item(" " + note)});
  if (!fit()) return;
  for (int a = 1; a <= ck.nuclearCharge.size(); ++a) ghost_.push_back(ck.nuclearCharge(a) == 0.0);
}

std::string TextReport::label(const Vec1<int>& ia, int a) const {
  const auto k = static_cast<std::size_t>(a - 1);
  return mend(k < ghost_.size() && ghost_[k] ? 0 : ia(a));
}

void TextReport::banner() {
  writeLayout(out_, "(1X,79(1H-))");
  writeLayout(out_, "(/,20X,'Program MIRVANTE, Version 1.00')");
  writeLayout(out_, "(20X,28(1H-),/)");
  writeLayout(out_, "(3X,'Calculating:')");
  writeLayout(out_, "(3X,'------------',/)");
  writeLayout(out_,
              "(5X,2H  ,' Conventional (Hilbert space) bond orders and',' valences',/,"
              "8X,'(Conventional bond-order method: see the original journal article on "
              "Hilbert-space bond orders)')");
  writeLayout(out_, "(5X,2H  ,' by using a new - but equivalent - formalism for',' ROHF case')");
  writeLayout(out_,
              "(5X,2H  ,' and an improved one for correlated systems.',/,"
              "8X,'(The author(s), to be published)',/)");
  writeLayout(out_, "(2X,' Cite this program as:')");
  writeLayout(out_, "(2X,' ---------------------')");
  writeLayout(
      out_,
      "(3X,'The MIRVANTE developers, Program \"MIRVANTE\", Version 1.00, Worldwide, 2026',/)");
  writeLayout(out_, "(1X,79(1H-))");
}

void TextReport::header(const Checkpoint& ck, bool spinNote) {
  // The title line as twenty 4-character words, then a three-blank record.
  Items words;
  words.reserve(20);
  for (std::size_t w = 0; w < 20; ++w) words.emplace_back(ck.title.substr(w * 4, 4));
  writeLayout(out_, "(20A4)", words);
  writeFree(out_, {Item("   ")});
  if (!ck.calc.plain)
    writeLayout(
        out_,
        "(/,/,10X,'The calculation was other than plain RHF/UHF ',/,/,' (In the DFT case the "
        "single determinant built up of',' the Kohn-Sham orbitals',/,' will be used.)',/,/)");
  if (spinNote) {
    if (ck.sameSpinOrbitals)
      writeFree(out_,
                {Item(" Identical alpha and beta orbitals (a restricted wave function "
                      "written with beta orbitals): spin term from the file's spin density")});
    else if (ck.format == FileFormat::Molden || ck.densityFromOrbitals)
      writeFree(out_, {Item(" Spin-unrestricted wave function: spin term from the alpha and beta "
                            "orbitals")});
    else if (ck.scfDensity())
      writeFree(out_,
                {Item(" Spin-unrestricted wave function: spin term from the file's spin density")});
    else
      writeFree(out_, {Item(" Spin-unrestricted wave function: square-root term from the "
                            "total density")});
  }
}

void TextReport::densitySelection(const Checkpoint& ck) {
  if (ck.densityFromOrbitals) {
    writeFree(out_, {Item(" The file holds no total density: the density of the occupied "
                          "orbitals is analysed")});
    return;
  }
  if (ck.ndens != 1)
    writeFree(out_, {Item("Using the "), Item(ck.analysedIndex()),
                     Item("-d/th density in the checkpoint file")});
  if (!ck.calc.plain && ck.ndens == 1) {
    writeLayout(out_,
                "(' There is only a single density in',' the checkpoint file - it is used.')");
    if (ck.densityLabel.substr(4, 4) == "l SC" && ck.densityLabel.substr(8, 4) == "F De")
      writeLayout(out_, "(' (Only the SCF density ?)')");
    writeFree(out_, {Item(" ")});
    writeFree(out_, {Item(" ")});
  }
}

void TextReport::primitiveShells(const Checkpoint& ck) {
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item("Number of primitive shells:"), Item(ck.shells.primitives)});
}

void TextReport::occupation(const Checkpoint& ck) {
  writeFree(out_, {Item("nocc:"), Item(ck.electrons / 2), Item("    nalpha:"), Item(ck.nalpha),
                   Item("    nbeta:"), Item(ck.nbeta)});
  writeFree(out_, {Item(" ")});
  if (!ck.hasEnergy) return;
  if (ck.calc.plain)
    writeFree(out_, {Item(" E(SCF)="), Item(ck.escf)});
  else
    writeFree(out_, {Item(" E(SCF/DFT)="), Item(ck.escf)});
  writeFree(out_, {Item(" ")});
}

void TextReport::counts(int natoms, long long primitives, int nbf) {
  writeFree(out_, {Item("Number of atoms:"), Item(natoms)});
  writeFree(out_, {Item("Number of primitives:"), Item(primitives)});
  writeFree(out_, {Item("Number of basis functions:"), Item(nbf)});
}

void TextReport::partition(const Partition& p) {
  writeFree(out_, {Item("   ")});
  writeFree(out_, {Item(p.natoms), Item(" ATOMS, "), Item(p.pairs), Item(" ATOMIC PAIRS")});
}

void TextReport::convention(const OrbitalConvention& c) {
  char dev[32];
  std::snprintf(dev, sizeof dev, "%.1E", c.deviation);
  writeFree(out_, {Item(" Orbital convention: " + c.name + " (C^T S C = 1 within " + dev + ")")});
}

void TextReport::densityCheck(const DensityCheck& d) {
  if (!d.repaired()) return;
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(" WRONG DENSITY  (Trace of DS="), Item(d.trace), Item(")")});
  switch (d.outcome) {
    case DensityOutcome::Rebuilt:
    case DensityOutcome::Irrecoverable:
    case DensityOutcome::RebuildRefused:
      writeFree(out_, {Item(" ")});
      writeFree(out_, {Item(" ROHF case")});
      writeFree(out_,
                {Item("Density and spin-density will be re-built by using"), Item(" the MO-s")});
      if (d.outcome == DensityOutcome::RebuildRefused) return;
      writeFree(out_, {Item(" ")});
      if (d.outcome == DensityOutcome::Rebuilt)
        writeFree(out_, {Item("Now correct density and spin density  (Traces="), Item(d.totalTrace),
                         Item(d.spinTrace), Item(")")});
      else
        writeFree(out_, {Item("Irrecoverable case"), Item(d.totalTrace), Item(d.spinTrace)});
      return;
    case DensityOutcome::Reread:
    case DensityOutcome::WrongAfterReread:
      writeFree(out_, {Item("Different data order. Rereading the"), Item(d.ndens),
                       Item("-d/th density of the checkpoint file")});
      if (d.outcome == DensityOutcome::WrongAfterReread) {
        writeFree(out_, {Item(" *** "), Item(d.totalTrace)});
        writeFree(out_, {Item(" WRONG DENSITY.  STOP. ")});
      }
      return;
    case DensityOutcome::Accepted:
      return;
  }
}

void TextReport::populations(const Populations& p) {
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(" Mulliken populations")});
  writeFree(out_, {Item("---------------------")});
  std::string layout = "(I5,F15.10)";
  if (fit())
    layout = cat({"(I", std::to_string(std::max(5, digits(p.qat.size()))), ",F",
                  std::to_string(std::max(15, widest(p.qat, 10) + 1)), ".10)"});
  for (int a = 1; a <= p.qat.size(); ++a) writeLayout(out_, layout, {Item(a), Item(p.qat(a))});
  writeFree(out_, {Item("---------------------")});
  writeLayout(out_, "(' SUM= ',F14.7)", {Item(p.total)});
  writeFree(out_, {Item(" ")});
}

void TextReport::unpaired(const BondOrders& b) {
  writeLayout(out_, "(' Number of effectively unpaired electrons=',F10.6)", {Item(b.unpaired)});
}

void TextReport::hermiticity(const BondOrders& b) {
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(" Hermiticity control="), Item(b.hermiticity)});
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(" Trace="), Item(b.trace)});
}

void TextReport::bondMatrix(const BondOrders& b, const Vec1<int>& ia) {
  writeLayout(out_, "(1X,/,11X,'   BOND ORDER MATRIX',/,/)");
  const int n = b.bonds.rows();
  if (!options_.fullMatrix && n > ReportOptions::kMatrixAtoms) {
    // A large matrix buries the rest of the report; the bond list below
    // gives the bonds, the JSON output every pair.
    writeFree(out_, {Item(" Not printed for " + std::to_string(n) + " atoms (more than " +
                          std::to_string(ReportOptions::kMatrixAtoms) +
                          "): the bonds are listed at the end of the report.")});
    writeFree(out_,
              {Item(" --matrix prints the matrix, --json writes it in full (\"bond_orders\").")});
    return;
  }
  mprint(b.bonds, n, ia);
}

// One row table: atom number, element label and one value per atom.
void TextReport::rows(const Vec1<double>& values, const Vec1<int>& ia) {
  Items items;
  for (int a = 1; a <= values.size(); ++a) {
    items.emplace_back(a);
    items.emplace_back(label(ia, a));
    items.emplace_back(values(a));
  }
  writeLayout(out_, fit() ? rowLayout(rowWidths(values)) : std::string(kRowLayout), items);
}

void TextReport::totalValences(const BondOrders& b, const Vec1<int>& ia) {
  writeLayout(out_, "(/,/,11X,'TOTAL VALENCES',/)");
  Items labels;
  const int nat = b.total.size();
  const int m = nat < 5 ? nat : 5;
  if (fit()) {
    // The classic headings, moved right by the room the columns gained.
    const RowWidths w = rowWidths(b.total);
    const std::string number(static_cast<std::size_t>(w.number - 3), ' ');
    const std::string value(static_cast<std::size_t>(w.value - 8), ' ');
    std::string head;
    for (int c = 1; c <= m; ++c)
      head += number + (c == 1 ? "  ATOM  " : " ATOM   ") + value + "VALENCE ";
    writeLayout(out_, "(A)", {Item(head)});
  } else {
    for (const char* part : kiir1) labels.emplace_back(part);
    for (int c = 2; c <= m; ++c)
      for (const char* part : kiir2) labels.emplace_back(part);
    writeLayout(out_, "(20A4)", labels);
  }
  rows(b.total, ia);
}

void TextReport::usedValences(const BondOrders& b, const Vec1<int>& ia) {
  writeLayout(out_, "(/,/,11X,'VALENCES USED IN BONDS (SUM OF BOND ORDERS)',/)");
  rows(b.used, ia);
}

void TextReport::freeValences(const BondOrders& b, const Vec1<int>& ia) {
  writeLayout(out_, "(/,/,11X,'FREE VALENCES',/)");
  writeFree(out_, {Item(" (In the closed shell RHF case should be zero)")});
  writeFree(out_, {Item(" ")});
  rows(b.free, ia);
}

void TextReport::stop(const Stop& s) {
  for (const std::string& r : s.records) writeFree(out_, {Item(r)});
}

void TextReport::mprint(const Matrix& a, int n, const Vec1<int>& ia) {
  std::string headLayout = "(10X,8(1X,I3,A4,1X))", rowLayout = "(1X,I3,A4,8F9.4)";
  if (fit()) {
    // Atom numbers as wide as the largest; each column as wide as its
    // widest value plus a blank, and at least as wide as its heading.
    const int number = std::max(3, digits(n));
    const int value = std::max({9, widest(a, n, 4) + 1, number + 6});
    const std::string i = cat({"I", std::to_string(number)});
    headLayout = cat({"(", std::to_string(10 + number - 3), "X,8(",
                      std::to_string(value - number - 5), "X,", i, ",A4,1X))"});
    rowLayout = cat({"(1X,", i, ",A4,8F", std::to_string(value), ".4)"});
  }
  for (int j1 = 1; j1 <= n; j1 += 8) {
    const int j2 = std::min(n, j1 + 7);
    Items head;
    for (int j = j1; j <= j2; ++j) {
      head.emplace_back(j);
      head.emplace_back(label(ia, j));
    }
    writeLayout(out_, headLayout, head);
    writeLayout(out_, "(1X)");
    for (int i = 1; i <= n; ++i) {
      Items row{Item(i), Item(label(ia, i))};
      for (int j = j1; j <= j2; ++j) row.emplace_back(a(i, j));
      writeLayout(out_, rowLayout, row);
    }
    if (j2 < n) writeLayout(out_, "(1X,/,/,/)");
  }
}

// ------------------------------------------------ sections of the command line

namespace {

// "%.*f" of x: the text that an F field of d decimals holds.
std::string fixedText(double x, int d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", d, x);
  return buf;
}

// Width of a column of numbers with d decimals under a heading: the widest
// of them and of the heading, and two blanks before it, so that columns
// stay apart however large their numbers grow.
int columnWidth(const std::vector<double>& values, int d, std::string_view heading) {
  std::size_t w = heading.size();
  for (double x : values) w = std::max(w, fixedText(x, d).size());
  return static_cast<int>(w) + 2;
}

// `text` right-justified in w columns.
std::string rightJustified(std::string_view text, int w) {
  const auto width = static_cast<std::size_t>(w);
  std::string out(width > text.size() ? width - text.size() : 0, ' ');
  return out.append(text);
}

// Columns of the atom labels: the atom number in wi columns and the element
// symbol as in the classic tables ("  1  C ").
int indexWidth(int natoms) {
  return std::max(3, static_cast<int>(std::to_string(natoms).size()) + 1);
}

std::string atomLayout(int wi) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "I%d,A4", wi);
  return buf;
}

std::string numberLayout(int w, int d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, ",F%d.%d", w, d);
  return buf;
}

}  // namespace

void TextReport::charges(const Checkpoint& ck, const Populations& pop, const SpinPopulations* spin,
                         SpinSource source, const LowdinAnalysis* lowdin) {
  constexpr int kDecimals = 5;
  const int nat = pop.qat.size();
  const int wi = indexWidth(nat);
  // The columns and their sums, in ascending atom order.
  std::vector<std::vector<double>> columns;
  std::vector<std::string> headings;
  auto addColumn = [&](std::string heading, auto valueOf) {
    std::vector<double> v(static_cast<std::size_t>(nat) + 1, 0.0);
    double sum = 0.0;
    for (int a = 1; a <= nat; ++a) {
      v[static_cast<std::size_t>(a) - 1] = valueOf(a);
      sum += v[static_cast<std::size_t>(a) - 1];
    }
    v.back() = sum;
    columns.push_back(std::move(v));
    headings.push_back(std::move(heading));
  };
  addColumn("MULLIKEN", [&](int a) { return ck.nuclearCharge(a) - pop.qat(a); });
  if (spin != nullptr) addColumn("SPIN", [&](int a) { return spin->atom(a); });
  if (lowdin != nullptr)
    addColumn("LOWDIN", [&](int a) { return ck.nuclearCharge(a) - lowdin->population(a); });

  std::vector<int> widths;
  std::string layout = "(1X," + atomLayout(wi);
  std::string heading = " " + rightJustified("ATOM", wi + 1) + "   ";
  for (std::size_t c = 0; c < columns.size(); ++c) {
    widths.push_back(columnWidth(columns[c], kDecimals, headings[c]));
    layout += numberLayout(widths.back(), kDecimals);
    heading += rightJustified(headings[c], widths.back());
  }
  layout += ")";

  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(spin != nullptr ? "          ATOMIC CHARGES AND SPIN POPULATIONS"
                                        : "          ATOMIC CHARGES")});
  writeFree(out_, {Item(" ")});
  writeLayout(out_, "(A)", {Item(heading)});
  for (int a = 1; a <= nat; ++a) {
    Items row{Item(a), Item(mend(ck.atomicNumber(a)))};
    for (const std::vector<double>& v : columns)
      row.emplace_back(v[static_cast<std::size_t>(a) - 1]);
    writeLayout(out_, layout, row);
  }
  std::string sumLayout = "(1X,A" + std::to_string(wi + 4);
  Items sums{Item(rightJustified("SUM", wi) + "    ")};
  for (std::size_t c = 0; c < columns.size(); ++c) {
    sumLayout += numberLayout(widths[c], kDecimals);
    sums.emplace_back(columns[c].back());
  }
  writeLayout(out_, sumLayout + ")", sums);

  // Where the spin populations come from, or why an open shell has none.
  const bool open = ck.unrestricted() || ck.nalpha != ck.nbeta;
  if (!open) return;
  writeFree(out_, {Item(" ")});
  switch (source) {
    case SpinSource::File:
      if (ck.format == FileFormat::Arrays)
        writeFree(out_, {Item(" Spin populations of the spin density given;")});
      else
        writeFree(out_, {Item(" Spin populations of the file's spin density ('" +
                              sectionName(ck.spinLabel) + "');")});
      break;
    case SpinSource::Orbitals:
      writeFree(out_, {Item(" Spin populations of the singly occupied orbitals (restricted "
                            "open shell);")});
      break;
    case SpinSource::None:
      writeFree(out_, {Item(" No spin populations: the file holds no spin density for the '" +
                            ck.densityName() + "'.")});
      return;
  }
  writeFree(out_, {Item(" they add up to nalpha - nbeta = " + std::to_string(ck.nalpha - ck.nbeta) +
                        ".")});
}

void TextReport::bondList(const Checkpoint& ck, const BondOrders& b, const LowdinAnalysis* lowdin) {
  constexpr int kDecimals = 4;
  const int nat = b.bonds.rows();
  const int wi = indexWidth(nat);
  struct Pair {
    int a, c;
  };
  std::vector<Pair> pairs;
  for (int a = 1; a <= nat; ++a)
    for (int c = a + 1; c <= nat; ++c)
      if (b.bonds(a, c) >= options_.minBond) pairs.push_back({a, c});
  // By decreasing bond order as printed; pairs that print the same order
  // (equivalent bonds, which differ in the last digits) in row order.
  auto printed = [&](const Pair& p) { return std::round(b.bonds(p.a, p.c) * 1e4); };
  std::stable_sort(pairs.begin(), pairs.end(),
                   [&](const Pair& x, const Pair& y) { return printed(x) > printed(y); });

  char threshold[32];
  std::snprintf(threshold, sizeof threshold, "%.10g", options_.minBond);
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(" ")});
  writeFree(out_, {Item(std::string("          BONDS WITH ORDER >= ") + threshold)});
  writeFree(out_, {Item(" ")});
  if (pairs.empty()) {
    writeFree(out_, {Item(std::string(" No pair of atoms has a bond order of ") + threshold +
                          " or more.")});
    return;
  }

  std::vector<std::vector<double>> columns(lowdin != nullptr ? 3 : 2);
  std::vector<std::string> headings{"BOND ORDER"};
  if (lowdin != nullptr) headings.emplace_back("WIBERG-LOWDIN");
  headings.emplace_back("DISTANCE/A");
  for (const Pair& p : pairs) {
    std::size_t c = 0;
    columns[c++].push_back(b.bonds(p.a, p.c));
    if (lowdin != nullptr) columns[c++].push_back(lowdin->wiberg(p.a, p.c));
    double r2 = 0.0;
    for (int k = 1; k <= 3; ++k) {
      const double d = ck.coords(k, p.a) - ck.coords(k, p.c);
      r2 += d * d;
    }
    columns[c].push_back(std::sqrt(r2) * kBohrInAngstrom);
  }
  std::string layout = "(1X," + atomLayout(wi) + "," + atomLayout(wi);
  std::string heading =
      " " + rightJustified("ATOM", wi + 1) + "   " + rightJustified("ATOM", wi + 1) + "   ";
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const int w = columnWidth(columns[c], kDecimals, headings[c]);
    layout += numberLayout(w, kDecimals);
    heading += rightJustified(headings[c], w);
  }
  layout += ")";
  writeLayout(out_, "(A)", {Item(heading)});
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const Pair& p = pairs[k];
    Items row{Item(p.a), Item(mend(ck.atomicNumber(p.a))), Item(p.c),
              Item(mend(ck.atomicNumber(p.c)))};
    for (const std::vector<double>& v : columns) row.emplace_back(v[k]);
    writeLayout(out_, layout, row);
  }
}

}  // namespace mv
