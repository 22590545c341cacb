#include "sim/xmodem_sender.h"

#include <gtest/gtest.h>

#include <numeric>

namespace brelin::sim {
namespace {

using S = XmodemSender;
using Bytes = std::vector<std::uint8_t>;

Bytes Ramp(std::size_t n) {
  Bytes data(n);
  std::iota(data.begin(), data.end(), std::uint8_t{0});
  return data;
}

// Block n as a receiver expects it: header, data from `from` padded to size, CRC-16 or 8-bit sum.
Bytes Frame(std::uint8_t n, const Bytes& data, std::size_t from, std::size_t size, bool crc) {
  Bytes frame{size == 1024 ? S::kStx : S::kSoh, n, static_cast<std::uint8_t>(255 - n)};
  for (std::size_t i = from; i < from + size; ++i) {
    frame.push_back(i < data.size() ? data[i] : S::kPad);
  }
  const int sum =
      crc ? S::Crc16(frame.data() + 3, size) : std::accumulate(frame.begin() + 3, frame.end(), 0);
  if (crc) frame.push_back(static_cast<std::uint8_t>(sum >> 8));
  frame.push_back(static_cast<std::uint8_t>(sum));
  return frame;
}

struct Fixture {
  explicit Fixture(Bytes bytes, int blockSize = 128, SenderFaults faults = {})
      : data(bytes),
        sender(
            std::move(bytes), blockSize, faults, out, [](std::string_view) {}, 0) {}
  Bytes Take() { return std::exchange(out, {}); }
  Bytes data, out;
  XmodemSender sender;
};

TEST(XmodemSenderTest, CrcAndChecksumFraming) {
  const Bytes check{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(S::Crc16(check.data(), check.size()), 0x31C3);

  Fixture f(Ramp(200));
  EXPECT_TRUE(f.sender.Receive('C', 0));
  EXPECT_EQ(f.Take(), Frame(1, f.data, 0, 128, true));
  f.sender.Receive(S::kAck, 10);
  EXPECT_EQ(f.Take(), Frame(2, f.data, 128, 128, true)) << "the last block is padded";
  f.sender.Receive(S::kAck, 20);
  EXPECT_EQ(f.Take(), Bytes{S::kEot});
  f.sender.Receive(S::kNak, 30);
  EXPECT_EQ(f.Take(), Bytes{S::kEot}) << "EOT until it is acknowledged";
  f.sender.Receive(S::kAck, 40);
  EXPECT_EQ(f.sender.state(), S::State::kDone);
  EXPECT_EQ(f.sender.blocksAcked(), 2u);

  Fixture g(Ramp(1500), 1024);
  g.sender.Receive(S::kNak, 0);
  EXPECT_FALSE(g.sender.crcMode());
  EXPECT_EQ(g.Take(), Frame(1, g.data, 0, 1024, false));
  for (std::uint8_t n = 2; n <= 5; ++n) {  // the 476 bytes left go in small blocks
    g.sender.Receive(S::kAck, 0);
    EXPECT_EQ(g.Take(), Frame(n, g.data, 1024 + 128 * (n - 2), 128, false));
  }
  g.sender.Receive(S::kAck, 0);
  EXPECT_EQ(g.Take(), Bytes{S::kEot});
}

TEST(XmodemSenderTest, ResendsOnNakAndSilenceUntilTheLimitOrCancel) {
  Fixture f(Ramp(300));
  EXPECT_FALSE(f.sender.Receive('x', 0)) << "not a protocol byte";
  f.sender.Receive('C', 0);
  const Bytes first = f.Take();
  f.sender.Receive(S::kNak, 100);
  EXPECT_EQ(f.Take(), first);
  f.sender.Receive('C', 200);
  EXPECT_EQ(f.Take(), first) << "a repeated start request asks for block 1 again";
  f.sender.Poll(200 + S::kResendMs - 1, false);
  f.sender.Poll(200 + S::kResendMs + 50, true);  // still on the line: not silence yet
  EXPECT_TRUE(f.Take().empty());
  f.sender.Poll(200 + 2 * S::kResendMs + 50, false);
  EXPECT_EQ(f.Take(), first);

  for (int i = 0; i < S::kMaxRetries - 3; ++i) f.sender.Receive(S::kNak, 10000);
  EXPECT_EQ(f.sender.state(), S::State::kWaitAck);
  f.Take();
  f.sender.Receive(S::kNak, 10000);
  EXPECT_EQ(f.Take(), (Bytes{S::kCan, S::kCan}));
  EXPECT_EQ(f.sender.state(), S::State::kAborted);

  Fixture g(Ramp(300));  // a lone CAN is noise, two in a row cancel
  for (std::uint8_t b : {S::kCrcRequest, S::kCan, S::kNak, S::kCan}) g.sender.Receive(b, 0);
  EXPECT_EQ(g.sender.state(), S::State::kWaitAck);
  g.sender.Receive(S::kCan, 0);
  EXPECT_EQ(g.sender.state(), S::State::kAborted);
}

TEST(XmodemSenderTest, LineFaults) {
  Fixture dropped(Ramp(128), 128, {.dropEvery = 10});
  dropped.sender.Receive('C', 0);
  EXPECT_EQ(dropped.Take().size(), 133u - 13) << "every tenth byte of the frame is lost";

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
  EXPECT_EQ(stalled.Take(), Frame(3, stalled.data, 256, 128, true));
}

}  // namespace
}  // namespace brelin::sim
