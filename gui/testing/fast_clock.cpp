#include "gui/testing/fast_clock.h"

#include <chrono>

#include "gui/idle_hook.h"

namespace brelin::gui::testing {

FastClock* FastClock::current_ = nullptr;

FastClock::FastClock() {
  current_ = this;
  serial::SetIdleHook(IdleHook);
}

FastClock::~FastClock() {
  serial::SetIdleHook(GuiIdleHook);
  current_ = nullptr;
}

int FastClock::IdleHook(serial::Port& port) {
  const auto start = std::chrono::steady_clock::now();
  const int result = GuiIdleHook(port);
  const auto took = std::chrono::steady_clock::now() - start;
  FastClock& self = *current_;
  self.spareNanoseconds_ += kSpeedUp * std::chrono::nanoseconds(took).count();
  self.clock_.Advance(static_cast<std::uint32_t>(self.spareNanoseconds_ / 1000000));
  self.spareNanoseconds_ %= 1000000;
  return result;
}

}  // namespace brelin::gui::testing
