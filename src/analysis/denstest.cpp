// PLACEHOLDER until the density verification lands.
#include "analysis/analysis.h"

namespace mv {
void denstest() {}
}  // namespace mv
