// The command-line mode: every file given is analysed, N at a time, and the
// outputs are written in input order.
#pragma once

#include <csignal>
#include <map>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "analysis/fragments.h"
#include "analysis/series.h"
#include "core/parallel.h"
#include "report/svg.h"

namespace mv {

struct RunResults;

struct BatchOptions {
  std::vector<std::string> files;
  bool json = false;          // JSON Lines instead of the text report
  std::string outDir;         // one output file per input there; "" for standard output
  std::string svg;            // drawing: a file, or a directory (svgDirectory); "" for none
  bool svgDirectory = false;  // several inputs, a trailing '/' or an existing directory
  SvgLabels svgLabels = SvgLabels::Auto;  // which labels the drawing prints
  int jobs = 1;                           // threads in all
  double minBond = 0.1;   // bonds listed (report, JSON) and drawn (SVG) from this order on
  bool lowdin = false;    // Löwdin populations and Wiberg-Löwdin indices
  bool matrix = false;    // the report's bond-order matrix for any number of atoms
  bool progress = false;  // show a progress line on the error stream
  std::string density;    // the kind of total density to analyse ("SCF", "MP2"); "" the last
  // Stems that several inputs share ("job" of job.fchk and job.molden): the
  // outputs of those inputs keep the format suffix (job.fchk.txt).
  std::set<std::string> sharedStems;

  // Groups of atoms: --fragments (empty for none) and the rings of
  // --multicenter (atoms from 1).
  FragmentRequest fragments;
  std::vector<std::vector<int>> rings;
  // For callers in the same process (the Python module): keep the run's
  // values and make both outputs, the report in FileResult::output and the
  // JSON line in FileResult::json, whatever `json` says.
  bool keep = false;
  // A series (--series): of each file only the values the series takes
  // (FileResult::frame), no report and no JSON line; the bond orders of
  // `seriesBonds`, or of every pair when it is empty.
  bool series = false;
  std::vector<AtomPair> seriesBonds;
  std::string plot;  // --plot: the series' line chart; "" for none
};

// What one file gave.
struct FileResult {
  std::string output;      // the report or the JSON line, ready to write
  std::string diagnostic;  // the line for standard error, "" when the file was analysed
  std::string drawing;     // the SVG, when asked for and the analysis is complete
  bool ok = false;
  // An atom of --fragments or --multicenter is not in the file's molecule:
  // a usage error.
  bool badOption = false;
  // With BatchOptions::keep: the JSON line (without its line end) and the
  // values of the run, also when it stopped.
  std::string json;
  std::shared_ptr<RunResults> run;
  // With BatchOptions::series: the frame's values, when the analysis is
  // complete (its matrices are released before the result is handed on).
  std::optional<SeriesFrame> frame;
};

// The name of an input in headers and diagnostics.
std::string displayName(const std::string& file);

// Analyse one file; `header` puts the "==> FILE <==" line before the report.
FileResult analyseFile(const std::string& file, const BatchOptions& options, bool header,
                       const Parallel& par);

// The drawing of a complete analysis: atoms, bonds of order options.minBond or more,
// charges and free valences.
std::string drawing(const RunResults& r, const BatchOptions& options);

// The stem of an input's name ("water" for "runs/water.fchk" and for
// "water.molden.gz", "stdin" for "-"): the name without a compression
// suffix and without the format's suffix.
std::string stemOf(const std::string& file);
// The stems that inputs of different names share, each with those inputs
// in input order.
std::map<std::string, std::vector<std::string>> sharedStems(const std::vector<std::string>& files);
// Where -o DIR writes the output of `file` (DIR/STEM.txt or DIR/STEM.json;
// DIR/NAME.txt, the name without a compression suffix, when the stem is one
// of options.sharedStems).
std::string outputPath(const BatchOptions& options, const std::string& file);
// Where --svg PATH puts the drawing of `file`: PATH/STEM.svg when PATH is a
// directory (several inputs, a trailing '/' or an existing directory), else
// PATH itself.
std::string drawingPath(const BatchOptions& options, const std::string& file);

// The progress line's estimate of the seconds left: the time spent so far
// per byte of the files done, times the bytes still to do.  Negative when
// nothing is done yet.
double secondsLeft(double elapsed, unsigned long long doneBytes, unsigned long long totalBytes);

// Analyse every file and write the outputs in input order; returns the exit
// status: 0 when every file was analysed, 1 when any was refused or failed.
// When `interrupted` becomes non-zero, the outputs that are complete (in
// input order) are written and the process ends at once with status 130,
// without waiting for the analyses under way.
int runBatch(const BatchOptions& options, std::ostream& out, std::ostream& err,
             const volatile std::sig_atomic_t* interrupted);

// A caller that takes each file's result in input order instead of its
// output (a series).  It may turn a result into a failure by setting `ok`
// false and its `diagnostic`, which the batch then writes and counts; it
// returns false to end the batch after this file.
using FileSink = std::function<bool(std::size_t index, FileResult& result)>;
// runBatch with the results handed to `sink` rather than written.
int runBatch(const BatchOptions& options, std::ostream& out, std::ostream& err,
             const volatile std::sig_atomic_t* interrupted, const FileSink& sink);

}  // namespace mv
