// The receiver against lrzsz `sx` over pseudo-terminals, in real time.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "serial/port_status.h"
#include "xfer/testing/sx_link.h"
#include "xfer/xfer.h"

namespace brelin::xfer {
namespace {

using testing::RelayConfig;
using testing::SxLink;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return s;
}

class XferPtyTest : public ::testing::Test {
 protected:
  XferPtyTest() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    source_ = ::testing::TempDir() + "xfer_pty_src_" + name;
    target_ = ::testing::TempDir() + "xfer_pty_dst_" + name;
  }
  ~XferPtyTest() override {
    std::remove(source_.c_str());
    std::remove(target_.c_str());
  }

  // Sends data with sx and receives it; returns the receiver's result.
  int Transfer(const std::string& data, const std::vector<std::string>& sxArgs,
               const std::vector<std::int32_t>& options = {kOptEnd},
               const RelayConfig* relay = nullptr) {
    std::ofstream(source_, std::ios::binary) << data;
    SxLink link(sxArgs, source_, relay);
    EXPECT_NE(link.port(), nullptr);
    if (!link.port()) return 0;
    const auto start = std::chrono::steady_clock::now();
    const int result = XferReceive(*link.port(), target_.c_str(), nullptr, nullptr, options.data());
    seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    senderExit_ = link.WaitSender(3000);
    faults_ = link.faultsDone();
    return result;
  }

  // The file arrived whole: the data, then the sender's 0x1A padding up to its last block.
  void ExpectReceived(const std::string& data, std::size_t block) {
    const std::string got = ReadAll(target_);
    ASSERT_GE(got.size(), data.size());
    EXPECT_EQ(got.substr(0, data.size()), data);
    EXPECT_EQ(got.size() % 128, 0u);
    EXPECT_LT(got.size() - data.size(), std::max<std::size_t>(block, data.empty() ? 1 : 0));
    EXPECT_EQ(got.find_first_not_of('\x1A', data.size()), std::string::npos);
    EXPECT_EQ(senderExit_, 0);
  }

  std::string source_, target_;
  double seconds_ = 0;
  int senderExit_ = 0;
  std::size_t faults_ = 0;
};

TEST_F(XferPtyTest, ReceivesWhatSxSends) {
  struct Case {
    std::size_t size;
    std::vector<std::string> args;
    std::vector<std::int32_t> options;
    std::size_t block;
  } cases[] = {
      {0, {}, {kOptEnd}, 128},
      {1, {}, {kOptEnd}, 128},
      {128, {}, {kOptEnd}, 128},
      {1025, {"-k"}, {kOptEnd}, 1024},
      {1025, {}, {kOptChecksum, kOptEnd}, 128},
      {300 * 1024, {"-k"}, {kOptEnd}, 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const std::string data = Pattern(c.size, static_cast<unsigned>(c.size));
    EXPECT_EQ(Transfer(data, c.args, c.options), 1);
    ExpectReceived(data, c.block);
  }
}

struct LineFault {
  const char* name;
  RelayConfig relay;
  double limit;  // seconds
};

void PrintTo(const LineFault& fault, std::ostream* out) {
  *out << fault.name;
}

// One test per fault, so that the slow ones can run side by side.
class XferPtyFaultTest : public XferPtyTest, public ::testing::WithParamInterface<LineFault> {};

TEST_P(XferPtyFaultTest, FileArrivesWhole) {
  const std::string data = Pattern(8 * 1024, 7);
  EXPECT_EQ(Transfer(data, {"-k"}, {kOptEnd}, &GetParam().relay), 1);
  EXPECT_GT(faults_, 0u);
  EXPECT_LT(seconds_, GetParam().limit);
  ExpectReceived(data, 1024);
}

// 8 KiB in 1029-byte frames. The cost of each fault is the protocol's own: a lost byte waits out
// the byte timeout, the purge and a header wait; a lost ACK waits for sx's own timeout.
INSTANTIATE_TEST_SUITE_P(
    Faults, XferPtyFaultTest,
    ::testing::Values(LineFault{"CorruptData", {.corruptEvery = 3 * 1029 + 400}, 2},
                      LineFault{"DropDataByte", {.dropEvery = 5 * 1029 + 600}, 15},
                      LineFault{"Stall3s", {.stallAfter = 2 * 1029 + 10, .stallMs = 3000}, 7},
                      LineFault{"LostAck", {.swallowAck = 3}, 13}),
    [](const ::testing::TestParamInfo<LineFault>& info) { return std::string(info.param.name); });

TEST_F(XferPtyTest, UnrecoverableLineEndsWithTheCancelSequence) {
  // Every block damaged: ten refusals end the run, and sx gives up on the cancel sequence.
  const RelayConfig relay{.corruptEvery = 1029};  // the last check byte of every frame
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Transfer(Pattern(8 * 1024, 3), {"-k"}, {kOptEnd}, &relay), kXferTooManyRetries);
  EXPECT_NE(senderExit_, 0);
  EXPECT_NE(senderExit_, -1);  // sx ended by itself: it saw the cancel
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10);
}

TEST_F(XferPtyTest, LineThatGoesAwayEndsTheRunAtOnce) {
  std::ofstream(source_, std::ios::binary) << Pattern(300 * 1024, 5);
  SxLink link({"-k"}, source_);
  ASSERT_NE(link.port(), nullptr);
  int checks = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(XferReceive(
                *link.port(), target_.c_str(), nullptr,
                [&](XferSession&) {
                  if (++checks == 5) link.HangUp();
                },
                nullptr),
            serial::kNoDevice);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2);
  EXPECT_GE(ReadAll(target_).size(), 1024u);
}

}  // namespace
}  // namespace brelin::xfer
