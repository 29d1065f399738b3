// The checkpoint reader: copies the formatted checkpoint file, reads the
// molecule, the basis shells, the electron counts, the SCF energy, the MO
// coefficients and the total density, and prints the reader's records.
#include "checkpoint/input.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "checkpoint/scratch.h"
#include "driver/report.h"
#include "driver/stop.h"
#include "tables.h"

namespace mv {

RawBasis raw;

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

// Text of a real for a refusal message.
std::string realText(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x < 0 ? "-Infinity" : "Infinity";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.10G", x);
  return buf;
}

// A count read from the checkpoint file must be neither negative nor beyond
// the table it sizes (limit < 0: no table).
void checkCount(int value, const char* name, int limit) {
  if (value < 0)
    refuse(std::string(" ") + name + " " + std::to_string(value) + " is negative", kCodeBadIndex);
  if (limit >= 0 && value > limit)
    refuse(std::string(" ") + name + " " + std::to_string(value) + " exceeds the limit of " +
               std::to_string(limit),
           kCodeLimit);
}

// Every value of a section must be a finite number.
void checkFinite(const double* v, int n, std::string_view name) {
  for (int k = 0; k < n; ++k)
    if (!std::isfinite(v[k]))
      refuse(" Section '" + std::string(name) +
                 "' holds a value that is not a finite number: " + realText(v[k]),
             kCodeBadValue);
}

// The section name of a label line: its first 40 characters, trailing blanks removed.
std::string labelName(std::string_view line) {
  std::string_view l = line.substr(0, 40);
  while (!l.empty() && l.back() == ' ') l.remove_suffix(1);
  return std::string(l);
}

void refuseNoDensity() {
  refuse(" The checkpoint file holds no total density matrix", kCodeNoDensity);
}

int readCount(std::string_view label) {
  findlab(label);
  return getint();
}

// Title line: echoed as twenty 4-character words, then a three-blank record.
void echoTitle() {
  std::string_view title = tmp.line(1);
  Items words;
  words.reserve(20);
  for (int w = 0; w < 20; ++w) words.emplace_back(title.substr(static_cast<std::size_t>(w) * 4, 4));
  writeLayout("(20A4)", words);
  writeFree({Item("   ")});
}

// The shell coordinates: 3 * nshell reals in fixed fields "(5E16.8)".  They
// are required but not used; only their form and finiteness are checked.
void readShellCoordinates(int nshell) {
  findlab(ncosh);
  const int n = 3 * nshell;
  int done = 0;
  std::string_view l;
  while (done < n) {
    int lineNo = tmp.position();
    if (!tmp.next(l))
      inputError(
          "reading section '" + std::string(ncosh) + "' of " + tmp.name(),
          "end of file after " + std::to_string(done) + " of " + std::to_string(n) + " values",
          tmp.name());
    for (int f = 0; f < 5 && done < n; ++f, ++done) {
      double x = 0.0;
      int col = 1 + 16 * f;
      if (!readRealField(l, col, 16, 8, x))
        inputError("reading section '" + std::string(ncosh) + "' of " + tmp.name(),
                   std::string(1, '\'')
                       .append(l.substr(static_cast<std::size_t>(col - 1), 16))
                       .append("' at line " + std::to_string(lineNo) + " is not a real number"),
                   tmp.name());
      if (!std::isfinite(x))
        refuse(" Section 'Coordinates of each shell' holds a value that is not a finite number: " +
                   realText(x),
               kCodeBadValue);
    }
  }
}

void resetRaw() {
  raw.nshell = 0;
  raw.nprim = 0;
  std::fill(std::begin(raw.shtype.a), std::end(raw.shtype.a), 0);
  std::fill(std::begin(raw.shnprim.a), std::end(raw.shnprim.a), 0);
  std::fill(std::begin(raw.shatom.a), std::end(raw.shatom.a), 0);
  std::fill(std::begin(raw.rawexp.a), std::end(raw.rawexp.a), 0.0);
  std::fill(std::begin(raw.rawcoef.a), std::end(raw.rawcoef.a), 0.0);
  std::fill(std::begin(raw.rawpcoef.a), std::end(raw.rawpcoef.a), 0.0);
}

}  // namespace

