#pragma once

#include "serial/port.h"

namespace brelin::gui {

// The IdleHook while the window runs: handles the pending window events (repaints, clicks, the
// status log and progress bar), then sleeps until a new event arrives, the Port has input, or a
// short slice has passed, so a wait neither freezes the window nor burns the processor. Returns 0.
int GuiIdleHook(serial::Port& port);

// Makes GuiIdleHook the process's IdleHook.
void InstallGuiIdleHook();

}  // namespace brelin::gui
