// The kind of an input file, decided once from its content (never from its
// name): a formatted checkpoint file, a Molden file, or something the
// program does not read.
#pragma once

#include <string_view>

#include "checkpoint/checkpoint.h"

namespace mv {

// What the refusals say the program reads.
inline constexpr std::string_view kWhatIsRead =
    "mirvante reads formatted checkpoint files (fchk), Molden files and the wave-function files "
    ".wfn, .wfx and .mwfn";

// The format of `bytes`.  A Molden file begins with "[Molden Format]" (after
// blank lines, in any case); a .wfx file with a tag ("<Title>"), and a .mwfn
// file with "Wfntype=", after blank and '#' comment lines; a .wfn file has
// its counts of MOL ORBITALS, PRIMITIVES and NUCLEI on line 2; other text is taken for a formatted
// checkpoint file, whose reader names what it misses.  An empty file, a PDF document and binary
// data (a Gaussian .chk among them) are refused with one line that says what the program reads;
// nothing of their content is shown.
FileFormat detectFormat(std::string_view bytes);

}  // namespace mv
