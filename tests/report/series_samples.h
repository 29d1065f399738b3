// A made-up series for the chart's tests and its rendering check: a chain
// of atoms whose bonds rise and fall along the frames.
#pragma once

#include <cstddef>

#include "analysis/series.h"

namespace mvtest {

// `bonds` bonds (atoms i, i+1 of a chain of C, O, N, H), `frames` frames,
// each bond's order a wave about 0.5 (0.05 to 0.95) of its own phase, and
// an energy per frame when `energies` (frame 2 without one when there are
// three frames or more, to show the gap).
mv::Series sampleSeries(std::size_t bonds, std::size_t frames, bool energies);

}  // namespace mvtest
