#include "report/series_samples.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace mvtest {

mv::Series sampleSeries(std::size_t bonds, std::size_t frames, bool energies) {
  std::vector<mv::AtomPair> pairs;
  for (std::size_t b = 0; b < bonds; ++b)
    pairs.emplace_back(static_cast<int>(b) + 1, static_cast<int>(b) + 2);
  mv::SeriesBuilder builder(pairs, 0.1);
  const int chain[] = {6, 8, 7, 1};
  std::vector<int> z;
  for (std::size_t a = 0; a <= bonds; ++a) z.push_back(chain[a % 4]);
  for (std::size_t k = 0; k < frames; ++k) {
    mv::SeriesFrame f;
    f.file = "frame_" + std::to_string(k + 1) + ".fchk";
    f.atomicNumbers = z;
    const double t = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(frames);
    for (std::size_t b = 0; b < bonds; ++b) {
      // Phases spread by the golden angle and amplitudes of five sizes, so
      // that no two bonds follow the same curve.
      const double phase = 2.399963 * static_cast<double>(b);
      const double amplitude = 0.25 + 0.05 * static_cast<double>((b * 3) % 5);
      f.orders.push_back(0.5 + amplitude * std::sin(t + phase));
    }
    if (energies && !(frames >= 3 && k == 1)) f.energy = -100.0 + 0.02 * std::sin(t) - 0.001 * t;
    builder.add(std::move(f));
  }
  return builder.finish();
}

}  // namespace mvtest
