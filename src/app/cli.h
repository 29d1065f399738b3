// The command line: `mirvante [OPTIONS] FILE...`.
#pragma once

#include <csignal>
#include <ostream>

namespace mv {

// Parse the options, check them, and analyse the files.  Returns the exit
// status: 0 every file analysed (or --help, --version), 1 any file refused
// or failed, 2 a usage error.  On an interrupt (`interrupted` non-zero) the
// batch ends the process with status 130.
int runCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err,
                   const volatile std::sig_atomic_t* interrupted);

}  // namespace mv
