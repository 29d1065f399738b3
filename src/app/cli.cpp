#include "app/cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/fragments.h"
#include "app/batch.h"
#include "app/classic_run.h"
#include "core/printable.h"
#include "app/series.h"
#include "core/stop.h"

namespace mv {

namespace fs = std::filesystem;

namespace {

constexpr int kStatusUsage = 2;
constexpr int kStatusInterrupted = 130;

constexpr const char* kDescription =
    "MIRVANTE 1.00: Mulliken populations, Hilbert-space bond orders and valences\n"
    "from wave-function files: formatted checkpoint files (.fchk), Molden files\n"
    "(.molden), AIM wave-function files (.wfn, .wfx) and .mwfn files; also gzip- or\n"
    "xz-compressed, and the format is recognised by the content.\n\n"
    "Without arguments: analyse Test.FChk in the working directory (the classic run).";

constexpr const char* kFooter =
    "Examples:\n"
    "  mirvante job.fchk                      report of one file\n"
    "  mirvante --json runs/*.fchk > all.jsonl one JSON object per file\n"
    "  mirvante -j 4 -o reports runs/*.fchk   reports/STEM.txt for every file\n"
    "  mirvante --svg water.svg water.fchk    report and a drawing of the bonds\n"
    "  mirvante water.wfx water.molden.gz     any format, recognised by its content\n\n"
    "  mirvante --series --plot scan.svg scan/*.fchk\n"
    "                                         bond orders along a scan, and their plot\n\n"
    "Exit status: 0 every file analysed; 1 some file refused or failed;\n"
    "2 usage error; 130 interrupted.";

struct UsageError {
  std::string message;
};
// An interrupt while the options are checked.
struct Interrupted {};

// Option values taken as text and checked here, so that a bad value is
// quoted with what is allowed.
struct RawOptions {
  std::string jobs, minBond, svgLabels;
  std::optional<std::string> fragments, multicenter;
  std::string bonds;  // --bonds, given or not
  bool bondsGiven = false;
};

// A directory to write into, made when missing.
void makeDirectory(const std::string& dir, const char* what) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir))
    throw UsageError{std::string("cannot make the ") + what + " directory " + dir + ": " +
                     (ec ? ec.message() : "not a directory")};
}

// The identity of an existing file (device and inode), as fs::equivalent
// compares them.
using FileId = std::pair<dev_t, ino_t>;
std::optional<FileId> fileId(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{st.st_dev, st.st_ino};
}

// Outputs must not collide with each other nor overwrite an input.  Every
// path is looked at once and looked up in sorted maps, so a batch of
// thousands of files is checked at once; an interrupt ends the check.
void checkOutputs(const BatchOptions& o,
                  std::string (*pathOf)(const BatchOptions&, const std::string&), const char* what,
                  const volatile std::sig_atomic_t* interrupted) {
  auto stopIfInterrupted = [&] {
    if (interrupted != nullptr && *interrupted != 0) throw Interrupted{};
  };
  std::map<FileId, const std::string*> inputs;
  for (const std::string& g : o.files) {
    stopIfInterrupted();
    if (g == "-") continue;
    if (const auto id = fileId(g)) inputs.emplace(*id, &g);
  }
  std::map<std::string, const std::string*> seen;
  for (const std::string& f : o.files) {
    stopIfInterrupted();
    const std::string path = pathOf(o, f);
    const auto [it, fresh] = seen.emplace(fs::absolute(path).lexically_normal().string(), &f);
    if (!fresh)
      throw UsageError{"inputs " + *it->second + " and " + f + " would both write the " + what +
                       " " + path};
    if (const auto id = fileId(path)) {
      if (const auto in = inputs.find(*id); in != inputs.end())
        throw UsageError{"the " + std::string(what) + " " + path + " would overwrite the input " +
                         *in->second};
    }
  }
}

