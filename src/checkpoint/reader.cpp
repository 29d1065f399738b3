#include "checkpoint/reader.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "checkpoint/freeformat.h"
#include "core/memory.h"
#include "core/stop.h"

namespace mv {

namespace {

// Labels of the sections, as compared with the start of a line.
constexpr std::string_view numat = "Number of atoms ";
constexpr std::string_view numel = "Number of electr";
constexpr std::string_view numa = "Number of alpha ";
constexpr std::string_view numb = "Number of beta e";
constexpr std::string_view numbf = "Number of basis ";
constexpr std::string_view numcs = "Number of contra";
constexpr std::string_view nhang = "Highest angular ";
constexpr std::string_view ndegr = "Largest degree o";
constexpr std::string_view numps = "Number of primitive shel";
constexpr std::string_view numet = "SCF Energy  ";
constexpr std::string_view iatnm = "Atomic numbe";
constexpr std::string_view nucch = "Nuclear charges ";
constexpr std::string_view icart = "Current cartesia";
constexpr std::string_view ishty = "Shell types ";
constexpr std::string_view npons = "Number of primitives per";
constexpr std::string_view mstat = "Shell to atom ma";
constexpr std::string_view nprex = "Primitive expone";
constexpr std::string_view ncncf = "Contraction coef";
constexpr std::string_view nspcf = "P(S=P) Contracti";
constexpr std::string_view ncosh = "Coordinates of e";
constexpr std::string_view mocal = "Alpha MO coeffic";
constexpr std::string_view mocbe = "Beta MO coeffici";
constexpr std::string_view itot = "Tota";
// Methods of the calculation line (characters 9 to 16) that are plain SCF.
constexpr std::string_view methodr = "  RHF   ";
constexpr std::string_view methodu = "  UHF   ";
// The restricted open-shell method, in characters 9 to 16 of any line.
constexpr std::string_view irohf = "  ROHF  ";

// Text of a real for a refusal message.
std::string realText(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x < 0 ? "-Infinity" : "Infinity";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.10G", x);
  return buf;
}

// A count read from the file must be neither negative nor beyond the table
// it sizes.
void checkCount(int value, const char* name, int limit) {
  if (value < 0)
    refuse(std::string(" ") + name + " " + std::to_string(value) + " is negative", kCodeBadIndex);
  if (Limits::beyond(value, limit))
    refuse(std::string(" ") + name + " " + std::to_string(value) + " exceeds the limit of " +
               std::to_string(limit),
           kCodeLimit);
}

// Every value of a section must be a finite number.
void checkFinite(const double* v, long long n, std::string_view name, int line) {
  for (long long k = 0; k < n; ++k)
    if (!std::isfinite(v[k]))
      refuse(" Section '" + std::string(name) +
                 "' holds a value that is not a finite number: " + realText(v[k]),
             kCodeBadValue, line);
}

// Memory the analysis of n basis functions and a atoms needs at its peak:
// about ten n by n matrices and the bond-order tables.
std::uint64_t analysisBytes(int n, int a) {
  const auto nn = static_cast<std::uint64_t>(n) * static_cast<std::uint64_t>(n);
  const auto aa = static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(a);
  return 10 * nn * sizeof(double) + 2 * aa * sizeof(double);
}

}  // namespace

std::string trimBlanks(std::string_view s) {
  const std::size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return "";
  const std::size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::string sectionName(std::string_view labelLine) {
  std::string_view l = labelLine.substr(0, 40);
  while (!l.empty() && l.back() == ' ') l.remove_suffix(1);
  return std::string(l);
}

std::string Checkpoint::densityName() const {
  return sectionName(densityLabel);
}

bool Checkpoint::scfDensity() const {
  return densityName() == "Total SCF Density";
}

int Checkpoint::lineOf(const std::string& label) const {
  for (const Section& s : sections)
    if (s.label == label) return s.line;
  return 0;
}

CheckpointReader::CheckpointReader(const CheckpointText& text, const Limits& limits, Checkpoint& ck)
    : t_(text), limits_(limits), ck_(ck) {
  ck_.name = text.name();
}

void CheckpointReader::readError(std::string_view section, int line, const std::string& detail) {
  inputError(t_.name(), line, "section '" + std::string(section) + "': " + detail);
}

int CheckpointReader::find(std::string_view label) {
  const int nl = t_.lineCount();
  for (int k = 1; k <= nl; ++k) {
    if (t_.startsWith(k, label)) {
      ck_.sections.push_back({std::string(label), k});
      return k;
    }
  }
  stopCode("1000", "no section '" + std::string(label) + "'");
}

// An integer scalar: columns 56 to 61 of its label line ("(55X,I6)").
int CheckpointReader::scalarInt(std::string_view label) {
  const int k = find(label);
  int v = 0;
  if (!readIntField(t_.line(k), 56, 6, v))
    readError(label, k, quoted(t_.line(k).substr(55, 6)) + " is not an integer");
  return v;
}

// A real scalar: columns 46 to 75 of its label line ("(45X,D30.10)").
double CheckpointReader::scalarReal(std::string_view label) {
  const int k = find(label);
  double v = 0.0;
  if (!readRealField(t_.line(k), 46, 30, 10, v))
    readError(label, k, quoted(t_.line(k).substr(45, 30)) + " is not a real number");
  return v;
}

void CheckpointReader::ints(std::string_view label, long long n, int* v) {
  const int k = find(label);
  const ReadResult r = readInts(t_, k + 1, n, v);
  if (r.status != ReadStatus::Ok) readError(label, r.line > 0 ? r.line : k, r.detail);
}

void CheckpointReader::reals(std::string_view label, long long n, double* v) {
  const int k = find(label);
  const ReadResult r = readReals(t_, k + 1, n, v);
  if (r.status != ReadStatus::Ok) readError(label, r.line > 0 ? r.line : k, r.detail);
}

void CheckpointReader::header() {
  const int nl = t_.lineCount();
  if (nl <= 5) {
    if (limits_.classic) refuse(" The required input file (Test.FChk) is missing. STOP", "9999");
    // The report names the file; the diagnostic, which names it already,
    // says only what is wrong.
    const std::string lines = std::to_string(nl) + (nl == 1 ? " line" : " lines");
    Stop s;
    s.code = "9999";
    s.records = {" " + t_.name() + " has " + lines + ": it is no formatted checkpoint file. STOP"};
    s.detail = "the file has " + lines + ": it is no formatted checkpoint file";
    throw s;
  }
  ck_.title = std::string(t_.line(1));

  // Kind of calculation, from the method name on line 2.
  Calculation& c = ck_.calc;
  c.line = std::string(t_.line(2));
  const std::string_view method = std::string_view(c.line).substr(8, 8);
  c.plain = method == methodr || method == methodu;
  c.unrestrictedName = c.line[10] == 'U';
  c.method = trimBlanks(std::string_view(c.line).substr(10, 30));
  if (const std::size_t blank = c.method.find(' '); blank != std::string::npos)
    c.method.resize(blank);

  // One pass over the whole text: the lines beginning "Tota" (the first is
  // the total energy, every further one heads a total density), a line of
  // the restricted open-shell method, and the beta orbitals.
  int ndens = -1;
  for (int k = 1; k <= nl; ++k) {
    const std::string_view l = t_.line(k);
    if (l.substr(0, 4) == itot) {
      ++ndens;
      ck_.densityLine = k;
    }
    if (l.substr(8, 8) == irohf) ck_.rohfMarker = true;
    if (l.substr(0, mocbe.size()) == mocbe) ck_.betaOrbitals = true;
  }
  ck_.ndens = ndens;
  if (ck_.densityLine > 0) ck_.densityLabel = std::string(t_.line(ck_.densityLine));
}

void CheckpointReader::body() {
  molecule();
  orbitalsAndChoice();
}

void CheckpointReader::molecule() {
  // Counts.  Each is checked before anything is sized or indexed with it.
  ck_.natoms = scalarInt(numat);
  checkCount(ck_.natoms, "Number of atoms", limits_.atomsRead);
  ck_.electrons = scalarInt(numel);
  checkCount(ck_.electrons, "Number of electrons", kNoLimit);
  ck_.nalpha = scalarInt(numa);
  checkCount(ck_.nalpha, "Number of alpha electrons", kNoLimit);
  ck_.nbeta = scalarInt(numb);
  checkCount(ck_.nbeta, "Number of beta electrons", kNoLimit);
  ck_.nbf = scalarInt(numbf);
  checkCount(ck_.nbf, "Number of basis functions", limits_.basisFunctions);
  if (!limits_.classic)
    requireMemory(
        analysisBytes(ck_.nbf, ck_.natoms),
        std::to_string(ck_.nbf) + " basis functions and " + std::to_string(ck_.natoms) + " atoms");
  Shells& sh = ck_.shells;
  sh.count = scalarInt(numcs);
  checkCount(sh.count, "Number of contracted shells", limits_.shells);
  (void)scalarInt(nhang);  // required; the shell types tell the same
  (void)scalarInt(ndegr);
  sh.primitives = scalarInt(numps);
  checkCount(sh.primitives, "Number of primitive shells", limits_.rawPrimitives);

  ck_.escf = scalarReal(numet);
  checkFinite(&ck_.escf, 1, "SCF Energy", ck_.lineOf(std::string(numet)));

  // Atoms.
  const int natom = ck_.natoms;
  ck_.atomicNumber = Vec1<int>(natom);
  ck_.nuclearCharge = Vec1<double>(natom);
  ck_.coords = Matrix(3, natom);
  ints(iatnm, natom, ck_.atomicNumber.data());
  reals(nucch, natom, ck_.nuclearCharge.data());
  checkFinite(ck_.nuclearCharge.data(), natom, "Nuclear charges", ck_.lineOf(std::string(nucch)));
  {
    std::vector<double> xyz(static_cast<std::size_t>(3) * static_cast<std::size_t>(natom));
    reals(icart, 3LL * natom, xyz.data());
    checkFinite(xyz.data(), 3LL * natom, "Current cartesian coordinates",
                ck_.lineOf(std::string(icart)));
    for (int a = 1; a <= natom; ++a)
      for (int k = 1; k <= 3; ++k)
        ck_.coords(k, a) = xyz[static_cast<std::size_t>(3 * (a - 1) + k - 1)];
  }

  // Shells and primitives.
  sh.type = Vec1<int>(sh.count);
  sh.nprim = Vec1<int>(sh.count);
  sh.atom = Vec1<int>(sh.count);
  sh.exponent = Vec1<double>(sh.primitives);
  sh.coefficient = Vec1<double>(sh.primitives);
  sh.pCoefficient = Vec1<double>(sh.primitives);
  ints(ishty, sh.count, sh.type.data());
  ints(npons, sh.count, sh.nprim.data());
  ints(mstat, sh.count, sh.atom.data());
  reals(nprex, sh.primitives, sh.exponent.data());
  const int expLine = ck_.lineOf(std::string(nprex));
  checkFinite(sh.exponent.data(), sh.primitives, "Primitive exponents", expLine);
  for (int p = 1; p <= sh.primitives; ++p)
    if (!(sh.exponent(p) > 0.0))
      refuse(" Section 'Primitive exponents': exponent " + std::to_string(p) +
                 " is not positive: " + realText(sh.exponent(p)),
             kCodeBadValue, expLine);
  reals(ncncf, sh.primitives, sh.coefficient.data());
  checkFinite(sh.coefficient.data(), sh.primitives, "Contraction coefficients",
              ck_.lineOf(std::string(ncncf)));
  bool anySP = false;
  for (int s = 1; s <= sh.count; ++s) anySP = anySP || sh.type(s) == -1;
  if (anySP) {
    reals(nspcf, sh.primitives, sh.pCoefficient.data());
    checkFinite(sh.pCoefficient.data(), sh.primitives, "P(S=P) Contraction coefficients",
                ck_.lineOf(std::string(nspcf)));
  }
  shellCoordinates();
}

void CheckpointReader::orbitalsAndChoice() {
  orbitals();

  if (limits_.classic && ck_.calc.unrestrictedName) refuseUnrestricted();
  selectDensity();
}

// The shell coordinates: 3 * NSHELL reals in fixed fields "(5E16.8)".  They
// are required but not used; only their form and finiteness are checked.
void CheckpointReader::shellCoordinates() {
  const int k0 = find(ncosh);
  const long long n = 3LL * ck_.shells.count;
  long long done = 0;
  int k = k0;
  while (done < n) {
    ++k;
    if (k > t_.lineCount())
      readError(
          ncosh, k0,
          "end of file after " + std::to_string(done) + " of " + std::to_string(n) + " values");
    const std::string_view l = t_.line(k);
    for (int f = 0; f < 5 && done < n; ++f, ++done) {
      double x = 0.0;
      const int col = 1 + 16 * f;
      if (!readRealField(l, col, 16, 8, x))
        readError(
            ncosh, k,
            quoted(l.substr(static_cast<std::size_t>(col - 1), 16)) + " is not a real number");
      if (!std::isfinite(x))
        refuse(" Section 'Coordinates of each shell' holds a value that is not a finite number: " +
                   realText(x),
               kCodeBadValue, k);
    }
  }
}

// Alpha MO coefficients, orbital after orbital.  A value that is not a
// number (a section shorter than nbf * nbf values meets the next label) ends
// the read quietly; the coefficients not read stay zero.  The end of the
// file is not tolerated.
void CheckpointReader::orbitals() {
  const int nbf = ck_.nbf;
  const int k = find(mocal);
  ck_.mo = Matrix(nbf, nbf);
  const ReadResult r = readRealColumns(t_, k + 1, nbf, nbf, ck_.mo.view());
  if (r.status == ReadStatus::End) readError(mocal, k, r.detail);
  for (int j = 1; j <= nbf; ++j) checkFinite(ck_.mo.col(j), nbf, "Alpha MO coefficients", k);
}

void CheckpointReader::refuseUnrestricted() {
  find(mocbe);
  Stop s;
  s.code = "7777";
  s.records = {" This program should not be used for UHF or unrestricted DFT calculations!",
               " (Use the original program TARSEL -- or DELKORA-2 -- instead.)", " "};
  throw s;
}

void CheckpointReader::selectDensity() {
  if (ck_.ndens < 1) refuse(" The checkpoint file holds no total density matrix", kCodeNoDensity);
  ck_.sections.push_back({ck_.densityName(), ck_.densityLine});
}

// The lower triangle row by row after the label line: P(1,1); P(2,1),
// P(2,2); P(3,1), ...; unpacked into a symmetric matrix.
void CheckpointReader::readTriangle(int labelLine, Matrix& into, std::vector<double>* keep) {
  const int nbf = ck_.nbf;
  const long long npack = static_cast<long long>(nbf) * (nbf + 1) / 2;
  const std::string name = sectionName(t_.line(labelLine));
  std::vector<double> packed(static_cast<std::size_t>(npack), 0.0);
  const ReadResult r = readReals(t_, labelLine + 1, npack, packed.data());
  if (r.status != ReadStatus::Ok) {
    if (r.count == 0) refuse(" The checkpoint file holds no total density matrix", kCodeNoDensity);
    readError(name, r.line > 0 ? r.line : labelLine, r.detail);
  }
  checkFinite(packed.data(), npack, name, labelLine);
  into = Matrix::uninitialised(nbf, nbf);
  std::size_t k = 0;
  for (int mu = 1; mu <= nbf; ++mu)
    for (int nu = 1; nu <= mu; ++nu) {
      const double x = packed[k++];
      into(mu, nu) = x;
      into(nu, mu) = x;
    }
  if (keep != nullptr) *keep = std::move(packed);
}

void CheckpointReader::density() {
  readTriangle(ck_.densityLine, ck_.density, &ck_.packed);
  if (!limits_.classic && ck_.unrestricted() && ck_.scfDensity()) spinDensity();
}

// The spin density of a spin-unrestricted SCF wave function: the section
// that the file writes after the total density, "Spin SCF Density".
void CheckpointReader::spinDensity() {
  const std::string label = "Spin" + ck_.densityName().substr(5);
  const std::string name = ck_.densityName().substr(5);
  int k = 0;
  for (int l = 1; l <= t_.lineCount() && k == 0; ++l)
    if (t_.startsWith(l, label)) k = l;
  if (k == 0)
    refuse(" The spin-unrestricted wave function has no spin density ('" + label +
               "') in the checkpoint file. STOP",
           kCodeSpinDensity);
  ck_.sections.push_back({label, k});
  ck_.spinLabel = std::string(t_.line(k));
  ck_.spinLine = k;
  readTriangle(k, ck_.spin, nullptr);
}

Checkpoint readCheckpoint(const CheckpointText& text, const Limits& limits) {
  Checkpoint ck;
  CheckpointReader r(text, limits, ck);
  r.header();
  r.body();
  r.density();
  return ck;
}

}  // namespace mv
