#pragma once

#include <cstdint>
#include <functional>

#include "serial/clock.h"
#include "serial/timed_io.h"

namespace brelin::serial::testing {

// Virtual time for tests. While a VirtualClock lives it is the tick source and the sleeper (Pause
// advances it instead of sleeping) and, unless told otherwise, the IdleHook: each call of the hook
// advances time by idleStep ms, so a 50-second protocol timeout takes 50 000 cheap passes. The
// previous source, sleeper and hook come back when it is destroyed. One at a time.
//
//   VirtualClock clock;                 // starts at tick 0, 1 ms per IdleHook call
//   EXPECT_EQ(ReadCharTimed(*port, 500), kNothingReceived);
//   EXPECT_EQ(clock.now(), 500u);
//   clock.SetOnIdle([&](Port& p) { return ++calls == 3 ? kNoDevice : kOk; });  // act in a wait
class VirtualClock {
 public:
  explicit VirtualClock(std::uint32_t start = 0, std::uint32_t idleStep = 1,
                        bool installIdleHook = true);
  ~VirtualClock();
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  std::uint32_t now() const { return now_; }
  void Advance(std::uint32_t milliseconds) { now_ += milliseconds; }
  void Set(std::uint32_t tick) { now_ = tick; }
  void SetIdleStep(std::uint32_t milliseconds) { idleStep_ = milliseconds; }

  // Called by the hook after each step; a negative result ends the wait with it.
  void SetOnIdle(std::function<int(Port&)> onIdle) { onIdle_ = std::move(onIdle); }

  std::uint64_t idleCalls() const { return idleCalls_; }
  std::uint64_t pausedMs() const { return pausedMs_; }

  static VirtualClock* Current() { return current_; }
  // The IdleHook it installs; usable with SetIdleHook on its own.
  static int IdleHook(Port& port);

 private:
  static std::uint32_t Ticks();
  static void Sleep(std::uint32_t milliseconds);

  std::uint32_t now_;
  std::uint32_t idleStep_;
  bool hookInstalled_;
  IdleHookFn previousHook_;
  std::function<int(Port&)> onIdle_;
  std::uint64_t idleCalls_ = 0;
  std::uint64_t pausedMs_ = 0;
  static VirtualClock* current_;
};

}  // namespace brelin::serial::testing
