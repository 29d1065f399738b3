// Process start: signal handlers, then the main routine.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "driver/run.h"

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

}  // namespace

int main(int /*argc*/, char** /*argv*/) {
  // The command line is never used.
  std::signal(SIGFPE, onFpe);
  std::signal(SIGABRT, onAbrt);
  std::signal(SIGTRAP, onTrap);
  std::signal(SIGTERM, onTerm);
  installUnlessIgnored(SIGQUIT, onQuit);
  installUnlessIgnored(SIGINT, onInt);
  int status = mv::runProgram();
  std::cout.flush();
  std::cerr.flush();
  return status;
}
