#include "serial/timed_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "serial/testing/test_driver.h"
#include "serial/testing/virtual_clock.h"

namespace brelin::serial {
namespace {

using testing::TestLine;
using testing::VirtualClock;

class TimedIoTest : public ::testing::Test {
 protected:
  TimedIoTest() : port_(line_.Open()) {}
  ~TimedIoTest() override { port_->Close(); }

  VirtualClock clock_;
  TestLine line_;
  Port* port_;
};

TEST_F(TimedIoTest, ReadCharTimed) {
  line_.Feed(std::string("\0A", 2));
  EXPECT_EQ(ReadCharTimed(*port_, 0), 0);  // a NUL byte is a byte
  EXPECT_EQ(ReadCharTimed(*port_, 0), 'A');
  EXPECT_EQ(clock_.idleCalls(), 0u);  // queued bytes are taken without waiting
  EXPECT_EQ(ReadCharTimed(*port_, 0), kNothingReceived);
  EXPECT_EQ(clock_.idleCalls(), 1u);  // the hook runs once even with no time to wait
  EXPECT_EQ(ReadCharTimed(*port_, 500), kNothingReceived);
  EXPECT_EQ(clock_.now(), 501u);
  EXPECT_EQ(port_->status, kOk);  // a timeout is not recorded
  line_.FeedAfter(300, "x");
  EXPECT_EQ(ReadCharTimed(*port_, 500), 'x');
  EXPECT_EQ(clock_.now(), 801u);
  line_.FeedAfter(100000, "z");
  EXPECT_EQ(ReadCharTimed(*port_, kNoTimeLimit), 'z');
  int calls = 0;
  clock_.SetOnIdle([&](Port&) { return ++calls == 5 ? -77 : 0; });
  EXPECT_EQ(ReadCharTimed(*port_, kNoTimeLimit), -77);
  EXPECT_EQ(port_->status, -77);
}

TEST_F(TimedIoTest, TimeoutsSurviveTheCounterWrapping) {
  for (std::uint32_t start : {0xFFFFFF00u, 0x7FFFFF00u, 0xFFFFFFFFu}) {
    clock_.Set(start);
    EXPECT_EQ(ReadCharTimed(*port_, 500), kNothingReceived);
    EXPECT_EQ(clock_.now() - start, 500u) << start;
  }
}

TEST_F(TimedIoTest, ReadLineTerminatorsCapacityAndTimeouts) {
  const struct {
    const char* name;
    std::string input;
    unsigned capacity;
    int terminator, result;
    std::string text, left;  // left: still queued afterwards
  } cases[] = {
      {"LF keeps a CR before it", "OK\r\n", 20, '\n', kOk, "OK\r", ""},
      {"LF stops before a trailing CR", "OK\n\r", 20, '\n', kOk, "OK", "\r"},
      {"CR LF ends, lone CR kept", "A\rB\r\n", 20, kNoTerminator, kOk, "A\rB", ""},
      {"lone LF is data for CR LF", "A\nB\r\nC", 20, kCrLf, kOk, "A\nB", "C"},
      {"CR LF fits in capacity 3", "AB\r\n", 3, kNoTerminator, kOk, "AB", ""},
      {"held CR overflows capacity 3", "AB\r\n", 3, '\n', kLineTooLong, "AB", ""},
      {"overflow keeps what fit", "ABCDEF\n", 4, '\n', kLineTooLong, "ABC", "EF\n"},
      {"terminator CR", "AB\rC", 20, '\r', kOk, "AB", "C"},
      {"terminator NUL", std::string("AB\0C", 4), 20, 0, kOk, "AB", "C"},
      {"terminator 255", "AB\xff", 20, 255, kOk, "AB", ""},
      {"CR CR LF", "A\r\r\n", 20, kNoTerminator, kOk, "A\r", ""},
      {"timeout keeps held CR", "AB\r", 20, '\n', kNothingReceived, "AB\r", ""},
      {"timeout drops held CR", "AB\r", 20, kNoTerminator, kNothingReceived, "AB", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DrainInput(*port_);
    port_->ClearError();
    line_.Feed(c.input);
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ReadLine(*port_, buffer, c.capacity, c.terminator, 200), c.result);
    EXPECT_EQ(std::string(buffer, port_->count), c.text);
    EXPECT_EQ(buffer[port_->count], '\0');
    EXPECT_EQ(port_->status,
              c.result == kLineTooLong ? kLineTooLong : kOk);  // never kNothingReceived
    EXPECT_EQ(line_.pendingInput(), c.left.size());
  }
}

TEST_F(TimedIoTest, ReadLineRejectsBadArgumentsBeforeReading) {
  line_.Feed("OK\n");
  char buffer[8] = "keep";
  port_->count = 99;
  for (auto [capacity, terminator] : {std::pair{0u, 10}, {1u, 10}, {8u, 256}, {8u, kCrLf - 1}}) {
    port_->ClearError();
    EXPECT_EQ(ReadLine(*port_, buffer, capacity, terminator, 100), kInvalidArgument);
    EXPECT_EQ(port_->status, kInvalidArgument);
  }
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(port_->count, 99u);
  EXPECT_EQ(line_.pendingInput(), 3u);
}

TEST_F(TimedIoTest, ReadLineAcrossChunksAndFailures) {
  char buffer[20];
  line_.FeedAt(100, "O");
  line_.FeedAt(200, "K\r");
  line_.FeedAt(300, "\n");
  EXPECT_EQ(ReadLine(*port_, buffer, sizeof buffer, kNoTerminator, 500), kOk);
  EXPECT_STREQ(buffer, "OK");
  port_->status = kTxQueueFull;  // an earlier failure comes back at the end of the line
  line_.Feed("X\n");
  EXPECT_EQ(ReadLine(*port_, buffer, sizeof buffer, '\n', 500), kTxQueueFull);
  EXPECT_STREQ(buffer, "X");
  port_->ClearError();
  line_.Feed("AB");
  clock_.SetOnIdle([](Port&) { return -5; });  // ends the wait but is not recorded
  EXPECT_EQ(ReadLine(*port_, buffer, sizeof buffer, '\n', 500), -5);
  EXPECT_STREQ(buffer, "AB");
  EXPECT_EQ(port_->status, kOk);
}

TEST_F(TimedIoTest, WriteStringTerminatorsAndStickyFailure) {
  const std::tuple<const char*, int, int, std::string> cases[] = {
      {"UNLOCK", 10, kOk, "UNLOCK\n"},
      {"AB", kCrLf, kOk, "AB\r\n"},
      {"AB", kNoTerminator, kOk, "AB"},
      {"AB", 255, kOk, "AB\xff"},
      {"", 10, kOk, "\n"},
      {"AB", kCrLf - 1, kInvalidArgument, ""},
      {"AB", 256, kInvalidArgument, ""}};
  for (const auto& [text, terminator, result, sent] : cases) {
    port_->ClearError();
    EXPECT_EQ(WriteString(*port_, text, terminator), result) << text << terminator;
    EXPECT_EQ(line_.TakeOutput(), sent) << terminator;
    if (result == kInvalidArgument) {
      EXPECT_EQ(port_->count, 0u) << terminator;
    }
  }
  port_->ClearError();
  line_.SetTxRoom(3);
  EXPECT_EQ(WriteString(*port_, "ABCDEF", 10), kTxQueueFull);
  EXPECT_EQ(line_.TakeOutput(), "ABC");
  EXPECT_EQ(port_->count, 3u);
  int writes = 0;  // the peer runs after each write that took bytes
  line_.SetPeer([&](TestLine&) { ++writes; });
  port_->ClearError();
  line_.SetTxRoom(3);
  EXPECT_EQ(WriteString(*port_, "GH", kCrLf), kTxQueueFull);
  EXPECT_EQ(line_.TakeOutput(), "GH\r");
  EXPECT_EQ(writes, 1) << "text and terminator in one write";
  line_.SetPeer(nullptr);
  line_.SetUnlimitedTx();
  EXPECT_EQ(WriteString(*port_, "GH", 10), kTxQueueFull);  // text goes, terminator does not
  EXPECT_EQ(line_.TakeOutput(), "GH");
  port_->ClearError();
  EXPECT_EQ(WriteString(*port_, "GH", kCrLf), kOk);
  EXPECT_EQ(line_.TakeOutput(), "GH\r\n");
  EXPECT_EQ(port_->count, 4u);
}

TEST_F(TimedIoTest, ReadBlock) {
  unsigned char buffer[16] = {};
  line_.SetReadChunk(4);
  line_.FeedAt(10, "0123456");
  line_.FeedAt(400, "789ABCDE");
  EXPECT_EQ(ReadBlock(*port_, buffer, 15, 1000), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 15), "0123456789ABCDE");
  line_.Feed("0123456789");
  EXPECT_EQ(ReadBlock(*port_, buffer, 15, 500), kNothingReceived);
  EXPECT_EQ(port_->count, 10u);
  EXPECT_EQ(port_->status, kOk);
  std::uint64_t calls = clock_.idleCalls();
  EXPECT_EQ(ReadBlock(*port_, buffer, 0, 500), kOk);
  EXPECT_EQ(clock_.idleCalls(), calls);  // nothing asked, nothing waited for

