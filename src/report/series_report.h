// The outputs of a series of frames (--series): the text table of the bond
// orders along the series with the bonds formed and broken, the JSON object,
// and the line chart of the bond orders (and energies) frame by frame.
#pragma once

#include <ostream>
#include <string>

#include "analysis/series.h"

namespace mv {

// "C2-O5": the two atoms of a pair by element and number.
std::string pairLabel(const Series& s, const AtomPair& p);

// The table "BOND ORDERS ALONG THE SERIES" (frame, file, energy when any
// frame has one, one column per bond; with two frames a row of the
// differences, second minus first) and the list "BONDS FORMED AND BROKEN".
void writeSeriesText(std::ostream& out, const Series& s);

// {"series": {"files", "energies", "bonds", "bond_orders", "events"}} on one
// line, without a line end; atoms and frames counted from 1.
std::string seriesJson(const Series& s);

// The line chart as a standalone SVG document: one line per bond with a
// point per frame, the event threshold, a legend right of the plot naming
// the pairs, and, when there are energies, a second panel of the energy
// relative to the first frame that has one.  Class names: "plot-area",
// "bond-line" and "bond-point" (data-atoms="I J"), "event-threshold",
// "energy-line", "energy-point", "axis", "tick-label", "axis-title",
// "legend", "legend-entry", "title", "subtitle".
void writeSeriesSvg(std::ostream& out, const Series& s);

}  // namespace mv
