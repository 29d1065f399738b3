// The checkpoint reader.
#pragma once

#include "checkpoint/basis.h"

namespace mv {

// Copy "Test.FChk" into "Tmp", echo the title, read every section and fill
// the shared tables (counts, atoms, basis, MO coefficients, density), or stop.
void input();

// The same, on a scratch copy that is already loaded (tmp); used by input()
// after the copy and by in-process runs.
void inputFromScratch();

// The raw shell tables of the last read (kept for inspection by tests).
extern RawBasis raw;

}  // namespace mv