  // A read that fails after one that succeeded must not count the first one twice.
  line_.Feed("ABC");
  line_.SetReadChunk(1);
  int queries = 0;
  line_.SetPeer([&](TestLine& l) {  // RxUsed, read, RxUsed, then the failing read
    if (++queries == 4) l.FailNext(TestLine::Op::kRead, kPlatformFailure);
  });
  EXPECT_EQ(ReadBlock(*port_, buffer, 4, 500), kPlatformFailure);
  EXPECT_EQ(port_->count, 1u);
  line_.SetPeer(nullptr);
  EXPECT_EQ(ReadBlock(*port_, buffer, 4, 500), kPlatformFailure);
  EXPECT_EQ(port_->count, 1u);  // the failure still in the status word ends it after one read

  // Bytes reported but not delivered yet: the wait goes on until they come.
  port_->ClearError();
  DrainInput(*port_);
  line_.Feed("AB");
  line_.FailNext(TestLine::Op::kRead, kNothingReceived, 3);
  EXPECT_EQ(ReadBlock(*port_, buffer, 2, 500), kOk);
  EXPECT_EQ(port_->count, 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "AB");
  // Bytes that are reported but never handed over still end at the deadline.
  line_.Feed("CD");
  line_.FailNext(TestLine::Op::kRead, kNothingReceived, 1 << 30);
  EXPECT_EQ(ReadBlock(*port_, buffer, 2, 500), kNothingReceived);
  line_.FailNext(TestLine::Op::kRead, kOk, 0);
  DrainInput(*port_);
  // What is queued is taken in reads back to back, without waiting in between.
  line_.SetReadChunk(4);
  line_.Feed("0123456789");
  calls = clock_.idleCalls();
  EXPECT_EQ(ReadBlock(*port_, buffer, 10, 500), kOk);
  EXPECT_EQ(clock_.idleCalls(), calls);
}

TEST_F(TimedIoTest, DrainInputAndIdleWait) {
  line_.Feed(std::string(300, 'x'));
  line_.FeedAfter(10, "later");
  EXPECT_EQ(DrainInput(*port_), kOk);
  EXPECT_EQ(IdleWait(*port_, 0), kOk);
  EXPECT_EQ(clock_.idleCalls(), 0u);  // nothing waited for
  EXPECT_EQ(IdleWait(*port_, 1000), kOk);
  EXPECT_EQ(clock_.idleCalls(), 1000u);
  EXPECT_EQ(line_.pendingInput(), 5u);  // only what came after the drain
  EXPECT_EQ(DrainInput(*port_), kOk);
  clock_.SetOnIdle([](Port&) { return -618; });
  EXPECT_EQ(IdleWait(*port_, 1000), -618);
  EXPECT_EQ(port_->status, kOk);

  SetIdleHook(nullptr);  // the default sleeps its slices when there is no descriptor
  EXPECT_EQ(IdleHook(), &PollIdle);
  EXPECT_EQ(ReadCharTimed(*port_, 35), kNothingReceived);
  EXPECT_EQ(clock_.pausedMs(), 40u);  // four 10 ms slices through the sleeper
  SetIdleHook(VirtualClock::IdleHook);
}

}  // namespace
}  // namespace brelin::serial
