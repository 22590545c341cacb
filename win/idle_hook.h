#pragma once

#include <windows.h>

#include "serial/port.h"

namespace brelin::win {

// Hands one message to its window; keys go through the dialog manager first (Tab, Enter,
// Escape, mnemonics) when the message is for a dialog or one of its controls.
void DispatchMessageOf(MSG& message);

// Dispatches every pending message. A WM_QUIT is left for the message loop that owns it.
void DispatchPending();

// The IdleHook while the window runs: dispatches the pending messages, then sleeps until a new
// message arrives, the Port's arrival event is signalled, or a 10 ms slice has passed, so a wait
// neither freezes the window nor spins. Returns 0.
int WindowIdleHook(serial::Port& port);

// Makes WindowIdleHook the process's IdleHook.
void InstallWindowIdleHook();

// The program's message loop: runs until WM_QUIT and returns its exit code.
int RunMessageLoop();

}  // namespace brelin::win
