#pragma once

#include <cstdint>

#include "serial/testing/virtual_clock.h"

namespace brelin::gui::testing {

// Virtual time for a window that talks to a real simulator: the fixed pauses take no time, and
// each pass of a wait runs the window's own IdleHook and then moves the clock on by four times the
// real time the pass took. Timeouts that wait out silence pass four times faster, while a reply
// still has a quarter of each timeout in real time to arrive. One at a time.
class FastClock {
 public:
  FastClock();
  ~FastClock();
  FastClock(const FastClock&) = delete;
  FastClock& operator=(const FastClock&) = delete;

  static constexpr int kSpeedUp = 4;

 private:
  static int IdleHook(serial::Port& port);

  serial::testing::VirtualClock clock_{0, 0, false};
  std::int64_t spareNanoseconds_ = 0;
  static FastClock* current_;
};

}  // namespace brelin::gui::testing
