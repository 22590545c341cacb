#include "serial/com_ports.h"

#include <gtest/gtest.h>

namespace brelin::serial {
namespace {

TEST(ComPortsTest, ComNumberTakesOnlyComOneToTwoFiftySix) {
  EXPECT_EQ(ComNumber("COM1"), 1);
  EXPECT_EQ(ComNumber("com256"), 256);
  for (const char* text : {"COM0", "COM257", "COM", "COM1a", "LPT1", "CNCA0", "COM-1", "Com3"}) {
    EXPECT_EQ(ComNumber(text), -1) << text;
  }
}

// Device Manager's names where they exist, the kernel device otherwise; only COM devices, in
// number order, each once.
TEST(ComPortsTest, FriendlyNamesReplaceTheDeviceTargetOfTheirPortOnly) {
  const std::vector<DosDevice> devices = {{"COM10", "\\Device\\VCP0"},
                                          {"LPT1", "\\Device\\Parallel0"},
                                          {"COM3", "\\Device\\Serial2"},
                                          {"COM1", "\\Device\\Serial0"},
                                          {"com3", "\\Device\\Serial2"}};
  const std::vector<PortFriendlyName> names = {
      {"COM10", "USB Serial Port (COM10)"},
      {"LPT1", "Printer Port (LPT1)"},
      {"COM7", "Bluetooth link (COM7)"},  // not a DOS device: it cannot be opened
      {"com1", ""},                       // no name to show: the target stays
  };
  const std::vector<PortEntry> ports = ComPortEntries(devices, names);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].path + " " + ports[0].byId + " " + ports[0].description,
            "COM1 \\\\.\\COM1 \\Device\\Serial0");
  EXPECT_EQ(ports[1].path + " " + ports[1].description, "COM3 \\Device\\Serial2");
  EXPECT_EQ(ports[2].path + " " + ports[2].byId + " " + ports[2].description,
            "COM10 \\\\.\\COM10 USB Serial Port (COM10)");
  EXPECT_TRUE(ComPortEntries({}, names).empty());
}

}  // namespace
}  // namespace brelin::serial