// Outputs of different kinds (a report and a drawing, or a drawing and the
// output directory) must not name the same file: the later one written
// would replace the other.  Paths are compared normalised, and existing
// files also by their identity (links).
void checkOutputsApart(const BatchOptions& o, const volatile std::sig_atomic_t* interrupted) {
  struct Kind {
    const char* what;
    std::string (*pathOf)(const BatchOptions&, const std::string&);
  };
  std::vector<Kind> kinds;
  if (!o.outDir.empty()) kinds.push_back({"output", outputPath});
  if (!o.svg.empty()) kinds.push_back({"drawing", drawingPath});
  if (kinds.size() < 2) return;
  struct Owner {
    const char* what;
    const std::string* input;
  };
  std::map<std::string, Owner> byPath;
  std::map<FileId, Owner> byId;
  auto claim = [&](const std::string& path, Owner owner) {
    const auto clash = [&](const Owner& other) {
      auto name = [](const Owner& w) {
        return std::string(w.what) + (w.input != nullptr ? " of " + displayName(*w.input) : "");
      };
      throw UsageError{"the " + name(owner) + " and the " + name(other) + " would both be " + path +
                       "; give them different names"};
    };
    const auto [it, fresh] = byPath.emplace(fs::absolute(path).lexically_normal().string(), owner);
    if (!fresh && it->second.what != owner.what) clash(it->second);
    if (const auto id = fileId(path)) {
      const auto [at, freshId] = byId.emplace(*id, owner);
      if (!freshId && at->second.what != owner.what) clash(at->second);
    }
  };
  // The output directory itself is a name the drawing must not take.
  if (!o.svgDirectory) claim(o.outDir, {"output directory", nullptr});
  for (const Kind& k : kinds)
    for (const std::string& f : o.files) {
      if (interrupted != nullptr && *interrupted != 0) throw Interrupted{};
      claim(k.pathOf(o, f), {k.what, &f});
    }
}

// A relative output needs the working directory: when it has been removed,
// say so rather than fail on every file.
void checkWorkingDirectory(const std::string& path, const char* what) {
  if (path.empty() || fs::path(path).is_absolute()) return;
  std::error_code ec;
  (void)fs::current_path(ec);
  if (ec)
    throw UsageError{std::string("cannot place the ") + what + " " + path +
                     ": the working directory is not accessible: " + ec.message()};
}

// A whole number from lo to hi, or a usage error that quotes the text and
// says what is allowed.
int wholeNumber(const std::string& option, const std::string& text, int lo, int hi,
                const char* what) {
  std::size_t used = 0;
  long long v = 0;
  try {
    v = std::stoll(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || v < lo || v > hi)
    throw UsageError{option + " '" + text + "': " + what + " must be a whole number from " +
                     std::to_string(lo) + " to " + std::to_string(hi)};
  return static_cast<int>(v);
}

double finiteNumber(const std::string& option, const std::string& text, const char* what) {
  std::size_t used = 0;
  double v = 0.0;
  try {
    v = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !std::isfinite(v))
    throw UsageError{option + " '" + text + "': " + what + " must be a finite number"};
  return v;
}

// A drawing is SVG text; a name that promises another picture format is
// refused rather than filled with SVG.
void checkDrawingName(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const std::set<std::string> kOther = {".png", ".jpg", ".jpeg", ".gif",
                                               ".bmp", ".tif", ".tiff", ".pdf"};
  if (kOther.contains(ext))
    throw UsageError{"--svg '" + path + "': the drawing is SVG, not " + ext.substr(1) +
                     "; give a name ending in .svg (and convert the picture afterwards), " +
                     "or a directory"};
}

// Inputs of different names with one stem (job.fchk, job.molden) would
// write the same outputs: theirs keep the format suffix (job.fchk.txt,
// job.molden.txt), and a note says so.
void resolveSharedStems(BatchOptions& o, std::vector<std::string>& notes) {
  if (o.outDir.empty() && !(!o.svg.empty() && o.svgDirectory)) return;
  const auto shared = sharedStems(o.files);
  for (const auto& entry : shared) o.sharedStems.insert(entry.first);
  for (const auto& [stem, inputs] : shared) {
    std::string names, outputs;
    for (const std::string& f : inputs) {
      names += (names.empty() ? "" : ", ") + f;
      const std::string out = o.outDir.empty() ? drawingPath(o, f) : outputPath(o, f);
      outputs += (outputs.empty() ? "" : ", ") + fs::path(out).filename().string();
    }
    notes.push_back("mirvante: note: " + names + " share the stem '" + stem +
                    "': their outputs keep the format suffix (" + outputs + ")");
  }
}

// The options of a series: --bonds and --plot belong to it, and the
// outputs of single files (-o, --svg) and the extra analyses of the report
// (--lowdin, --matrix) do not.  The plot must not replace an input.
void validateSeries(BatchOptions& o, const RawOptions& raw) {
  if (!o.series) {
    if (raw.bondsGiven) throw UsageError{"--bonds needs --series"};
    if (!o.plot.empty()) throw UsageError{"--plot needs --series"};
    return;
  }
  const std::pair<bool, const char*> excluded[] = {{!o.outDir.empty(), "-o"},
                                                   {!o.svg.empty(), "--svg"},
                                                   {!raw.svgLabels.empty(), "--svg-labels"},
                                                   {o.lowdin, "--lowdin"},
                                                   {o.matrix, "--matrix"}};
  for (const auto& [given, name] : excluded)
    if (given)
      throw UsageError{std::string("--series cannot be combined with ") + name +
                       " (the series writes one table, or one JSON object, and --plot)"};
  if (raw.bondsGiven) {
    try {
      o.seriesBonds = parseBondPairs(raw.bonds);
    } catch (const std::invalid_argument& e) {
      throw UsageError{e.what()};
    }
  }
  if (!o.plot.empty()) {
    std::error_code ec;
    if (o.plot.back() == '/' || fs::is_directory(o.plot, ec))
      throw UsageError{"--plot '" + o.plot + "': give the name of an SVG file, not a directory"};
    std::string ext = fs::path(o.plot).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".svg")
      throw UsageError{"--plot '" + o.plot + "': the plot is SVG; give a name ending in .svg"};
    checkWorkingDirectory(o.plot, "plot");
    if (const auto id = fileId(o.plot)) {
      for (const std::string& f : o.files)
        if (f != "-" && fileId(f) == id)
          throw UsageError{"the plot " + o.plot + " would overwrite the input " + f};
    }
  }
}

