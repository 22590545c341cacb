#pragma once

#include <cstdint>

#include "serial/port.h"

namespace brelin::serial {

// Called once per pass of every wait with the Port waited on. A negative result ends the wait with
// that result. It must not spin: the default waits briefly in poll() on the Port's descriptor.
using IdleHookFn = int (*)(Port& port);

IdleHookFn IdleHook();
void SetIdleHook(IdleHookFn hook);  // nullptr restores the default
int CallIdleHook(Port& port);

// The default hook: waits up to a short slice for input on the Port's descriptor; returns 0.
int PollIdle(Port& port);

// One byte within timeout ms (-1: no limit): 0..255; -8 on timeout; a negative IdleHook result
// (also written into the status word); a negative code from ReadChar.
int ReadCharTimed(Port& port, int timeout);

// A line up to the terminator (0..255, or -1/-2 for CR LF) into buffer, NUL-terminated; count =
// characters stored. Returns the status word at end of line; -7 bad arguments; -8 timeout; -31
// overflow; a negative IdleHook result; a negative ReadChar code.
int ReadLine(Port& port, char* buffer, unsigned capacity, int terminator, int timeout);

// Sends text and then the terminator (0..255; -2 CR LF; -1 none). Returns the status word; -7 for
// a terminator out of range. The terminator is not sent when the status word is negative.
int WriteString(Port& port, const char* text, int terminator);

// Exactly n bytes within timeout ms: 0; -8 on timeout (count = bytes received so far); a negative
// IdleHook result; the status word when it is negative.
int ReadBlock(Port& port, void* buffer, unsigned n, int timeout);

// Discards everything received so far without waiting: 0, or a ReadBuffer failure other than -8.
int DrainInput(Port& port);

// Calls the IdleHook until milliseconds have passed: 0, or a negative IdleHook result.
int IdleWait(Port& port, int milliseconds);

}  // namespace brelin::serial
