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

}  // namespace
}  // namespace brelin::cli
