// The results of one file as one line of JSON (JSON Lines: one object per
// input file).  Numbers are written at full double precision, so that they
// read back exactly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analysis/bondorder.h"
#include "analysis/convention.h"
#include "analysis/density.h"
#include "analysis/fragments.h"
#include "analysis/lowdin.h"
#include "analysis/multicenter.h"
#include "analysis/partition.h"
#include "analysis/spin.h"
#include "checkpoint/checkpoint.h"
#include "core/stop.h"

namespace mv {

// What the JSON object is made from: the stages' values, as far as the run
// got.  Pointers are null for stages that did not run.
struct JsonInput {
  std::string file;  // the path as given
  const Checkpoint* ck = nullptr;
  const DensityCheck* density = nullptr;
  const Populations* populations = nullptr;
  const BondOrders* bonds = nullptr;
  const OrbitalConvention* convention = nullptr;  // a Molden file's, once decided
  const SpinPopulations* spin = nullptr;          // null for a closed shell
  const LowdinAnalysis* lowdin = nullptr;         // null without the Löwdin analysis
  const Stop* stop = nullptr;                     // how the run ended early, or null
  double minBond = 0.1;                           // pairs listed under "bonds" from this order on
  // Written only when asked for (non-null): "fragments" and the matrices
  // of sums between them, "multicenter".
  const FragmentAnalysis* fragments = nullptr;
  const MulticenterAnalysis* multicenter = nullptr;
};

// The object, without a line end.
std::string jsonLine(const JsonInput& in);

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool isUtf8(std::string_view text);

// A file name that is not UTF-8 as JSON can carry it and a reader can undo:
// every byte that is not part of a well-formed UTF-8 character becomes the
// four characters \xHH (two upper-case hexadecimal digits) and every
// backslash becomes two.  The "file" field holds a name written so only
// when the name is not UTF-8, and then "file_escaped": true follows it.
std::string escapeNonUtf8(std::string_view name);

// The spin treatment of a wave function: "restricted", "restricted
// open-shell" or "unrestricted".
std::string spinKind(const Checkpoint& ck);

}  // namespace mv
