#include "cli/ports.h"

#include <gtest/gtest.h>

namespace brelin::cli {
namespace {

TEST(PortsListingTest, AlignsColumnsAndHintsWhenEmpty) {
  std::string text = FormatPorts(
      {{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI-if00", "FTDI FT232R"}, {"/dev/ttyS0", "", ""}});
  EXPECT_EQ(text,
            "INDEX  PATH          BY-ID                            DESCRIPTION\n"
            "0      /dev/ttyUSB0  /dev/serial/by-id/usb-FTDI-if00  FTDI FT232R\n"
            "1      /dev/ttyS0    -\n");
  EXPECT_NE(FormatPorts({}).find("--port"), std::string::npos);
}

TEST(PortsListingTest, AbsentComNumbersKeepTheIndexesOfTheOthers) {
  EXPECT_EQ(FormatPorts({{"COM1", "\\\\.\\COM1", ""}, {}, {"COM3", "\\\\.\\COM3", ""}}),
            "INDEX  PATH  BY-ID     DESCRIPTION\n"
            "0      COM1  \\\\.\\COM1\n"
            "2      COM3  \\\\.\\COM3\n");
}

}  // namespace
}  // namespace brelin::cli
