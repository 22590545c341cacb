#pragma once

namespace brelin::cli {

// Catches SIGINT, SIGTERM and SIGHUP. The first asks the running command to stop cleanly (see
// StopRequested); a second one ends the process at once, with a line end after whatever the
// terminal shows.
void CatchInterrupts();

// The signal that asked to stop, or 0.
int InterruptSignal();

// True once a signal asked to stop; what ConsoleModel::StopRequested asks.
bool StopRequested();

// The exit status for a command that `signal` stopped: 128 + the signal (130 for SIGINT).
int InterruptedExitStatus(int signal);

}  // namespace brelin::cli
