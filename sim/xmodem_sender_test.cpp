#include "sim/xmodem_sender.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>

namespace brelin::sim {
namespace {

using S = XmodemSender;
using Bytes = std::vector<std::uint8_t>;

Bytes Ramp(std::size_t n) {
  Bytes data(n);
  std::iota(data.begin(), data.end(), std::uint8_t{0});
  return data;
}

struct Fixture {
  explicit Fixture(Bytes data, int blockSize = 128, SenderFaults faults = {})
      : sender(
            std::move(data), blockSize, faults, out, [this](std::string_view l) { log += l; }, 0) {}
  Bytes Take() { return std::exchange(out, {}); }
  Bytes out;
  std::string log;
  XmodemSender sender;
};

TEST(XmodemSenderTest, CrcBlocksArePaddedAndChecked) {
  const Bytes check{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(S::Crc16(check.data(), check.size()), 0x31C3);

  Fixture f(Ramp(200));
  EXPECT_TRUE(f.sender.Receive('C', 0));
  Bytes block = f.Take();
  ASSERT_EQ(block.size(), 3u + 128 + 2);
  EXPECT_EQ(block[0], S::kSoh);
  EXPECT_EQ(block[1], 1);
  EXPECT_EQ(block[2], 0xFE);
  EXPECT_EQ(Bytes(block.begin() + 3, block.begin() + 131), Ramp(128));
  const std::uint16_t crc = S::Crc16(block.data() + 3, 128);
  EXPECT_EQ(block[131], crc >> 8);
  EXPECT_EQ(block[132], crc & 0xFF);

  f.sender.Receive(S::kAck, 10);
  block = f.Take();
  ASSERT_EQ(block.size(), 133u);
  EXPECT_EQ(block[1], 2);
  EXPECT_EQ(block[2], 0xFD);
  EXPECT_EQ(block[3 + 71], 199);
  EXPECT_EQ(block[3 + 72], S::kPad) << "the tail of the last block is padding";
  EXPECT_EQ(block[130], S::kPad);

  f.sender.Receive(S::kAck, 20);
  EXPECT_EQ(f.Take(), Bytes{S::kEot});
  f.sender.Receive(S::kNak, 30);
  EXPECT_EQ(f.Take(), Bytes{S::kEot}) << "EOT until it is acknowledged";
  f.sender.Receive(S::kAck, 40);
  EXPECT_EQ(f.sender.state(), S::State::kDone);
  EXPECT_EQ(f.sender.blocksAcked(), 2u);
}

TEST(XmodemSenderTest, ChecksumModeAndLargeBlocks) {
  Fixture f(Ramp(1500), 1024);
  f.sender.Receive(S::kNak, 0);
  EXPECT_FALSE(f.sender.crcMode());
  Bytes block = f.Take();
  ASSERT_EQ(block.size(), 3u + 1024 + 1);
  EXPECT_EQ(block[0], S::kStx);
  std::uint8_t sum = 0;
  for (int i = 0; i < 1024; ++i) sum = static_cast<std::uint8_t>(sum + block[3 + i]);
  EXPECT_EQ(block.back(), sum);
  // The 476 bytes left no longer fill a large block: four small ones carry them.
  for (int n = 2; n <= 5; ++n) {
    f.sender.Receive(S::kAck, 0);
    block = f.Take();
    ASSERT_EQ(block.size(), 132u);
    EXPECT_EQ(block[0], S::kSoh);
    EXPECT_EQ(block[1], n);
  }
  f.sender.Receive(S::kAck, 0);
  EXPECT_EQ(f.Take(), Bytes{S::kEot});
}

TEST(XmodemSenderTest, ResendsOnNakAndSilenceThenGivesUp) {
  Fixture f(Ramp(300));
  EXPECT_FALSE(f.sender.Receive('x', 0)) << "not a protocol byte";
  f.sender.Receive('C', 0);
  const Bytes first = f.Take();
  f.sender.Receive(S::kNak, 100);
  EXPECT_EQ(f.Take(), first);
  f.sender.Receive('C', 200);
  EXPECT_EQ(f.Take(), first) << "a repeated start request asks for block 1 again";

  f.sender.Poll(200 + S::kResendMs - 1, false);
  EXPECT_TRUE(f.Take().empty());
  f.sender.Poll(200 + S::kResendMs + 50, true);  // still on the line: not silence yet
  EXPECT_TRUE(f.Take().empty());
  f.sender.Poll(200 + 2 * S::kResendMs + 50, false);
  EXPECT_EQ(f.Take(), first);

  std::uint32_t now = 10000;
  for (int i = 0; i < S::kMaxRetries - 3; ++i) f.sender.Receive(S::kNak, now);
  EXPECT_EQ(f.sender.state(), S::State::kWaitAck);
  f.Take();
  f.sender.Receive(S::kNak, now);
  EXPECT_EQ(f.Take(), (Bytes{S::kCan, S::kCan}));
  EXPECT_EQ(f.sender.state(), S::State::kAborted);

  Fixture g(Ramp(300));
  g.sender.Receive('C', 0);
  g.sender.Poll(S::kGiveUpMs, true);
  EXPECT_EQ(g.sender.state(), S::State::kAborted) << "no answer at all for a minute";
  Fixture h(Ramp(300));
  h.sender.Poll(S::kGiveUpMs - 1, false);
  EXPECT_EQ(h.sender.state(), S::State::kWaitStart);
  h.sender.Poll(S::kGiveUpMs, false);
  EXPECT_EQ(h.sender.state(), S::State::kAborted);
}

TEST(XmodemSenderTest, CancelInBothDirections) {
  Fixture f(Ramp(300));
  f.sender.Receive('C', 0);
  f.sender.Receive(S::kCan, 0);
  f.sender.Receive(S::kNak, 0);  // a lone CAN is noise
  EXPECT_EQ(f.sender.state(), S::State::kWaitAck);
  f.sender.Receive(S::kCan, 0);
  f.sender.Receive(S::kCan, 0);
  EXPECT_EQ(f.sender.state(), S::State::kAborted);

  Fixture g(Ramp(300), 128, {.cancelAfter = 1});
  g.sender.Receive('C', 0);
  g.Take();
  g.sender.Receive(S::kAck, 0);
  EXPECT_EQ(g.Take(), (Bytes{S::kCan, S::kCan}));
  EXPECT_EQ(g.sender.state(), S::State::kAborted);

  Fixture h(Ramp(300), 128, {.cancelAfter = 0});
  h.sender.Receive('C', 0);
  EXPECT_EQ(h.Take(), (Bytes{S::kCan, S::kCan}));
}

TEST(XmodemSenderTest, LineFaults) {
  Fixture clean(Ramp(128));
  clean.sender.Receive('C', 0);
  const Bytes good = clean.Take();

  Fixture dropped(Ramp(128), 128, {.dropEvery = 10});
  dropped.sender.Receive('C', 0);
  EXPECT_EQ(dropped.Take().size(), good.size() - good.size() / 10);

  Fixture corrupted(Ramp(128), 128, {.corruptEvery = 50});
  corrupted.sender.Receive('C', 0);
  const Bytes bad = corrupted.Take();
  ASSERT_EQ(bad.size(), good.size());
  int differing = 0;
  for (std::size_t i = 0; i < bad.size(); ++i) differing += bad[i] != good[i];
  EXPECT_EQ(differing, 2);
  corrupted.sender.Receive(S::kNak, 0);
  EXPECT_NE(corrupted.Take(), bad) << "the fault moves on, so a resend can get through";

  Fixture stalled(Ramp(4 * 128), 128, {.stallMs = 5000});
  stalled.sender.Receive('C', 0);
  stalled.sender.Receive(S::kAck, 0);
  stalled.Take();
  stalled.sender.Receive(S::kAck, 100);
  EXPECT_TRUE(stalled.Take().empty()) << "the middle block waits";
  stalled.sender.Receive(S::kNak, 2000);
  stalled.sender.Poll(5099, false);
  EXPECT_TRUE(stalled.Take().empty());
  stalled.sender.Poll(5100, false);
  EXPECT_EQ(stalled.Take()[1], 3);
}

}  // namespace
}  // namespace brelin::sim
