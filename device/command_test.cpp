#include "device/command.h"

#include <gtest/gtest.h>

#include <string>

#include "serial/port_status.h"
#include "serial/testing/test_driver.h"
#include "serial/testing/virtual_clock.h"

namespace brelin::device {
namespace {

using serial::testing::TestLine;
using serial::testing::VirtualClock;

const std::uint8_t* Bytes(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

class SendCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { port_ = line_.Open(); }
  void TearDown() override { port_->Close(); }

  VirtualClock clock_;
  TestLine line_;
  serial::Port* port_ = nullptr;
};

TEST_F(SendCommandTest, AcceptsOnlyOkEndedLfCr) {
  line_.Feed("OK\n\r");
  EXPECT_EQ(SendCommand(*port_, kUnlockCommand, kCommandTerminator), "OK");
  EXPECT_EQ(line_.TakeOutput(), "UNLOCK\n");
  EXPECT_LT(clock_.now(), 10u) << "the CR was there: no wait";
  line_.Feed("BAD\n\r");
  EXPECT_EQ(SendCommand(*port_, kLockCommand, kCommandTerminator), "BAD")
      << "the CR of the previous reply did not leak into this one";

  const std::uint32_t start = clock_.now();
  line_.Feed("OK\r\n");
  const std::string reply = SendCommand(*port_, kUnlockCommand, kCommandTerminator);
  EXPECT_EQ(reply, "OK\r");
  EXPECT_FALSE(ReplyAccepted(reply));
  EXPECT_GE(clock_.now() - start, 500u) << "waited for a CR that never came";

  for (const char* text : {"", "ok", "OK ", " OK", "ERROR", "O"}) EXPECT_FALSE(ReplyAccepted(text));
  EXPECT_TRUE(ReplyAccepted("OK"));
}

TEST_F(SendCommandTest, SilenceCostsAboutOneSecond) {
  const std::string reply = SendCommand(*port_, kUnlockCommand, kCommandTerminator);
  EXPECT_EQ(reply, "");
  EXPECT_NEAR(clock_.now(), 1000.0, 10.0);
  EXPECT_EQ(port_->status, 0) << "a timeout is not a failure of the Port";
}

TEST_F(SendCommandTest, LongLinesAndFailedPorts) {
  line_.Feed("OK3456789012345678\n\r");  // 18 characters: the most a reply may have
  EXPECT_EQ(SendCommand(*port_, kSystemCommand, kCommandTerminator), "OK3456789012345678");
  line_.Feed("OK34567890123456789\n\r");
  EXPECT_EQ(SendCommand(*port_, kSystemCommand, kCommandTerminator), kErrorReply);
  EXPECT_EQ(port_->status, serial::kLineTooLong);

  // The status word is sticky: the command still goes out, without its terminator.
  line_.TakeOutput();
  line_.Feed("OK\n\r");
  EXPECT_EQ(SendCommand(*port_, kLockCommand, kCommandTerminator), kErrorReply);
  EXPECT_EQ(line_.TakeOutput(), "LOCK");

  serial::Port* other = line_.Open();  // the line is taken: this Port never opened
  EXPECT_EQ(SendCommand(*other, kUnlockCommand, kCommandTerminator), kErrorReply);
  other->Close();
}

TEST(ParseSystemInfoTest, NumbersAfterTheMarkers) {
  struct Case {
    std::string reply;
    std::int32_t serial;
    std::int32_t pcb;
  };
  const Case cases[] = {
      {"KLV480 - 123456789\n\rPCB: 42\n\r", 123456789, 42},
      {"KLV480 - 1234567890\n\r", 123456789, -1},      // only nine characters are read
      {"KLV480 - 0017\n\r", 15, -1},                   // octal
      {"KLV480 - 0x1F\n\rPCB: 0X10", 31, 16},          // hexadecimal
      {"KLV480 -  -42 PCB:  +7\n\r", -42, 7},          // white space and signs
      {"KLV480 - 08", 0, -1},                          // octal stops at 8
      {"KLV480 - 0x", 0, -1},                          // a bare prefix reads as 0
      {"KLV480 -          5", -1, -1},                 // the digit lies beyond the window
      {"KLV480 - ", -1, -1},                           // nothing after the marker
      {"KLV480 -12\n\rPCB:3", -1, -1},                 // markers need their spaces
      {"Firmware\n\rPCB: 9 KLV480 - 77", 77, 9},       // order does not matter
      {"KLV480 - 5 KLV480 - 6", 5, -1},                // the first occurrence counts
      {std::string("PCB: 1\0KLV480 - 5", 17), -1, 1},  // the text ends at a NUL
  };
  for (const Case& c : cases) {
    app::DeviceInfo info;
    info.serialNumber = -1;
    info.pcbNumber = -1;
    ParseSystemInfo(info, Bytes(c.reply), c.reply.size());
    EXPECT_EQ(info.serialNumber, c.serial) << c.reply;
    EXPECT_EQ(info.pcbNumber, c.pcb) << c.reply;
  }

  // Only the bytes received count, though the buffer holds more.
  const std::string buffer = "KLV480 - 12345PCB: 6";
  app::DeviceInfo info;
  ParseSystemInfo(info, Bytes(buffer), 11);
  EXPECT_EQ(info.serialNumber, 12);
  EXPECT_EQ(info.pcbNumber, 0);
  ParseSystemInfo(info, nullptr, 0);
  EXPECT_EQ(info.serialNumber, 12);
}

TEST(DownloadReplyTest, RefusalAndScan) {
  EXPECT_TRUE(DownloadRefused(Bytes("BAD\n\r"), 5));
  EXPECT_TRUE(DownloadRefused(Bytes("BAD\n\rxyz"), 8));
  EXPECT_FALSE(DownloadRefused(Bytes("BAD\n\r"), 4)) << "the CR must have arrived";
  EXPECT_FALSE(DownloadRefused(Bytes("BAD\r\n"), 5));
  EXPECT_FALSE(DownloadRefused(nullptr, 0));

  app::DeviceInfo info;
  ScanDownloadReply(info, Bytes("12 1f 2a\n\r"), 10);
  EXPECT_EQ(info.downloadNumber, 12);
  EXPECT_EQ(info.downloadWord1, 31u);
  EXPECT_EQ(info.downloadWord2, 42u);

  ScanDownloadReply(info, Bytes("0x10 0x1F2A"), 11);  // the third number is missing
  EXPECT_EQ(info.downloadNumber, 16);
  EXPECT_EQ(info.downloadWord1, 0x1F2Au);
  EXPECT_EQ(info.downloadWord2, 42u);

  ScanDownloadReply(info, Bytes("7 zz 5"), 6);
  EXPECT_EQ(info.downloadNumber, 7);
  EXPECT_EQ(info.downloadWord1, 0x1F2Au) << "fields from the first that fails keep their values";

  ScanDownloadReply(info, Bytes("3 4 5"), 3);  // only "3 4" was received
  EXPECT_EQ(info.downloadNumber, 3);
  EXPECT_EQ(info.downloadWord1, 4u);
  EXPECT_EQ(info.downloadWord2, 42u);

  ScanDownloadReply(info, Bytes("99999999999 -1 x"), 16);  // wraps to 32 bits as scanf stores it
  EXPECT_EQ(info.downloadNumber, static_cast<std::int32_t>(99999999999LL & 0xFFFFFFFF));
  EXPECT_EQ(info.downloadWord1, 0xFFFFFFFFu);
}

}  // namespace
}  // namespace brelin::device
