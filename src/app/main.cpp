// Process start: standard streams, signal handlers, then the run.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>

#include "app/classic_run.h"
#include "app/cli.h"
#include "app/output.h"
#include "core/stop.h"

namespace {

void say(const char* text) {
  // write(2) is safe inside a signal handler; the text is short.
  ssize_t rc = ::write(2, text, std::strlen(text));
  rc = ::write(2, "\n", 1);
  (void)rc;
}

// Floating exception, IOT trap, trace trap, quit: report, close the files,
// abort with the default action of SIGABRT.
[[noreturn]] void abortWith(const char* text) {
  say(text);
  std::fflush(stderr);
  std::fflush(nullptr);
  std::fflush(stderr);
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

extern "C" void onFpe(int) {
  abortWith("Floating Exception");
}
extern "C" void onAbrt(int) {
  abortWith("IOT Trap");
}
extern "C" void onTrap(int) {
  abortWith("Trace trap");
}
extern "C" void onQuit(int) {
  abortWith("Quit signal");
}
// An interrupt of the command-line mode: the batch writes what is complete
// and ends with status 130.
volatile std::sig_atomic_t interrupted = 0;
extern "C" void onBatchInterrupt(int) {
  interrupted = 1;
}

extern "C" void onInt(int) {
  say("Interrupt");
  std::exit(1);
}
extern "C" void onTerm(int) {
  say("Killed");
  std::exit(1);
}

// Install a handler unless the signal was ignored when the process started
// (a batch job started with the interrupt ignored keeps it ignored).
void installUnlessIgnored(int sig, void (*handler)(int)) {
  struct sigaction old {};
  if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
  std::signal(sig, handler);
}

// The command line's interrupt handler, installed so that a write blocked
// on a pipe returns at the signal (no restart) and the batch can end.
void installInterrupt(int sig, bool unlessIgnored) {
  struct sigaction act {};
  if (unlessIgnored && sigaction(sig, nullptr, &act) == 0 && act.sa_handler == SIG_IGN) return;
  act = {};
  act.sa_handler = onBatchInterrupt;
  sigemptyset(&act.sa_mask);
  act.sa_flags = 0;
  sigaction(sig, &act, nullptr);
}

// A standard stream that was closed when the process started is held by
// /dev/null opened for reading: no file the run opens can take its place,
// and writing to it fails as writing to a closed stream does.  The holder
// carries close-on-exec, which no standard stream inherited through exec
// can carry: that marks standard input as closed (standardInputClosed).
void holdClosedStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int got = ::open("/dev/null", O_RDONLY);
    if (got >= 0 && got != fd) {
      ::dup2(got, fd);
      ::close(got);
    }
    if (got >= 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
}

// Standard output must have taken the whole report: an output error that
// no stage handles ends the run with a diagnostic and status 2.
int checkOutput(const mv::DescriptorBuffer& out, int status) {
  std::cout.flush();
  if (out.error() == 0 && std::cout) return status;
  std::cerr << "mirvante: cannot write the report to standard output: "
            << std::strerror(out.error() != 0 ? out.error() : EIO) << '\n';
  return mv::kStatusInputError;
}

}  // namespace

int main(int argc, char** argv) {
  holdClosedStreams();
  // The report goes through a buffer of its own that remembers why a write
  // failed; it is written out at the end of the process, also after an
  // interrupt of the classic run.
  static mv::DescriptorBuffer out(STDOUT_FILENO);
  out.install(std::cout);
  std::signal(SIGFPE, onFpe);
  std::signal(SIGABRT, onAbrt);
  std::signal(SIGTRAP, onTrap);
  installUnlessIgnored(SIGQUIT, onQuit);
  if (argc <= 1) {
    // The classic run: no arguments, Test.FChk in the working directory.
    std::signal(SIGTERM, onTerm);
    installUnlessIgnored(SIGINT, onInt);
    return checkOutput(out, mv::runClassic(std::cout, std::cerr));
  }
  installInterrupt(SIGTERM, false);
  installInterrupt(SIGINT, true);
  out.giveUpWhen(&interrupted);
  try {
    return checkOutput(out, mv::runCommandLine(argc, argv, std::cout, std::cerr, &interrupted));
  } catch (const std::exception& e) {
    // What the system refuses outside any one file (memory, threads) ends
    // the run with its reason, never with an uncaught exception.
    std::cout.flush();
    std::cerr << "mirvante: " << e.what() << '\n';
    return mv::kStatusInputError;
  }
}
