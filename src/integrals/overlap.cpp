// PLACEHOLDER until the overlap matrix lands.
#include "integrals/overlap.h"

namespace mv {
void buildOverlap() {}
}  // namespace mv