void input() {
  tmp.copyFrom(kInputName, kScratchName);
  inputFromScratch();
}

void inputFromScratch() {
  resetRaw();
  if (tmp.lineCount() <= 5) refuse(" The required input file (Test.FChk) is missing. STOP", "9999");

  tmp.rewind();
  echoTitle();

  // Kind of calculation, from the method name on line 2.
  std::string_view calc = tmp.line(2);
  std::string_view method = calc.substr(8, 8);
  int unrestricted = 0;
  int plain = 0;
  if (method == methodr) plain = 1;
  if (method == methodu) {
    plain = 1;
    unrestricted = 1;
  }
  if (plain == 0)
    writeLayout(
        "(/,/,10X,'The calculation was other than plain RHF/UHF ',/,/,' (In the DFT case the "
        "single determinant built up of',' the Kohn-Sham orbitals',/,' will be used.)',/,/)");
  if (calc[10] == 'U') unrestricted = 1;
  g.plain = plain;
  g.nat(7) = unrestricted;

  // Counts.  Each is checked before anything is sized or indexed with it.
  g.nat(1) = readCount(numat);
  checkCount(g.nat(1), "Number of atoms", kMaxAtomRead);
  g.nelec = readCount(numel);
  checkCount(g.nelec, "Number of electrons", -1);
  g.nat(5) = readCount(numa);
  checkCount(g.nat(5), "Number of alpha electrons", -1);
  g.nat(6) = readCount(numb);
  checkCount(g.nat(6), "Number of beta electrons", -1);
  g.nat(2) = readCount(numbf);
  checkCount(g.nat(2), "Number of basis functions", kMaxBf);
  raw.nshell = readCount(numcs);
  checkCount(raw.nshell, "Number of contracted shells", kMaxShell);
  findlab(nhang);
  (void)getint();
  findlab(ndegr);
  (void)getint();
  raw.nprim = readCount(numps);
  checkCount(raw.nprim, "Number of primitive shells", kMaxRawPrim);
  g.nshell = raw.nshell;
  g.nprim = raw.nprim;

  findlab(numet);
  g.escf = getreal();
  checkFinite(&g.escf, 1, "SCF Energy");

  // Atoms.
  const int natom = g.nat(1);
  findlab(iatnm);
  getlist(natom, g.ia.data(), iatnm);
  findlab(nucch);
  getlist(natom, g.charge.data(), nucch);
  checkFinite(g.charge.data(), natom, "Nuclear charges");
  findlab(icart);
  getlist(3 * natom, g.coord.a, icart);
  checkFinite(g.coord.a, 3 * natom, "Current cartesian coordinates");

  // Shells and primitives.
  const int nshell = raw.nshell;
  const int nprim = raw.nprim;
  findlab(ishty);
  getlist(nshell, raw.shtype.data(), ishty);
  findlab(npons);
  getlist(nshell, raw.shnprim.data(), npons);
  findlab(mstat);
  getlist(nshell, raw.shatom.data(), mstat);
  findlab(nprex);
  getlist(nprim, raw.rawexp.data(), nprex);
  checkFinite(raw.rawexp.data(), nprim, "Primitive exponents");
  for (int p = 1; p <= nprim; ++p)
    if (!(raw.rawexp(p) > 0.0))
      refuse(" Section 'Primitive exponents': exponent " + std::to_string(p) +
                 " is not positive: " + realText(raw.rawexp(p)),
             kCodeBadValue);
  findlab(ncncf);
  getlist(nprim, raw.rawcoef.data(), ncncf);
  checkFinite(raw.rawcoef.data(), nprim, "Contraction coefficients");
  bool anySP = false;
  for (int s = 1; s <= nshell; ++s) anySP = anySP || raw.shtype(s) == -1;
  if (anySP) {
    findlab(nspcf);
    getlist(nprim, raw.rawpcoef.data(), nspcf);
    checkFinite(raw.rawpcoef.data(), nprim, "P(S=P) Contraction coefficients");
  }
  readShellCoordinates(nshell);

  // Alpha MO coefficients, orbital after orbital.  A value that is not a
  // number (a section shorter than nbf * nbf values meets the next label)
  // ends the read quietly; the coefficients not read stay as they were.
  const int nbf = g.nat(2);
  findlab(mocal);
  {
    ReadResult r = readFreeColumns(tmp, nbf, nbf, g.c1.a, kLd);
    if (r.status == ReadStatus::End)
      inputError("reading section '" + std::string(mocal) + "' of " + tmp.name(), r.detail,
                 tmp.name());
    for (int j = 1; j <= nbf; ++j) checkFinite(g.c1.col(j), nbf, "Alpha MO coefficients");
  }

  // Spin-unrestricted wave functions are refused.
  if (unrestricted == 1) {
    findlab(mocbe);
    writeFree({Item(" This program should not be used for UHF or"),
               Item(" unrestricted DFT calculations!")});
    writeFree({Item(" (Use the original program TARSEL -- or DELKORA-2 -- "), Item("instead.)")});
    writeFree({Item(" ")});
    stopCode("7777");
  }

  // Counting pass: the first line beginning "Tota" is the total energy,
  // every further one heads a total density.  The last of them heads the
  // density analysed.
  tmp.rewind();
  int ndens = -1;
  int lastTota = 0;
  {
    std::string_view l;
    while (tmp.next(l))
      if (l.substr(0, 4) == itot) {
        ++ndens;
        lastTota = tmp.position() - 1;
      }
  }
  if (ndens < 1) refuseNoDensity();
  if (ndens != 1)
    writeFree({Item("Using the "), Item(ndens), Item("-d/th density in the checkpoint file")});

  // Selecting pass: stand just after the last line beginning "Tota".
  tmp.seek(lastTota + 1);
  std::string_view selected = tmp.line(lastTota);
  if (plain == 0 && ndens == 1) {
    writeLayout("(' There is only a single density in',' the checkpoint file - it is used.')");
    if (selected.substr(4, 4) == "l SC" && selected.substr(8, 4) == "F De")
      writeLayout("(' (Only the SCF density ?)')");
    writeFree({Item(" ")});
    writeFree({Item(" ")});
  }

  // The density: the lower triangle row by row, unpacked into a symmetric P.
  {
    const int npack = nbf * (nbf + 1) / 2;
    ReadResult r = readFree(tmp, npack, g.opensh.a);
    if (r.status != ReadStatus::Ok) {
      if (r.count == 0) refuseNoDensity();
      inputError("reading section '" + labelName(selected) + "' of " + tmp.name(), r.detail,
                 tmp.name());
    }
    checkFinite(g.opensh.a, npack, labelName(selected));
    MatView p = view(g.c2);
    int k = 0;
    for (int mu = 1; mu <= nbf; ++mu)
      for (int nu = 1; nu <= mu; ++nu) {
        double x = g.opensh.a[k++];
        p(mu, nu) = x;
        p(nu, mu) = x;
      }
  }

  writeFree({Item(" ")});
  writeFree({Item("Number of primitive shells:"), Item(raw.nprim)});
  g.nat(4) = g.nelec / 2;

  buildBasis(raw);

  writeFree({Item("nocc:"), Item(g.nat(4)), Item("    nalpha:"), Item(g.nat(5)), Item("    nbeta:"),
             Item(g.nat(6))});
  writeFree({Item(" ")});
  if (plain == 1)
    writeFree({Item(" E(SCF)="), Item(g.escf)});
  else
    writeFree({Item(" E(SCF/DFT)="), Item(g.escf)});
  writeFree({Item(" ")});
}

}  // namespace mv
