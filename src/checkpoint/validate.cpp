#include "checkpoint/validate.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "core/elements.h"
#include "core/stop.h"

namespace mv {

namespace {

// Nuclear charges are whole numbers in practice; this allows for their
// printed form.
constexpr double kChargeTolerance = 1e-6;

std::string number(double x) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.10G", x);
  return buf;
}

// The line of the section recorded under `label`; for a Molden file, whose
// sections have other names, the line of its atoms or of its orbitals.
int lineFor(const Checkpoint& ck, const char* label) {
  if (const int k = ck.lineOf(label)) return k;
  const bool atoms = label == kAtomicNumbersLabel || label == kNuclearChargesLabel;
  return ck.lineOf(atoms ? "[Atoms]" : "[MO]");
}

[[noreturn]] void bad(const Checkpoint& ck, const char* label, const std::string& message) {
  refuse(" " + message, kCodeBadValue, lineFor(ck, label));
}

}  // namespace

void validateCheckpoint(const Checkpoint& ck) {
  const int natoms = ck.atomicNumber.size();
  for (int a = 1; a <= natoms; ++a) {
    const int z = ck.atomicNumber(a);
    if (z < 0 || z > kMaxElement)
      bad(ck, kAtomicNumbersLabel,
          "Atom " + std::to_string(a) + " has atomic number " + std::to_string(z) +
              ", which is no element (0 to " + std::to_string(kMaxElement) + ")");
  }
  double nuclear = 0.0;
  for (int a = 1; a <= natoms && a <= ck.nuclearCharge.size(); ++a) {
    const double q = ck.nuclearCharge(a);
    if (!(q >= 0.0))
      bad(ck, kNuclearChargesLabel,
          "Atom " + std::to_string(a) + " has a negative nuclear charge, " + number(q));
    nuclear += q;
  }

  const std::string counts =
      std::to_string(ck.nalpha) + " alpha and " + std::to_string(ck.nbeta) + " beta electrons";
  if (static_cast<long long>(ck.nalpha) + ck.nbeta != ck.electrons)
    bad(ck, kElectronsLabel,
        "The file has " + std::to_string(ck.electrons) + " electrons, but " + counts);
  if (ck.nbeta < 0 || ck.nbeta > ck.nalpha)
    bad(ck, kBetaLabel, "The file has " + counts + ": more beta than alpha electrons");
  // Without electrons the populations are the bare nuclear charges and every
  // bond order is zero: nothing of the file would be analysed.
  if (ck.electrons == 0)
    bad(ck, kElectronsLabel, "The file has 0 electrons: there is no density to analyse");
  if (ck.multiplicity && *ck.multiplicity != ck.nalpha - ck.nbeta + 1)
    bad(ck, kMultiplicityLabel,
        "Multiplicity " + std::to_string(*ck.multiplicity) + " does not fit " + counts +
            " (multiplicity " + std::to_string(ck.nalpha - ck.nbeta + 1) + ")");
  if (ck.charge && natoms == ck.nuclearCharge.size() &&
      std::fabs(nuclear - *ck.charge - ck.electrons) > kChargeTolerance * (1 + natoms))
    bad(ck, kChargeLabel,
        "Charge " + std::to_string(*ck.charge) + " does not fit " + std::to_string(ck.electrons) +
            " electrons and nuclear charges summing to " + number(nuclear));
}

}  // namespace mv
