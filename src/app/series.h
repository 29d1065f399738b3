// The command line's series (--series): the files given are the frames of one
// path, analysed as a batch; of each frame the bond orders of the pairs
// followed and the energy are kept, and the series is written once all the
// frames are in: the text table or the JSON object, and the line chart.
#pragma once

#include <csignal>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "analysis/series.h"
#include "app/batch.h"

namespace mv {

// "1-2,2-5": pairs of atoms counted from 1, each once, as (smaller,
// larger), in the order given.  Throws std::invalid_argument with a message
// that quotes the part that is not a pair.
std::vector<AtomPair> parseBondPairs(const std::string& text);

struct SeriesOutcome {
  Series series;
  int status = 0;  // 0 every frame taken; 1 a frame failed or was skipped; 2 a bad --bonds
  bool refusedBonds = false;  // a pair of --bonds names an atom the molecule lacks
  // The files left out, each with its diagnostic line, in input order.
  std::vector<std::pair<std::string, std::string>> skipped;
};

// Analyse the frames (options.files) and gather the series; the diagnostics
// of frames that fail or have other atoms than the first go to `err`.
SeriesOutcome collectSeries(BatchOptions options, std::ostream& out, std::ostream& err,
                            const volatile std::sig_atomic_t* interrupted);

// The whole --series run: the series, its text or JSON on `out`, the chart
// at options.plot.  Returns the exit status.
int runSeries(const BatchOptions& options, std::ostream& out, std::ostream& err,
              const volatile std::sig_atomic_t* interrupted);

}  // namespace mv
