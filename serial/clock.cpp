#include "serial/clock.h"

#include <cerrno>
#include <chrono>
#include <ctime>

namespace brelin::serial {
namespace {

std::uint32_t SteadyTicks() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SleepFor(std::uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

TickSource tickSource = SteadyTicks;
Sleeper sleeper = SleepFor;

}  // namespace

std::uint32_t TickCount() {
  return tickSource();
}

void Pause(std::uint32_t milliseconds) {
  sleeper(milliseconds);
}

void SetTickSource(TickSource source) {
  tickSource = source != nullptr ? source : SteadyTicks;
}

void SetSleeper(Sleeper s) {
  sleeper = s != nullptr ? s : SleepFor;
}

bool TimedOut(std::uint32_t start, std::int32_t timeout, std::uint32_t now) {
  std::uint32_t deadline = start + static_cast<std::uint32_t>(timeout);
  return static_cast<std::int32_t>(now - deadline) >= 0;
}

}  // namespace brelin::serial
