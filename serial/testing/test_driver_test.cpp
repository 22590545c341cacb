#include "serial/testing/test_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "serial/testing/virtual_clock.h"
#include "serial/timed_io.h"

namespace brelin::serial::testing {
namespace {

// The layers above trust this line's timing, peer and disappearance; a smoke check of each.
TEST(TestDriverTest, SchedulePeerAndLineGone) {
  VirtualClock clock;
  ScopedTestDriver scoped;
  auto line = std::make_unique<TestLine>(4);
  Port* port = OpenPort(4, 9600, 'N', 8, 1);
  EXPECT_EQ(port->status, kOk);
  line->FeedAt(20, "cd");
  line->FeedAt(10, "ab");
  line->SetReadChunk(3);
  EXPECT_EQ(port->RxUsed(), 0);
  clock.Advance(20);
  char buffer[8] = {};
  EXPECT_EQ(port->ReadBuffer(buffer, 8), kOk);
  EXPECT_EQ(std::string(buffer, port->count), "abc");

  line->SetPeer([](TestLine& l) {
    if (l.output() == "PING\n") {
      l.TakeOutput();
      l.FeedAfter(50, "PONG\n");
    }
  });
  EXPECT_EQ(WriteString(*port, "PING", '\n'), kOk);
  EXPECT_EQ(ReadLine(*port, buffer, sizeof buffer, '\n', 500), kOk);
  EXPECT_STREQ(buffer, "dPONG");
  EXPECT_EQ(clock.now(), 70u);

  line.reset();
  EXPECT_EQ(ReadCharTimed(*port, 1000), kNoDevice);
  EXPECT_EQ(port->Close(), kOk);
}

}  // namespace
}  // namespace brelin::serial::testing
