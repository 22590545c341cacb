#pragma once

#include <cstdint>

namespace brelin::serial {

// Milliseconds on a wrapping unsigned 32-bit counter. Every timeout of the serial layer, the
// transfer and the sequences is measured on it; tests replace the source with a virtual clock.
std::uint32_t TickCount();

// Pauses without dispatching anything (the fixed pauses of the sequences). Tests replace it so
// that pauses advance the virtual clock instead of sleeping.
void Pause(std::uint32_t milliseconds);

using TickSource = std::uint32_t (*)();
using Sleeper = void (*)(std::uint32_t milliseconds);

// Install a tick source or sleeper; nullptr restores the real one (steady_clock, nanosleep).
void SetTickSource(TickSource source);
void SetSleeper(Sleeper sleeper);

// True when at least the timeout has passed since start: (now - (start + timeout)) >= 0 as a signed
// 32-bit difference, so a counter that wraps during a wait neither lengthens nor shortens it.
bool TimedOut(std::uint32_t start, std::int32_t timeout, std::uint32_t now);

}  // namespace brelin::serial
