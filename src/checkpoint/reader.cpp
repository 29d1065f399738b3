#include "checkpoint/reader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

#include "checkpoint/freeformat.h"
#include "core/angular.h"
#include "core/elements.h"
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
// Sections that only the command line reads, when the file has them.
constexpr std::string_view etot = "Total Energy    ";
constexpr std::string_view ichrg = "Charge          ";
constexpr std::string_view imult = "Multiplicity    ";
constexpr std::string_view iwght = "Real atomic weig";
// Methods of the calculation line (characters 9 to 16) that are plain SCF.
constexpr std::string_view methodr = "  RHF   ";
constexpr std::string_view methodu = "  UHF   ";
// The restricted open-shell method, in characters 9 to 16 of any line.
constexpr std::string_view irohf = "  ROHF  ";

// The whole name of a section whose label is compared by its first
// characters, for the messages of the command line.
std::string_view fullName(std::string_view label) {
  static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
      {numat, "Number of atoms"},
      {numel, "Number of electrons"},
      {numa, "Number of alpha electrons"},
      {numb, "Number of beta electrons"},
      {numbf, "Number of basis functions"},
      {numcs, "Number of contracted shells"},
      {nhang, "Highest angular momentum"},
      {ndegr, "Largest degree of contraction"},
      {numps, "Number of primitive shells"},
      {numet, "SCF Energy"},
      {iatnm, "Atomic numbers"},
      {nucch, "Nuclear charges"},
      {icart, "Current cartesian coordinates"},
      {ishty, "Shell types"},
      {npons, "Number of primitives per shell"},
      {mstat, "Shell to atom map"},
      {nprex, "Primitive exponents"},
      {ncncf, "Contraction coefficients"},
      {nspcf, "P(S=P) Contraction coefficients"},
      {ncosh, "Coordinates of each shell"},
      {mocal, "Alpha MO coefficients"},
      {mocbe, "Beta MO coefficients"}};
  for (const auto& [prefix, name] : kNames)
    if (prefix == label) return name;
  return label;
}

// The label of a total density ("Total SCF Density", "Total MP2 Density"):
// the section name begins "Total " and ends " Density".
bool totalDensityName(std::string_view name) {
  constexpr std::string_view head = "Total ", tail = " Density";
  return name.size() > head.size() + tail.size() && name.substr(0, head.size()) == head &&
         name.substr(name.size() - tail.size()) == tail;
}

// "MP2" of "Total MP2 Density".
std::string densityKind(std::string_view name) {
  return std::string(name.substr(6, name.size() - 6 - 8));
}

bool sameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (std::toupper(static_cast<unsigned char>(a[k])) !=
        std::toupper(static_cast<unsigned char>(b[k])))
      return false;
  return true;
}

// Basis functions of a shell of the given type: SP 4, Cartesian l
// (l+1)(l+2)/2, pure l 2l+1.
long long functionsOfShell(int type) {
  if (type == -1) return 4;
  const long long l = type < 0 ? -static_cast<long long>(type) : type;
  return type >= 0 ? (l + 1) * (l + 2) / 2 : 2 * l + 1;
}

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

// The text of a label line after its type letter (column 44), without
// blanks at either end: a scalar's value or an array's "N=" count.
std::string valueField(std::string_view labelLine) {
  return labelLine.size() > 44 ? trimBlanks(labelLine.substr(44)) : std::string();
}

