// The receiver against lrzsz `sx` over pseudo-terminals, in real time.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "xfer/testing/sx_link.h"
#include "xfer/xfer.h"

namespace brelin::xfer {
namespace {

using testing::RelayConfig;

struct SxCase {
  const char* name;
  std::size_t size;                    // pseudo-random bytes sent
  bool oneK = false;                   // sx -k: 1024-byte blocks
  bool checksum = false;               // the receiver asks for checksum blocks
  std::optional<RelayConfig> relay{};  // faults on the line
  double limit = 30;                   // seconds the receiver may take
  int result = 1;
};

void PrintTo(const SxCase& c, std::ostream* out) {
  *out << c.name;
}

class XferPtyTest : public ::testing::TestWithParam<SxCase> {
 protected:
  ~XferPtyTest() override {
    std::remove(source_.c_str());
    std::remove(target_.c_str());
  }
  const std::string source_ = ::testing::TempDir() + "xfer_pty_src" + std::to_string(getpid());
  const std::string target_ = ::testing::TempDir() + "xfer_pty_dst" + std::to_string(getpid());
};

TEST_P(XferPtyTest, ReceivesWholeOrEndsWithTheCancelSequence) {
  const SxCase& c = GetParam();
  std::string data(c.size, '\0');
  std::uint32_t x = static_cast<std::uint32_t>(c.size) * 2654435761u + 1;
  for (char& byte : data) byte = static_cast<char>((x = x * 1103515245u + 12345u) >> 23);
  std::ofstream(source_, std::ios::binary) << data;
  testing::SxLink link(c.oneK ? std::vector<std::string>{"-k"} : std::vector<std::string>{},
                       source_, c.relay ? &*c.relay : nullptr);
  ASSERT_NE(link.port(), nullptr);
  const std::int32_t options[] = {c.checksum ? kOptChecksum : kOptAccepted, kOptEnd};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(XferReceive(*link.port(), target_.c_str(), nullptr, nullptr, options), c.result);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            c.limit);
  const int senderExit = link.WaitSender(3000);
  EXPECT_EQ(link.faultsDone() > 0, c.relay.has_value());
  if (c.result != 1) {
    EXPECT_NE(senderExit, 0);
    EXPECT_NE(senderExit, -1);  // sx ended by itself: it saw the cancel
    return;
  }
  EXPECT_EQ(senderExit, 0);
  // The data, then sx's 0x1A padding up to the end of its last block.
  std::ifstream in(target_, std::ios::binary);
  const std::string got{std::istreambuf_iterator<char>(in), {}};
  ASSERT_GE(got.size(), data.size());
  EXPECT_EQ(got.substr(0, data.size()), data);
  EXPECT_EQ(got.size() % 128, 0u);
  EXPECT_LT(got.size() - data.size(), data.empty() ? 1u : c.oneK ? 1024u : 128u);
  EXPECT_EQ(got.find_first_not_of('\x1A', data.size()), std::string::npos);
}

// The faults go into up to 8 KiB in frames of 1029 bytes (133 without -k). Each costs what the
// protocol makes it cost: a lost byte the 1000 ms byte timeout and the block sent again (the Drop
// rows lose 1, 3, 6, 5 and 6 bytes); a lost ACK waits for sx's timeout.
INSTANTIATE_TEST_SUITE_P(
    Sx, XferPtyTest,
    ::testing::Values(
        SxCase{"Empty", 0}, SxCase{"OneByte", 1}, SxCase{"OneBlock", 128},
        SxCase{"OneKPlusOne", 1025, true}, SxCase{"Checksum", 1025, false, true},
        SxCase{"K300", 300 * 1024, true},
        SxCase{"CorruptData", 8192, true, false, RelayConfig{.corruptEvery = 3 * 1029 + 400}, 2},
        SxCase{"DropDataByte", 8192, true, false, RelayConfig{.dropEvery = 5 * 1029 + 600}, 3},
        SxCase{"DropEvery3094", 8192, true, false, RelayConfig{.dropEvery = 3 * 1029 + 7}, 5},
        SxCase{"DropEvery2158", 8192, true, false, RelayConfig{.dropEvery = 2 * 1029 + 100}, 8},
        SxCase{"DropEvery500Short", 2048, false, false, RelayConfig{.dropEvery = 500}, 7},
        SxCase{"DropEvery1500Checksum", 4096, true, true, RelayConfig{.dropEvery = 1500}, 8},
        SxCase{"Stall3s", 8192, true, false,
               RelayConfig{.stallAfter = 2 * 1029 + 10, .stallMs = 3000}, 7},
        SxCase{"LostAck", 8192, true, false, RelayConfig{.swallowAck = 3}, 13},
        // The last check byte of every frame: ten refusals end the run.
        SxCase{"Unrecoverable", 8192, true, false, RelayConfig{.corruptEvery = 1029}, 10,
               kXferTooManyRetries}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brelin::xfer
