#include "serial/testing/virtual_clock.h"

#include <cassert>

namespace brelin::serial::testing {

VirtualClock* VirtualClock::current_ = nullptr;

VirtualClock::VirtualClock(std::uint32_t start, std::uint32_t idleStep, bool installIdleHook)
    : now_(start),
      idleStep_(idleStep),
      hookInstalled_(installIdleHook),
      previousHook_(serial::IdleHook()) {
  assert(current_ == nullptr && "one VirtualClock at a time");
  current_ = this;
  SetTickSource(Ticks);
  SetSleeper(Sleep);
  if (hookInstalled_) SetIdleHook(IdleHook);
}

VirtualClock::~VirtualClock() {
  if (hookInstalled_) SetIdleHook(previousHook_);
  SetTickSource(nullptr);
  SetSleeper(nullptr);
  current_ = nullptr;
}

int VirtualClock::IdleHook(Port& port) {
  VirtualClock* clock = current_;
  if (clock == nullptr) return 0;
  clock->idleCalls_++;
  clock->now_ += clock->idleStep_;
  return clock->onIdle_ ? clock->onIdle_(port) : 0;
}

std::uint32_t VirtualClock::Ticks() {
  return current_ != nullptr ? current_->now_ : 0;
}

void VirtualClock::Sleep(std::uint32_t milliseconds) {
  if (current_ == nullptr) return;
  current_->now_ += milliseconds;
  current_->pausedMs_ += milliseconds;
}

}  // namespace brelin::serial::testing
