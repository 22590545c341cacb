#include "serial/clock.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "serial/testing/virtual_clock.h"
#include "serial/timed_io.h"

namespace brelin::serial {
namespace {

TEST(TimedOutTest, SignedDifferenceAcrossTheWrap) {
  EXPECT_FALSE(TimedOut(100, 50, 149));
  EXPECT_TRUE(TimedOut(100, 50, 150));
  EXPECT_TRUE(TimedOut(100, 0, 100));
  EXPECT_FALSE(TimedOut(0xFFFFFFF0u, 0x20, 0xFFFFFFFFu));  // deadline 0x10 after the wrap
  EXPECT_FALSE(TimedOut(0xFFFFFFF0u, 0x20, 0x0Fu));
  EXPECT_TRUE(TimedOut(0xFFFFFFF0u, 0x20, 0x10u));
  EXPECT_TRUE(TimedOut(0x7FFFFFF0u, 0x20, 0x80000010u));  // signed boundary
  EXPECT_FALSE(TimedOut(0x7FFFFFF0u, 0x20, 0x8000000Fu));
}

TEST(VirtualClockTest, ReplacesAndRestoresTimeSleepAndHook) {
  {
    testing::VirtualClock clock(1000, 5);
    Pause(250);
    Port dummy;
    CallIdleHook(dummy);
    EXPECT_EQ(TickCount(), 1255u);
  }
  EXPECT_EQ(IdleHook(), &PollIdle);
  // The real source moves on by itself; a real pause of 2 ms shows up on it.
  std::uint32_t before = TickCount();
  Pause(2);
  EXPECT_GE(TickCount() - before, 1u);
  // An EINTR left in errno by something earlier must not keep a finished pause going.
  errno = EINTR;
  Pause(1);
}

}  // namespace
}  // namespace brelin::serial
