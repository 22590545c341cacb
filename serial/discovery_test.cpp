#include "serial/discovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "serial/testing/fake_device_tree.h"

namespace brelin::serial {
namespace {

namespace fs = std::filesystem;

TEST(DiscoveryTest, ListsPresentDevicesUsbFirst) {
  const testing::FakeDeviceTree tree;
  auto ports = DiscoverPorts(tree.roots(), testing::FakeDeviceTree::OnlyTtyS0);
  std::vector<std::string> names;
  for (const auto& p : ports) names.push_back(fs::path(p.path).filename().string());
  EXPECT_EQ(names,
            (std::vector<std::string>{"ttyUSB0", "ttyUSB10", "ttyACM0", "ttyS0", "ttyAMA0"}));
  ASSERT_EQ(ports.size(), 5u);
  EXPECT_EQ(ports[0].description, "FTDI FT232R USB UART");
  EXPECT_EQ(fs::path(ports[0].byId).filename(), "usb-FTDI_FT232R-if00-port0");
  EXPECT_EQ(ports[0].usbVendor + ":" + ports[0].usbProduct + " " + ports[0].usbSerial,
            "0403:6001 A5XK3RJT");
  EXPECT_EQ(ports[1].description + ports[1].byId + ports[1].usbVendor, "");
  // Without a manufacturer or a serial number, the product and the IDs still count.
  EXPECT_EQ(ports[2].description, "Board \"B\\2\"");
  EXPECT_EQ(ports[2].usbVendor + ":" + ports[2].usbProduct + ports[2].usbSerial, "2341:0043");
  EXPECT_EQ(ports[3].usbVendor + ports[3].description, "") << "a UART has no USB device";
  EXPECT_TRUE(
      DiscoverPorts({(tree.root() / "none").string(), (tree.root() / "none").string()}).empty());
}

// A device that opens but cannot say what it is counts as present; one that does not open, not.
TEST(ProbeUartTest, OpenDevicesWithoutSerialInfoArePresent) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  EXPECT_TRUE(ProbeUart(ptsname(master)));  // a pseudo-terminal has no TIOCGSERIAL
  close(master);
  EXPECT_FALSE(ProbeUart("/nonexistent/ttyS9"));
}

TEST(ResolvePortTest, PathsComNamesAndIndexes) {
  SetPortTable({{"/dev/ttyUSB0", "/dev/serial/by-id/usb-x", "X"}, {"/dev/ttyS0", "", ""}});
  EXPECT_EQ(ResolvePort("0"), 0);
  EXPECT_EQ(ResolvePort("COM1"), 1);
  EXPECT_EQ(ResolvePort("com3"), 2);
  EXPECT_EQ(PortPath(2), "/dev/ttyS2");
  EXPECT_EQ(ResolvePort("/dev/pts/7"), 3);
  EXPECT_EQ(ResolvePort("/dev/pts/7"), 3);  // added once
  EXPECT_EQ(ResolvePort("/dev/serial/by-id/usb-x"), 0);
  for (const char* bad : {"", "4", "COM0", "COM", "COMx", "-1", "abc", "1x", "99999999999"}) {
    EXPECT_EQ(ResolvePort(bad), -1) << bad;
  }
  EXPECT_EQ(PortPath(-1), "");
  EXPECT_EQ(PortPath(4), "");
  SetPortTable({});
}

}  // namespace
}  // namespace brelin::serial
