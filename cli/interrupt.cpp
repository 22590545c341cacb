#include "cli/interrupt.h"

#include <csignal>
#include <cstdlib>
#include <initializer_list>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace brelin::cli {
namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnSignal(int signal) {
  if (stopSignal != 0) {
    // The operator will not wait for the clean-up: leave at once, without running exit code.
#ifdef _WIN32
    std::_Exit(InterruptedExitStatus(signal));
#else
    (void)!::write(STDERR_FILENO, "\n", 1);
    ::_exit(InterruptedExitStatus(signal));
#endif
  }
  stopSignal = signal;
}

}  // namespace

void CatchInterrupts() {
#ifdef _WIN32
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait in poll() wakes up and sees the request
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

int InterruptSignal() {
  return stopSignal;
}

bool StopRequested() {
  return stopSignal != 0;
}

int InterruptedExitStatus(int signal) {
  return 128 + signal;
}

}  // namespace brelin::cli
