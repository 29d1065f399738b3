// Process start: standard streams, signal handlers, then the run.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/classic_run.h"
#include "app/cli.h"
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

// A standard stream that was closed when the process started is held by
// /dev/null opened for reading: no file the run opens can take its place,
// and writing to it fails as writing to a closed stream does.
void holdClosedStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int got = ::open("/dev/null", O_RDONLY);
    if (got >= 0 && got != fd) {
      ::dup2(got, fd);
      ::close(got);
    }
  }
}

// Standard output must have taken the whole report: an output error that
// no stage handles ends the run with a diagnostic and status 2.
int checkOutput(int status) {
  std::cout.flush();
  errno = 0;
  const bool failed = !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  if (!failed) return status;
  const int err = errno;
  std::cerr << "mirvante: cannot write the report to standard output: "
            << (err != 0 ? std::strerror(err) : "write error") << '\n';
  return mv::kStatusInputError;
}

}  // namespace

int main(int argc, char** argv) {
  holdClosedStreams();
  std::signal(SIGFPE, onFpe);
  std::signal(SIGABRT, onAbrt);
  std::signal(SIGTRAP, onTrap);
  installUnlessIgnored(SIGQUIT, onQuit);
  if (argc <= 1) {
    // The classic run: no arguments, Test.FChk in the working directory.
    std::signal(SIGTERM, onTerm);
    installUnlessIgnored(SIGINT, onInt);
    return checkOutput(mv::runClassic(std::cout, std::cerr));
  }
  std::signal(SIGTERM, onBatchInterrupt);
  installUnlessIgnored(SIGINT, onBatchInterrupt);
  return checkOutput(mv::runCommandLine(argc, argv, std::cout, std::cerr, &interrupted));
}