void validate(BatchOptions& o, const RawOptions& raw, std::vector<std::string>& notes,
              const volatile std::sig_atomic_t* interrupted) {
  if (!raw.jobs.empty()) o.jobs = wholeNumber("-j", raw.jobs, 1, 4096, "the number of threads");
  if (!raw.minBond.empty())
    o.minBond = finiteNumber("--min-bond", raw.minBond, "the smallest bond order");
  if (!raw.svgLabels.empty()) {
    if (raw.svgLabels == "none")
      o.svgLabels = SvgLabels::None;
    else if (raw.svgLabels == "bonds")
      o.svgLabels = SvgLabels::Bonds;
    else if (raw.svgLabels == "all")
      o.svgLabels = SvgLabels::All;
    else
      throw UsageError{"--svg-labels '" + raw.svgLabels + "': give none, bonds or all"};
  }
  // Groups of atoms: their form here, their atoms against each file's
  // molecule when it is read.
  try {
    if (raw.fragments) o.fragments = parseFragments(*raw.fragments);
  } catch (const std::invalid_argument& e) {
    throw UsageError{"--fragments '" + *raw.fragments + "': " + e.what()};
  }
  try {
    if (raw.multicenter) o.rings = parseRings(*raw.multicenter);
  } catch (const std::invalid_argument& e) {
    throw UsageError{"--multicenter '" + *raw.multicenter + "': " + e.what()};
  }
  if (o.files.empty()) throw UsageError{"no FILE given (the classic run takes no argument at all)"};
  validateSeries(o, raw);
  if (!o.svg.empty()) {
    std::error_code ec;
    o.svgDirectory = o.files.size() > 1 || o.svg.back() == '/' || fs::is_directory(o.svg, ec);
    if (!o.svgDirectory) checkDrawingName(o.svg);
  }
  int stdinCount = 0;
  for (const std::string& f : o.files) stdinCount += f == "-" ? 1 : 0;
  if (stdinCount > 1) throw UsageError{"standard input ('-') can be given only once"};
  if (o.density.find_first_not_of(' ') == std::string::npos && !o.density.empty())
    throw UsageError{"--density needs a kind of density, such as SCF or MP2"};
  checkWorkingDirectory(o.outDir, "output directory");
  checkWorkingDirectory(o.svg, "drawing");
  resolveSharedStems(o, notes);
  // Every output is checked before any directory is made.
  if (!o.outDir.empty()) checkOutputs(o, outputPath, "output", interrupted);
  if (!o.svg.empty()) checkOutputs(o, drawingPath, "drawing", interrupted);
  checkOutputsApart(o, interrupted);
  if (!o.outDir.empty()) makeDirectory(o.outDir, "output");
  if (!o.svg.empty() && o.svgDirectory) makeDirectory(o.svg, "drawing");
}

}  // namespace

int runCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err,
                   const volatile std::sig_atomic_t* interrupted) {
  BatchOptions o;
  const unsigned cores = std::thread::hardware_concurrency();
  o.jobs = cores == 0 ? 1 : static_cast<int>(cores);

  CLI::App app(kDescription, "mirvante");
  app.footer(kFooter);
  app.set_version_flag("--version", "MIRVANTE 1.00");
  // Unknown options are kept aside and named after the parse (CLI11 would
  // report the missing FILE first).
  app.allow_extras();
  RawOptions raw;
  std::vector<std::string> notes;
  app.add_option("FILE", o.files,
                 "files to analyse: .fchk, .molden, .wfn, .wfx, .mwfn, also compressed "
                 "('-' for standard input)");
  app.add_flag("--json", o.json, "write JSON Lines: one object per file, in input order");
  app.add_option("-o,--output-dir", o.outDir,
                 "write each file's output to DIR/STEM.txt (or DIR/STEM.json with --json)")
      ->type_name("DIR");
  app.add_option("-j,--jobs", raw.jobs,
                 "use at most N threads, 1 to 4096 (default: the number of cores)")
      ->type_name("N");
  app.add_option("--min-bond", raw.minBond,
                 "list (and draw) the bonds whose order is at least this (default 0.1)")
      ->type_name("ORDER");
  app.add_option("--density", o.density,
                 "analyse the file's 'Total KIND Density' (SCF, MP2, CC, CI, ...) instead of "
                 "the last total density")
      ->type_name("KIND");
  app.add_flag("--lowdin", o.lowdin,
               "also compute Lowdin charges and Wiberg-Lowdin bond indices (needs S^1/2)");
  app.add_flag("--matrix", o.matrix,
               "print the bond-order matrix for any number of atoms (default: up to 20)");
  app.add_option("--fragments", raw.fragments,
                 "sum charges, valences and bond orders over groups of atoms: 'auto' (the "
                 "bonded pieces) or groups like '1-3,7;4-6' (atoms from 1; the atoms not "
                 "listed form a last group)")
      ->type_name("SPEC");
  app.add_option("--multicenter", raw.multicenter,
                 "multicentre bond indices of rings of atoms in cyclic order, like "
                 "'1,2,3;4,5,6,7,8,9'")
      ->type_name("RINGS");
  app.add_option("--svg", o.svg,
                 "draw the molecule with its bond orders: PATH is the SVG file for one input, "
                 "a directory receiving STEM.svg for several (or when PATH ends in '/' or is a "
                 "directory)")
      ->type_name("PATH");
  app.add_option("--svg-labels", raw.svgLabels,
                 "labels of the drawing: none (atoms only), bonds (and bond orders), all (and "
                 "charges); default: bonds, none for large molecules")
      ->type_name("WHAT");
  app.add_flag("--series", o.series,
               "the files, in the order given, are the frames of one path (a scan, an IRC, two "
               "structures): a table of the bond orders frame by frame and the bonds formed and "
               "broken");
  app.add_option("--bonds", raw.bonds,
                 "with --series: the pairs of atoms to follow, such as 1-2,2-5 (default: every "
                 "pair whose order reaches --min-bond in some frame)")
      ->type_name("PAIRS");
  app.add_option("--plot", o.plot,
                 "with --series: write a line chart of the bond orders (and energies) along the "
                 "series to PATH.svg")
      ->type_name("PATH");

  try {
    app.parse(argc, argv);
    if (!app.remaining().empty()) throw CLI::ExtrasError(app.remaining());
    raw.bondsGiven = app.count("--bonds") > 0;
    validate(o, raw, notes, interrupted);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    err << "mirvante: " << e.what() << "\n"
        << "Run 'mirvante --help' for the options.\n";
    return kStatusUsage;
  } catch (const UsageError& e) {
    err << "mirvante: " << e.message << '\n';
    return kStatusUsage;
  } catch (const Interrupted&) {
    err << "mirvante: interrupted\n";
    return kStatusInterrupted;
  } catch (const fs::filesystem_error& e) {
    // What the checks above did not foresee still ends with a message.
    err << "mirvante: " << e.path1().string() << ": " << e.code().message() << '\n';
    return kStatusUsage;
  }
  for (const std::string& note : notes) err << printable(note) << '\n';
  o.progress = ::isatty(STDERR_FILENO) == 1;
  if (o.series) return runSeries(o, out, err, interrupted);
  return runBatch(o, out, err, interrupted);
}

}  // namespace mv
