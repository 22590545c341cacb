#pragma once

#include <cstdint>

#include "serial/port.h"

namespace brelin::serial {

// Sentinels of the timed I/O. A timeout of kNoTimeLimit waits as long as it takes. ReadLine ends a
// line at CR LF for kCrLf and for kNoTerminator alike; WriteString sends CR LF for kCrLf and no
// terminator for kNoTerminator.
inline constexpr int kNoTimeLimit = -1;
inline constexpr int kCrLf = -2;
inline constexpr int kNoTerminator = -1;

// Called once per pass of every wait with the Port waited on. A negative result ends the wait with
// that result. It must not spin: the default waits briefly for input on the Port.
using IdleHookFn = int (*)(Port& port);

IdleHookFn IdleHook();
void SetIdleHook(IdleHookFn hook);  // nullptr restores the default
int CallIdleHook(Port& port);

// The default hook: waits up to a short slice for input on the Port's descriptor, or sleeps the
// slice when there is none (Windows); returns kOk.
int PollIdle(Port& port);

// One byte within timeout ms (or kNoTimeLimit): 0..255; kNothingReceived on timeout; a negative
// IdleHook result (also written into the status word); a negative code from ReadChar.
int ReadCharTimed(Port& port, int timeout);

// A line up to the terminator (0..255, or kCrLf/kNoTerminator for CR LF) into buffer,
// NUL-terminated; count = characters stored. Returns the status word at end of line;
// kInvalidArgument for bad arguments; kNothingReceived on timeout; kLineTooLong on overflow; a
// negative IdleHook result; a negative ReadChar code.
int ReadLine(Port& port, char* buffer, unsigned capacity, int terminator, int timeout);

// Sends text and the terminator (0..255, kCrLf, or kNoTerminator for none) in one write: a transmit
// queue with too little room takes the first count bytes. Returns the status word (kTxQueueFull for
// a short write); kInvalidArgument for a terminator out of range. While the status word is negative
// the text goes without its terminator.
int WriteString(Port& port, const char* text, int terminator);

// Exactly n bytes within timeout ms (or kNoTimeLimit): kOk; kNothingReceived on timeout (count =
// bytes received so far); a negative IdleHook result; the status word when it is negative.
int ReadBlock(Port& port, void* buffer, unsigned n, int timeout);

// Discards everything received so far without waiting: kOk, or a ReadBuffer failure other than
// kNothingReceived.
int DrainInput(Port& port);

// Calls the IdleHook until milliseconds have passed: kOk, or a negative IdleHook result.
int IdleWait(Port& port, int milliseconds);

}  // namespace brelin::serial
