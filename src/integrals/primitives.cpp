// PLACEHOLDER until the primitive integrals land.
#include "integrals/primitives.h"

namespace mv {
void init() {}
}  // namespace mv