// A whole field as one integer: no blank inside, within the range of T.
template <typename T>
bool wholeInteger(std::string_view field, T& v) {
  if (field.empty() || field.find_first_of(" \t") != std::string_view::npos) return false;
  if (field.front() == '+') field.remove_prefix(1);
  const auto r = std::from_chars(field.data(), field.data() + field.size(), v);
  return r.ec == std::errc() && r.ptr == field.data() + field.size();
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

int Checkpoint::moleculeCharge() const {
  if (charge) return *charge;
  double z = 0.0;
  for (int a = 1; a <= nuclearCharge.size(); ++a) z += nuclearCharge(a);
  return static_cast<int>(std::lround(z)) - electrons;
}

int Checkpoint::coreElectrons(int a) const {
  const double q = nuclearCharge(a);
  if (q == 0.0) return 0;
  const long long core = atomicNumber(a) - std::llround(q);
  return core > 0 ? static_cast<int>(core) : 0;
}

int Checkpoint::moleculeMultiplicity() const {
  if (multiplicity) return *multiplicity;
  return (nalpha > nbeta ? nalpha - nbeta : nbeta - nalpha) + 1;
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
  stopCode("1000", "no section '" + std::string(limits_.classic ? label : fullName(label)) + "'");
}

bool CheckpointReader::has(std::string_view label) const {
  const int nl = t_.lineCount();
  for (int k = 1; k <= nl; ++k)
    if (t_.startsWith(k, label)) return true;
  return false;
}

// The number of values of an array section: columns 50 to 61 of its label
// line ("N=" in columns 48 and 49).
int CheckpointReader::lengthOf(std::string_view label) {
  const int k = find(label);
  int v = 0;
  if (t_.line(k).substr(47, 2) != "N=" || !readIntField(t_.text(k), 50, 12, v))
    readError(fullName(label), k,
              mv::quoted(t_.line(k).substr(47, 14)) + " is not the length of an array");
  return v;
}

// A count from its own section, or else from the length of the array it
// counts (command line).
int CheckpointReader::countOr(std::string_view label, std::string_view array) {
  return limits_.classic || has(label) ? scalarInt(label) : lengthOf(array);
}

// An integer scalar.  The classic run reads columns 56 to 61 of its label
// line ("(55X,I6)"); the command line reads the whole field after the type
// letter, so that a count of seven digits or more is not cut to its last six.
int CheckpointReader::scalarInt(std::string_view label) {
  const int k = find(label);
  int v = 0;
  if (!limits_.classic) {
    const std::string field = valueField(t_.text(k));
    if (!wholeInteger(field, v)) readError(label, k, mv::quoted(field) + " is not an integer");
    return v;
  }
  if (!readIntField(t_.text(k), 56, 6, v))
    readError(label, k, mv::quoted(t_.line(k).substr(55, 6)) + " is not an integer");
  return v;
}

// A real scalar: columns 46 to 75 of its label line ("(45X,D30.10)"); in
// the command line the whole field after the type letter, one number.
double CheckpointReader::scalarReal(std::string_view label) {
  const int k = find(label);
  double v = 0.0;
  if (!limits_.classic) {
    const std::string field = valueField(t_.text(k));
    if (field.empty() || field.find_first_of(" \t") != std::string::npos ||
        !readRealField(field, 1, static_cast<int>(field.size()), 0, v))
      readError(label, k, mv::quoted(field) + " is not a real number");
    return v;
  }
  if (!readRealField(t_.text(k), 46, 30, 10, v))
    readError(label, k, mv::quoted(t_.line(k).substr(45, 30)) + " is not a real number");
  return v;
}

// The "N=" count on the label line of an array; -1 when the line has none.
long long CheckpointReader::declaredCount(int labelLine, std::string_view label) {
  const std::string field = valueField(t_.text(labelLine));
  if (field.rfind("N=", 0) != 0) return -1;
  long long n = -1;
  if (!wholeInteger(trimBlanks(std::string_view(field).substr(2)), n) || n < 0)
    readError(label, labelLine, mv::quoted(field) + " is not a count of values");
  return n;
}

// In the command line an array must hold exactly the values the analysis
// expects: its "N=" count is compared first (a mismatch is refused, naming
// both counts), and after the last value its line must end.  A value split
// in two by a blank would otherwise shift every later value by one place.
void CheckpointReader::expectCount(int labelLine, std::string_view label, long long n) {
  if (limits_.classic) return;
  const long long declared = declaredCount(labelLine, label);
  if (declared >= 0 && declared != n)
    refuse(" Section '" + sectionName(t_.text(labelLine)) +
               "' holds N= " + std::to_string(declared) + " values; the file's counts call for " +
               std::to_string(n),
           kCodeBadIndex, labelLine);
}

void CheckpointReader::expectEnd(std::string_view label, const ReadResult& r, long long n) {
  if (limits_.classic) return;
  if (r.count < n)  // a slash ended the values early
    readError(label, r.next - 1,
              "the values end ('/') after " + std::to_string(r.count) + " of " + std::to_string(n));
  if (r.rest.empty()) return;
  const std::string extra = r.rest.substr(0, r.rest.find_first_of(" \t,"));
  readError(label, r.next - 1,
            mv::quoted(extra) + " follows the last of its " + std::to_string(n) + " values");
}

// Elements to make room for before n values of `width` bytes are read from
// line `first` on: never more than the rest of the text could hold, so that
// a count the file declares does not allocate beyond the file's own size
// before values are there (the storage grows with the values read).
std::size_t CheckpointReader::room(int first, long long n, std::size_t width) const {
  const std::uint64_t fits = t_.bytesFrom(first) / width;
  return static_cast<std::size_t>(std::min<std::uint64_t>(n < 0 ? 0 : n, fits));
}

void CheckpointReader::ints(std::string_view label, long long n, std::vector<int>& v) {
  const int k = find(label);
  expectCount(k, label, n);
  const ReadResult r = readInts(t_, k + 1, n, v, room(k + 1, n, sizeof(int)));
  if (r.status != ReadStatus::Ok) readError(label, r.line > 0 ? r.line : k, r.detail);
  expectEnd(label, r, n);
  v.resize(static_cast<std::size_t>(n));
}

void CheckpointReader::reals(std::string_view label, long long n, std::vector<double>& v) {
  const int k = find(label);
  expectCount(k, label, n);
  const ReadResult r = readReals(t_, k + 1, n, v, room(k + 1, n, sizeof(double)));
  if (r.status != ReadStatus::Ok) readError(label, r.line > 0 ? r.line : k, r.detail);
  expectEnd(label, r, n);
  v.resize(static_cast<std::size_t>(n));
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
  c.basis = trimBlanks(std::string_view(c.line).substr(40, 40));

  // One pass over the whole text: the lines beginning "Tota" (the first is
  // the total energy, every further one heads a total density), a line of
  // the restricted open-shell method, and the beta orbitals.
  int ndens = -1;
  for (int k = 1; k <= nl; ++k) {
    if (t_.startsWith(k, itot)) {
      ++ndens;
      ck_.densityLine = k;
    }
    if (t_.holdsAt(k, 8, irohf)) ck_.rohfMarker = true;
    if (t_.startsWith(k, mocbe)) ck_.betaOrbitals = true;
  }
  ck_.ndens = ndens;
  // A method named spin-unrestricted (UHF, UB3LYP) stays so even where its
  // two sets of orbitals agree (a hydrogen atom in a minimal basis).
  if (!limits_.classic && ck_.betaOrbitals && !ck_.calc.unrestrictedName)
    ck_.sameSpinOrbitals = sameSpinOrbitals();
  if (!limits_.classic) {
    // The command line counts the total densities by their labels, so that
    // a "Total Energy" line (or its absence) does not count.
    for (int k = 1; k <= nl; ++k)
      if (const std::string name = sectionName(t_.text(k)); totalDensityName(name))
        ck_.densities.push_back({name, k});
    ck_.ndens = static_cast<int>(ck_.densities.size());
    ck_.densityLine = ck_.densities.empty() ? 0 : ck_.densities.back().line;
    if (ck_.densities.empty() && has(mocal)) {
      ck_.densityFromOrbitals = true;
      ck_.densityLabel = "Density of the occupied orbitals";
    }
    for (std::size_t d = 0; d < ck_.densities.size() && !densityChoice_.empty(); ++d)
      if (sameLetters(densityKind(ck_.densities[d].label), densityChoice_)) {
        ck_.densityIndex = static_cast<int>(d) + 1;
        ck_.densityLine = ck_.densities[d].line;
      }
  }
  if (ck_.densityLine > 0) ck_.densityLabel = t_.line(ck_.densityLine).str();
}

// The orbitals' aufbau occupations, for a file without a density: the
// lowest nalpha alpha and nbeta beta orbitals, each of them occupied once
// (spin-unrestricted), or the lowest nbeta orbitals twice and the next
// nalpha - nbeta once, as the restricted open-shell rebuild has them.
void CheckpointReader::aufbau() {
  const int na = ck_.nalpha, nb = ck_.nbeta;
  const int top = std::max(na, nb);
  if (top > ck_.mo.cols())
    refuse(" The file has " + std::to_string(ck_.mo.cols()) + " orbitals, too few for " +
               std::to_string(na) + " alpha and " + std::to_string(nb) + " beta electrons",
           kCodeBadIndex, ck_.lineOf(std::string(mocal)));
  if (ck_.betaOrbitals) {
    ck_.occupation = Vec1<double>(na);
    ck_.occupationBeta = Vec1<double>(nb);
    for (int o = 1; o <= na; ++o) ck_.occupation(o) = 1.0;
    for (int o = 1; o <= nb; ++o) ck_.occupationBeta(o) = 1.0;
    return;
  }
  ck_.occupation = Vec1<double>(top);
  for (int o = 1; o <= top; ++o) ck_.occupation(o) = (o <= na ? 1.0 : 0.0) + (o <= nb ? 1.0 : 0.0);
}

void CheckpointReader::body() {
  molecule();
  orbitalsAndChoice();
}

// The beta orbitals written as a copy of the alpha ones, digit for digit
// (psi4 writes its restricted open-shell wave functions so): the two
// sections' counts and value lines are the same text.
bool CheckpointReader::sameSpinOrbitals() const {
  const int nl = t_.lineCount();
  int ka = 0, kb = 0;
  for (int k = 1; k <= nl && (ka == 0 || kb == 0); ++k) {
    if (ka == 0 && t_.startsWith(k, mocal)) ka = k;
    if (kb == 0 && t_.startsWith(k, mocbe)) kb = k;
  }
  if (ka == 0 || kb == 0 || t_.text(ka).substr(40) != t_.text(kb).substr(40)) return false;
  auto value = [&](int k) {
    if (k > nl) return false;
    const std::string_view l = t_.text(k);
    return !l.empty() && (l[0] == ' ' || l[0] == '-');
  };
  int i = 1;
  for (; value(ka + i); ++i)
    if (!value(kb + i) || t_.text(ka + i) != t_.text(kb + i)) return false;
  return i > 1 && !value(kb + i);
}

// Some writers (psi4) put the charge left by an effective core potential
// under "Atomic numbers" as well as under "Nuclear charges" (19 for silver
// with a 28-electron core); the atomic weights still name the element.  An
// unreadable weights section changes nothing: it is not needed otherwise.
void CheckpointReader::elementsFromWeights() {
  std::vector<double> w;
  try {
    reals(iwght, ck_.natoms, w);
  } catch (const Stop&) {
    return;
  }
  for (int a = 1; a <= ck_.natoms; ++a) {
    const int z = ck_.atomicNumber(a);
    if (ck_.nuclearCharge(a) != z) continue;
    const int named = elementOfReducedCharge(z, w[static_cast<std::size_t>(a - 1)]);
    if (named == 0) continue;
    ck_.atomicNumber(a) = named;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.4f", w[static_cast<std::size_t>(a - 1)]);
    ck_.notes.push_back("Atom " + std::to_string(a) + ": atomic weight " + buf + " names " +
                        std::string(elementSymbol(named)) + " (atomic number " +
                        std::to_string(named) + "); the file's atomic number " + std::to_string(z) +
                        " is its nuclear charge, with " + std::to_string(named - z) +
                        " electrons in an effective core potential");
  }
}

void CheckpointReader::molecule() {
  // Counts.  Each is checked before anything is sized or indexed with it.
  // The command line needs only what the analysis uses: a count whose own
  // section is missing comes from the length of its array, the electron
  // count from the alpha and beta counts, the basis-function count from the
  // shell types, and the energy, the shell coordinates, the nuclear charges
  // and the orbitals may be missing.
  const bool tolerant = !limits_.classic;
  ck_.natoms = countOr(numat, iatnm);
  checkCount(ck_.natoms, "Number of atoms", limits_.atomsRead);
  const bool electrons = !tolerant || has(numel);
  if (electrons) {
    ck_.electrons = scalarInt(numel);
    checkCount(ck_.electrons, "Number of electrons", kNoLimit);
  }
  ck_.nalpha = scalarInt(numa);
  checkCount(ck_.nalpha, "Number of alpha electrons", kNoLimit);
  ck_.nbeta = scalarInt(numb);
  checkCount(ck_.nbeta, "Number of beta electrons", kNoLimit);
  if (!electrons) ck_.electrons = ck_.nalpha + ck_.nbeta;
  const bool nbfRead = !tolerant || has(numbf);
  if (nbfRead) {
    ck_.nbf = scalarInt(numbf);
    checkCount(ck_.nbf, "Number of basis functions", limits_.basisFunctions);
  }
  Shells& sh = ck_.shells;
  sh.count = countOr(numcs, ishty);
  checkCount(sh.count, "Number of contracted shells", limits_.shells);
  if (!tolerant) {
    (void)scalarInt(nhang);  // required; the shell types tell the same
    (void)scalarInt(ndegr);
  }
  sh.primitives = countOr(numps, nprex);
  checkCount(sh.primitives, "Number of primitive shells", limits_.rawPrimitives);

  ck_.hasEnergy = !tolerant || has(numet);
  if (ck_.hasEnergy) {
    ck_.escf = scalarReal(numet);
    checkFinite(&ck_.escf, 1, "SCF Energy", ck_.lineOf(std::string(numet)));
  }
  if (tolerant) {
    if (has(etot)) {
      const double e = scalarReal(etot);
      if (std::isfinite(e)) ck_.totalEnergy = e;
    }
    if (has(ichrg)) ck_.charge = scalarInt(ichrg);
    if (has(imult)) ck_.multiplicity = scalarInt(imult);
  }

  // Atoms.
  const int natom = ck_.natoms;
  ints(iatnm, natom, ck_.atomicNumber.std());
  if (!tolerant || has(nucch)) {
    reals(nucch, natom, ck_.nuclearCharge.std());
    checkFinite(ck_.nuclearCharge.data(), natom, "Nuclear charges", ck_.lineOf(std::string(nucch)));
  } else {
    ck_.nuclearCharge = Vec1<double>(natom);
    for (int a = 1; a <= natom; ++a) ck_.nuclearCharge(a) = ck_.atomicNumber(a);
  }
  if (tolerant && has(iwght)) elementsFromWeights();
  {
    std::vector<double> xyz;
    reals(icart, 3LL * natom, xyz);
    checkFinite(xyz.data(), 3LL * natom, "Current cartesian coordinates",
                ck_.lineOf(std::string(icart)));
    ck_.coords = Matrix(3, natom);
    for (int a = 1; a <= natom; ++a)
      for (int k = 1; k <= 3; ++k)
        ck_.coords(k, a) = xyz[static_cast<std::size_t>(3 * (a - 1) + k - 1)];
  }

  // Shells and primitives.
  ints(ishty, sh.count, sh.type.std());
  if (!nbfRead) {
    long long n = 0;
    for (int s = 1; s <= sh.count; ++s) n += functionsOfShell(sh.type(s));
    if (n > std::numeric_limits<int>::max())
      refuse(" The shell types give " + std::to_string(n) + " basis functions, too many. STOP",
             kCodeLimit);
    ck_.nbf = static_cast<int>(n);
    checkCount(ck_.nbf, "Number of basis functions", limits_.basisFunctions);
    requireMemory(
        analysisMemory(ck_.nbf, ck_.natoms),
        std::to_string(ck_.nbf) + " basis functions and " + std::to_string(ck_.natoms) + " atoms");
  }
  ints(npons, sh.count, sh.nprim.std());
  ints(mstat, sh.count, sh.atom.std());
  reals(nprex, sh.primitives, sh.exponent.std());
  const int expLine = ck_.lineOf(std::string(nprex));
  checkFinite(sh.exponent.data(), sh.primitives, "Primitive exponents", expLine);
  for (int p = 1; p <= sh.primitives; ++p)
    if (!(sh.exponent(p) > 0.0))
      refuse(" Section 'Primitive exponents': exponent " + std::to_string(p) +
                 " is not positive: " + realText(sh.exponent(p)),
             kCodeBadValue, expLine);
  reals(ncncf, sh.primitives, sh.coefficient.std());
  sh.pCoefficient = Vec1<double>(sh.primitives);
  checkFinite(sh.coefficient.data(), sh.primitives, "Contraction coefficients",
              ck_.lineOf(std::string(ncncf)));
  bool anySP = false;
  for (int s = 1; s <= sh.count; ++s) anySP = anySP || sh.type(s) == -1;
  if (anySP) {
    reals(nspcf, sh.primitives, sh.pCoefficient.std());
    checkFinite(sh.pCoefficient.data(), sh.primitives, "P(S=P) Contraction coefficients",
                ck_.lineOf(std::string(nspcf)));
  }
  if (!tolerant || has(ncosh)) shellCoordinates();
  if (!limits_.classic) basisCountAndMemory();
}

// In the command line the number of basis functions is taken on trust only
// once the shells read agree with it; then the memory of the analysis is
// checked, before anything of that size is allocated.
void CheckpointReader::basisCountAndMemory() {
  const Shells& sh = ck_.shells;
  long long count = 0;
  for (int s = 1; s <= sh.count; ++s) {
    const int type = sh.type(s);
    if (type < -limits_.maxL || type > limits_.maxL) return;  // refused with the basis
    count += angular::shellFunctionCount(type);
  }
  if (count != ck_.nbf) {
    Stop st;
    st.code = "968";
    st.detail = "the shell types give " + std::to_string(count) +
                " basis functions, the file says " + std::to_string(ck_.nbf);
    st.line = ck_.lineOf(std::string(numbf));
    throw st;
  }
  requireMemory(
      analysisMemory(ck_.nbf, ck_.natoms),
      std::to_string(ck_.nbf) + " basis functions and " + std::to_string(ck_.natoms) + " atoms");
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
  expectCount(k0, ncosh, n);
  long long done = 0;
  int k = k0;
  while (done < n) {
    ++k;
    if (k > t_.lineCount())
      readError(
          ncosh, k0,
          "end of file after " + std::to_string(done) + " of " + std::to_string(n) + " values");
    const std::string_view l = t_.text(k);
    for (int f = 0; f < 5 && done < n; ++f, ++done) {
      double x = 0.0;
      const int col = 1 + 16 * f;
      if (!readRealField(l, col, 16, 8, x))
        readError(ncosh, k,
                  mv::quoted(t_.line(k).substr(static_cast<std::size_t>(col - 1), 16)) +
                      " is not a real number");
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
//
// In the command line a section with an "N=" count is read to that count,
// which must be a whole number of orbitals, at most nbf of them (fewer when
// the calculation dropped linear combinations of the basis).
void CheckpointReader::orbitals() {
  alphaOrbitals();
  if (ck_.densityFromOrbitals && ck_.unrestricted()) betaOrbitals();
}

// The beta orbitals, for the density of a spin-unrestricted wave function
// whose file holds no density.
void CheckpointReader::betaOrbitals() {
  const int nbf = ck_.nbf;
  const int kb = find(mocbe);
  ck_.moBeta = Matrix(nbf, nbf);
  const ReadResult rb = readRealColumns(t_, kb + 1, nbf, nbf, ck_.moBeta.view());
  if (rb.status == ReadStatus::End) readError(fullName(mocbe), kb, rb.detail);
  for (int j = 1; j <= nbf; ++j) checkFinite(ck_.moBeta.col(j), nbf, "Beta MO coefficients", kb);
}

void CheckpointReader::alphaOrbitals() {
  const int nbf = ck_.nbf;
  // The command line needs the orbitals only to build a density.
  if (!limits_.classic && !has(mocal)) return;
  const int k = find(mocal);
  const long long declared = limits_.classic || nbf < 1 ? -1 : declaredCount(k, mocal);
  if (declared >= 0) {
    if (declared % nbf != 0 || declared / nbf > nbf || declared == 0)
      refuse(" Section 'Alpha MO coefficients' holds N= " + std::to_string(declared) +
                 " values; the file's counts call for " + std::to_string(nbf) +
                 " per orbital, for 1 to " + std::to_string(nbf) + " orbitals",
             kCodeBadIndex, k);
    const int norb = static_cast<int>(declared / nbf);
    ReadResult r;
    if (Matrix::bytesFor(nbf, nbf) <= t_.bytesFrom(k + 1)) {
      ck_.mo = Matrix(nbf, nbf);
      r = readRealColumns(t_, k + 1, nbf, norb, ck_.mo.view(), par());
    } else {
      // Values written more densely than eight bytes each (or fewer than
      // the count says): the matrix is made once they are read.
      std::vector<double> v;
      r = readReals(t_, k + 1, declared, v, room(k + 1, declared, sizeof(double)), par());
      if (r.status == ReadStatus::Ok) {
        v.resize(static_cast<std::size_t>(declared));
        ck_.mo = Matrix(nbf, nbf);
        for (int j = 1; j <= norb; ++j)
          std::copy_n(v.data() + static_cast<std::size_t>(j - 1) * nbf, nbf, ck_.mo.col(j));
      }
    }
    if (r.status != ReadStatus::Ok) readError(mocal, r.line > 0 ? r.line : k, r.detail);
    expectEnd(mocal, r, declared);
    for (int j = 1; j <= norb; ++j) checkFinite(ck_.mo.col(j), nbf, "Alpha MO coefficients", k);
  } else {
    ck_.mo = Matrix(nbf, nbf);
    const ReadResult r = readRealColumns(t_, k + 1, nbf, nbf, ck_.mo.view(), par());
    if (r.status == ReadStatus::End) readError(mocal, k, r.detail);
    for (int j = 1; j <= nbf; ++j) checkFinite(ck_.mo.col(j), nbf, "Alpha MO coefficients", k);
  }
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
  if (!densityChoice_.empty() && ck_.densityIndex == 0) {
    std::string kinds;
    for (const Section& d : ck_.densities)
      kinds += (kinds.empty() ? "" : ", ") + densityKind(d.label);
    refuse(" The checkpoint file holds no 'Total " + densityChoice_ + " Density'; its total " +
               (ck_.densities.empty() ? std::string("densities: none") : "densities: " + kinds),
           kCodeNoDensity);
  }
  if (ck_.densityFromOrbitals) return;
  if (ck_.ndens < 1) refuse(" The checkpoint file holds no total density matrix", kCodeNoDensity);
  ck_.sections.push_back({ck_.densityName(), ck_.densityLine});
}

// The lower triangle row by row after the label line: P(1,1); P(2,1),
// P(2,2); P(3,1), ...; unpacked into a symmetric matrix.
void CheckpointReader::readTriangle(int labelLine, Matrix& into, std::vector<double>* keep) {
  const int nbf = ck_.nbf;
  const long long npack = static_cast<long long>(nbf) * (nbf + 1) / 2;
  const std::string name = sectionName(t_.text(labelLine));
  expectCount(labelLine, name, npack);
  std::vector<double> packed;
  const ReadResult r = readReals(t_, labelLine + 1, npack, packed,
                                 room(labelLine + 1, npack, sizeof(double)), par());
  if (r.status != ReadStatus::Ok) {
    if (r.count == 0) refuse(" The checkpoint file holds no total density matrix", kCodeNoDensity);
    readError(name, r.line > 0 ? r.line : labelLine, r.detail);
  }
  expectEnd(name, r, npack);
  packed.resize(static_cast<std::size_t>(npack));
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
  if (ck_.densityFromOrbitals) {
    aufbau();
    return;
  }
  readTriangle(ck_.densityLine, ck_.density, &ck_.packed);
  if (limits_.classic) return;
  if (ck_.unrestricted() && ck_.scfDensity())
    spinDensity(true);
  else if (!ck_.scfDensity() && (ck_.unrestricted() || ck_.nalpha != ck_.nbeta))
    spinDensity(false);
}

// The spin density that belongs to the analysed density: the section that
// the file writes after it, "Spin SCF Density" after "Total SCF Density",
// "Spin MP2 Density" after "Total MP2 Density".  The SCF density of a
// spin-unrestricted wave function needs it (its bond orders take their
// second term from it); for a correlated density of an open shell it only
// gives the spin populations, so a file without it, or with one that cannot
// be read, is analysed without them.
void CheckpointReader::spinDensity(bool required) {
  const std::string label = "Spin" + ck_.densityName().substr(5);
  int k = 0;
  for (int l = 1; l <= t_.lineCount() && k == 0; ++l)
    if (t_.startsWith(l, label)) k = l;
  if (k == 0) {
    if (!required) return;
    refuse(" The spin-unrestricted wave function has no spin density ('" + label +
               "') in the checkpoint file. STOP",
           kCodeSpinDensity);
  }
  if (!required) {
    try {
      readTriangle(k, ck_.spin, nullptr);
    } catch (const Stop&) {
      ck_.spin.release();
      return;
    }
    ck_.spinForPopulationsOnly = true;
  }
  ck_.sections.push_back({label, k});
  ck_.spinLabel = t_.line(k).str();
  ck_.spinLine = k;
  if (required) readTriangle(k, ck_.spin, nullptr);
}

std::uint64_t estimatedRunMemory(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (!in || ec) return 0;
  std::string head(std::size_t{1} << 16, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  long long nbf = 0, natoms = 0;
  std::istringstream lines(head);
  for (std::string l; std::getline(lines, l);) {
    long long* into = l.rfind(numbf, 0) == 0 ? &nbf : l.rfind(numat, 0) == 0 ? &natoms : nullptr;
    if (into == nullptr) continue;
    if (!l.empty() && l.back() == '\r') l.pop_back();
    long long v = 0;
    if (wholeInteger(valueField(l), v) && v > 0) *into = v;
  }
  // The text and its line offsets, then the analysis.
  return size + size / 16 + analysisMemory(nbf, natoms);
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
