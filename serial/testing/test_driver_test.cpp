#include "serial/testing/test_driver.h"

#include <gtest/gtest.h>

#include <string>

#include "serial/testing/virtual_clock.h"
#include "serial/timed_io.h"

namespace brelin::serial::testing {
namespace {

class TestDriverTest : public ::testing::Test {
 protected:
  VirtualClock clock_;
  TestLine line_;
};

TEST_F(TestDriverTest, TransmitQueueTakesOnlyItsRoom) {
  Port* port = line_.Open();
  std::string big(2000, 'x');
  EXPECT_EQ(port->TxFree(), 1050);
  EXPECT_EQ(port->WriteBuffer(big.data(), 2000), kTxQueueFull);
  EXPECT_EQ(port->count, 1050u);
  EXPECT_EQ(port->status, kTxQueueFull);
  line_.SetTxRoom(2);
  port->ClearError();
  EXPECT_EQ(port->WriteChar('a'), kOk);
  EXPECT_EQ(port->TxFree(), 1);
  EXPECT_EQ(port->TxUsed(), 1049);
  EXPECT_EQ(port->WriteBuffer("bc", 2), kTxQueueFull);
  EXPECT_EQ(port->count, 1u);
  EXPECT_EQ(port->WriteChar('d'), kTxQueueFull);
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(line_.output().substr(1050), "ab");
  port->Close();
}

TEST_F(TestDriverTest, ScheduledInputAndChunks) {
  Port* port = line_.Open();
  line_.FeedAt(20, "cd");
  line_.FeedAt(10, "ab");
  line_.FeedAt(20, "ef");
  EXPECT_EQ(port->RxUsed(), 0);
  clock_.Advance(20);
  EXPECT_EQ(port->RxUsed(), 6);
  EXPECT_EQ(port->RxFree(), 1044);
  line_.SetReadChunk(4);
  char buffer[8] = {};
  EXPECT_EQ(port->ReadBuffer(buffer, 8), kOk);
  EXPECT_EQ(port->count, 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_EQ(port->ReadBuffer(buffer, 8), kOk);
  EXPECT_EQ(port->count, 2u);
  EXPECT_EQ(port->ReadBuffer(buffer, 8), kNothingReceived);
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(port->ReadChar(), kNothingReceived);
  EXPECT_EQ(port->status, kOk);
  port->Close();
}

TEST_F(TestDriverTest, PeerAnswersWhatWasWritten) {
  Port* port = line_.Open();
  line_.SetPeer([](TestLine& l) {
    if (l.output() == "PING\n") {
      l.TakeOutput();
      l.FeedAfter(50, "PONG\n\r");
    }
  });
  EXPECT_EQ(WriteString(*port, "PING", '\n'), kOk);
  char reply[20];
  EXPECT_EQ(ReadLine(*port, reply, sizeof reply, '\n', 500), kOk);
  EXPECT_STREQ(reply, "PONG");
  EXPECT_EQ(clock_.now(), 50u);
  port->Close();
}

TEST_F(TestDriverTest, InjectedFailuresAndHangUp) {
  Port* port = line_.Open();
  line_.Feed("abc");
  line_.FailNext(TestLine::Op::kRead, kPlatformFailure, 2);
  EXPECT_EQ(port->ReadChar(), kPlatformFailure);
  EXPECT_EQ(port->ReadChar(), kPlatformFailure);
  EXPECT_EQ(port->ReadChar(), 'a');
  line_.FailNext(TestLine::Op::kWrite, kTxBusy);
  EXPECT_EQ(port->WriteChar('x'), kTxBusy);
  EXPECT_EQ(port->status, kTxBusy);
  EXPECT_EQ(port->WriteChar('y'), kOk);
  line_.HangUp();
  EXPECT_EQ(port->RxUsed(), kNoDevice);
  EXPECT_EQ(port->WriteChar('z'), kNoDevice);
  EXPECT_EQ(line_.output(), "y");
  port->Close();
}

TEST_F(TestDriverTest, LineControlAndStatus) {
  Port* port = line_.Open();
  EXPECT_EQ(port->UseRtsCts(1), kOk);
  EXPECT_TRUE(line_.rtsCts());
  EXPECT_EQ(port->UseRtsCts(0), kOk);
  EXPECT_FALSE(line_.rts());  // handshake off leaves RTS low
  EXPECT_EQ(port->SetRts(1), kOk);
  EXPECT_TRUE(line_.rts());
  line_.SetLineErrors(0x02 | 0x01);
  EXPECT_EQ(port->LineStatus(), 0x02);
  EXPECT_EQ(port->LineStatus(), 0x02);
  EXPECT_EQ(port->ClearLineStatus(), kOk);
  EXPECT_EQ(port->LineStatus(), 0);
  EXPECT_EQ(port->SendBreak(250), kOk);
  EXPECT_EQ(clock_.now(), 250u);
  EXPECT_EQ(line_.breaks(), 1);
  port->Close();
  EXPECT_FALSE(line_.dtr() || line_.rts());
}

TEST_F(TestDriverTest, OpenThroughDefaultDriverAndLineGone) {
  ScopedTestDriver scoped;
  auto line = std::make_unique<TestLine>(4);
  Port* port = OpenPort(4, 9600, 'N', 8, 1);
  EXPECT_EQ(port->status, kOk);
  EXPECT_TRUE(line->isOpen());
  line.reset();
  EXPECT_EQ(ReadCharTimed(*port, 1000), kNoDevice);
  EXPECT_EQ(port->Close(), kOk);
}

}  // namespace
}  // namespace brelin::serial::testing
