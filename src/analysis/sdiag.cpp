// PLACEHOLDER until the eigen-solver lands.
#include "analysis/analysis.h"

namespace mv {
void sdiag(double*, int, double*, int) {}
}  // namespace mv
