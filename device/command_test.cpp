#include "device/command.h"

#include <gtest/gtest.h>

#include <string>

#include "serial/port_status.h"
#include "serial/testing/test_driver.h"
#include "serial/testing/virtual_clock.h"

namespace brelin::device {
namespace {

const std::uint8_t* Bytes(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

TEST(SendCommandTest, ReplyLinesTimingAndStickyStatus) {
  serial::testing::VirtualClock clock;
  serial::testing::TestLine line;
  serial::Port* port = line.Open();
  const auto send = [&](const char* command) {
    return SendCommand(*port, command, kCommandTerminator);
  };

  line.Feed("OK\n\r");
  EXPECT_EQ(send(kUnlockCommand), "OK");
  EXPECT_EQ(line.TakeOutput(), "UNLOCK\n");
  EXPECT_LT(clock.now(), 10u) << "the CR was there: no wait";
  line.Feed("BAD\n\r");
  EXPECT_EQ(send(kLockCommand), "BAD") << "the CR of the previous reply did not leak into this one";

  std::uint32_t start = clock.now();
  line.Feed("OK\r\n");
  EXPECT_EQ(send(kUnlockCommand), "OK\r");
  EXPECT_GE(clock.now() - start, 500u) << "waited for a CR that never came";
  for (const char* text : {"", "ok", "OK ", " OK", "OK\r", "O"}) EXPECT_FALSE(ReplyAccepted(text));
  EXPECT_TRUE(ReplyAccepted("OK"));

  start = clock.now();
  EXPECT_EQ(send(kUnlockCommand), "");
  EXPECT_NEAR(clock.now() - start, 1000.0, 10.0) << "the line and the CR are each waited for";
  EXPECT_EQ(port->status, 0) << "a timeout is not a failure of the Port";

  line.Feed("OK3456789012345678\n\r");  // 18 characters: the most a reply may have
  EXPECT_EQ(send(kSystemCommand), "OK3456789012345678");
  line.Feed("OK34567890123456789\n\r");
  EXPECT_EQ(send(kSystemCommand), kErrorReply);
  EXPECT_EQ(port->status, serial::kLineTooLong);
  // The status word is sticky: the command still goes out, without its terminator.
  line.TakeOutput();
  line.Feed("OK\n\r");
  EXPECT_EQ(send(kLockCommand), kErrorReply);
  EXPECT_EQ(line.TakeOutput(), "LOCK");

  serial::Port* other = line.Open();  // the line is taken: this Port never opened
  EXPECT_EQ(SendCommand(*other, kUnlockCommand, kCommandTerminator), kErrorReply);
  other->Close();
  port->Close();
}

struct SystemCase {
  const char* name;
  std::string reply;
  std::int32_t serial, pcb;
};

class ParseSystemInfoTest : public ::testing::TestWithParam<SystemCase> {};

TEST_P(ParseSystemInfoTest, NumbersAfterTheMarkers) {
  const SystemCase& c = GetParam();
  DeviceInfo info;
  info.serialNumber = info.pcbNumber = -1;
  ParseSystemInfo(info, Bytes(c.reply), c.reply.size());
  EXPECT_EQ(info.serialNumber, c.serial);
  EXPECT_EQ(info.pcbNumber, c.pcb);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ParseSystemInfoTest,
    ::testing::Values(SystemCase{"Both", "KLV480 - 123456789\n\rPCB: 42\n\r", 123456789, 42},
                      SystemCase{"NineCharactersOnly", "KLV480 - 1234567890\n\r", 123456789, -1},
                      SystemCase{"Octal", "KLV480 - 0017\n\r", 15, -1},
                      SystemCase{"Hexadecimal", "KLV480 - 0x1F\n\rPCB: 0X10", 31, 16},
                      SystemCase{"WhiteSpaceAndSigns", "KLV480 - \t-42 PCB: \r\n+7\n\r", -42, 7},
                      SystemCase{"NumberEndsAtPunctuation", "KLV480 - 480123:\n\rPCB: 7;", 480123,
                                 7},
                      SystemCase{"OctalStopsAt8", "KLV480 - 08", 0, -1},
                      SystemCase{"BarePrefixIsZero", "KLV480 - 0x", 0, -1},
                      SystemCase{"DigitBeyondTheWindow", "KLV480 -          5", -1, -1},
                      SystemCase{"MarkersNeedTheirSpaces", "KLV480 -12\n\rPCB:3", -1, -1},
                      SystemCase{"AnyOrder", "Firmware\n\rPCB: 9 KLV480 - 77", 77, 9},
                      SystemCase{"FirstOccurrenceCounts", "KLV480 - 5 KLV480 - 6", 5, -1},
                      SystemCase{"TextEndsAtNul", std::string("PCB: 1\0KLV480 - 5", 17), -1, 1}),
    [](const ::testing::TestParamInfo<SystemCase>& info) { return std::string(info.param.name); });

TEST(ParseSystemInfoTest, OnlyTheBytesReceived) {
  DeviceInfo info;  // the buffer holds more than was received
  ParseSystemInfo(info, Bytes("KLV480 - 12345PCB: 6"), 11);
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

  DeviceInfo info;
  const auto scan = [&](std::string_view text, std::size_t length, std::int32_t number,
                        std::uint32_t word1, std::uint32_t word2) {
    ScanDownloadReply(info, Bytes(text), length);
    EXPECT_EQ(info.downloadNumber, number) << text;
    EXPECT_EQ(info.downloadWord1, word1) << text;
    EXPECT_EQ(info.downloadWord2, word2) << text;
  };
  scan("12 1f 2a\n\r", 10, 12, 31, 42);
  scan("0x10 0x1F2A", 11, 16, 0x1F2A, 42);  // a missing field keeps its value
  scan("7 zz 5", 6, 7, 0x1F2A, 42);         // as do all from the first that fails
  scan("3 4 5", 3, 3, 4, 42);               // only "3 4" was received
  // Wraps to 32 bits as scanf stores it.
  scan("99999999999 -1 x", 16, static_cast<std::int32_t>(99999999999LL & 0xFFFFFFFF), 0xFFFFFFFF,
       42);
  // Beyond 64 bits a number saturates first, as strtol does: INT64_MAX and INT64_MIN.
  scan("99999999999999999999 -99999999999999999999 x", 44, -1, 0, 42);
}

}  // namespace
}  // namespace brelin::device
