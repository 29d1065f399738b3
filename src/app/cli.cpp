#include "app/cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <thread>

#include "app/batch.h"
#include "app/classic_run.h"
#include "core/stop.h"

namespace mv {

namespace fs = std::filesystem;

namespace {

constexpr int kStatusUsage = 2;

constexpr const char* kDescription =
    "MIRVANTE 1.00: Mulliken populations, Hilbert-space bond orders and valences\n"
    "from Gaussian formatted checkpoint files.\n\n"
    "Without arguments: analyse Test.FChk in the working directory (the classic run).";

constexpr const char* kFooter =
    "Examples:\n"
    "  mirvante job.fchk                      report of one file\n"
    "  mirvante --json runs/*.fchk > all.jsonl one JSON object per file\n"
    "  mirvante -j 4 -o reports runs/*.fchk   reports/STEM.txt for every file\n"
    "  mirvante --svg water.svg water.fchk    report and a drawing of the bonds\n\n"
    "Exit status: 0 every file analysed; 1 some file refused or failed;\n"
    "2 usage error; 130 interrupted.";

struct UsageError {
  std::string message;
};

// A directory to write into, made when missing.
void makeDirectory(const std::string& dir, const char* what) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir))
    throw UsageError{std::string("cannot make the ") + what + " directory " + dir + ": " +
                     (ec ? ec.message() : "not a directory")};
}

// Outputs must not collide with each other nor overwrite an input.
void checkOutputs(const BatchOptions& o,
                  std::string (*pathOf)(const BatchOptions&, const std::string&),
                  const char* what) {
  std::map<std::string, std::string> seen;
  for (const std::string& f : o.files) {
    const std::string path = pathOf(o, f);
    const auto [it, fresh] = seen.emplace(fs::absolute(path).lexically_normal().string(), f);
    if (!fresh)
      throw UsageError{"inputs " + it->second + " and " + f + " would both write the " + what +
                       " " + path};
    std::error_code ec;
    for (const std::string& g : o.files)
      if (g != "-" && fs::equivalent(path, g, ec))
        throw UsageError{"the " + std::string(what) + " " + path + " would overwrite the input " +
                         g};
  }
}

void validate(BatchOptions& o) {
  int stdinCount = 0;
  for (const std::string& f : o.files) stdinCount += f == "-" ? 1 : 0;
  if (stdinCount > 1) throw UsageError{"standard input ('-') can be given only once"};
  if (!std::isfinite(o.minBond)) throw UsageError{"--min-bond needs a finite number"};
  // Every output is checked before any directory is made.
  if (!o.outDir.empty()) checkOutputs(o, outputPath, "output");
  if (!o.svg.empty()) checkOutputs(o, drawingPath, "drawing");
  if (!o.outDir.empty()) makeDirectory(o.outDir, "output");
  if (!o.svg.empty() && o.files.size() > 1) makeDirectory(o.svg, "drawing");
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
  app.add_option("FILE", o.files,
                 "Gaussian formatted checkpoint files to analyse ('-' for standard input)")
      ->required();
  app.add_flag("--json", o.json, "write JSON Lines: one object per file, in input order");
  app.add_option("-o,--output-dir", o.outDir,
                 "write each file's output to DIR/STEM.txt (or DIR/STEM.json with --json)")
      ->type_name("DIR");
  app.add_option("-j,--jobs", o.jobs, "use at most N threads (default: the number of cores)")
      ->type_name("N")
      ->check(CLI::Range(1, 4096));
  app.add_option("--min-bond", o.minBond,
                 "list (and draw) the bonds whose order is at least this (default 0.1)")
      ->type_name("ORDER");
  app.add_flag("--lowdin", o.lowdin,
               "also compute Lowdin charges and Wiberg-Lowdin bond indices (needs S^1/2)");
  app.add_flag("--matrix", o.matrix,
               "print the bond-order matrix for any number of atoms (default: up to 20)");
  app.add_option("--svg", o.svg,
                 "draw the molecule with its bond orders: PATH is the SVG file for one input, "
                 "a directory receiving STEM.svg for several")
      ->type_name("PATH");

  try {
    app.parse(argc, argv);
    validate(o);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    err << "mirvante: " << e.what() << "\n"
        << "Run 'mirvante --help' for the options.\n";
    return kStatusUsage;
  } catch (const UsageError& e) {
    err << "mirvante: " << e.message << '\n';
    return kStatusUsage;
  }
  o.progress = ::isatty(STDERR_FILENO) == 1;
  return runBatch(o, out, err, interrupted);
}

}  // namespace mv
