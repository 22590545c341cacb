#include "serial/discovery.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace brelin::serial {
namespace {

namespace fs = std::filesystem;

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(root_);
    fs::create_directories(root_ / "dev/serial/by-id");
    for (std::string name : {"ttyUSB0", "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS3",
                             "ttyAMA0", "tty0", "ttyprintk"}) {
      fs::create_directories(root_ / "sys/class/tty" / name);
      if (name != "ttyUSB2") std::ofstream(root_ / "dev" / name).put('\0');  // 2: no device node
    }
    // A USB adapter: the tty sits below the interface below the USB device with its strings.
    fs::path usb = root_ / "sys/devices/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    std::ofstream(usb / "manufacturer") << "FTDI\n";
    std::ofstream(usb / "product") << "FT232R USB UART\n";
    fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", root_ / "sys/class/tty/ttyUSB0/device");
    fs::create_symlink("../../ttyUSB0", root_ / "dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    // ttyS0 and ttyS3 have a UART driver, ttyS1 is a placeholder without one.
    fs::path driver = root_ / "sys/bus/serial8250";
    fs::create_directories(driver);
    for (const char* name : {"ttyS0", "ttyS3"}) {
      fs::path device = root_ / "sys/devices/platform" / name;
      fs::create_directories(device);
      fs::create_directory_symlink(driver, device / "driver");
      fs::create_directory_symlink(device, root_ / "sys/class/tty" / name / "device");
    }
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path root_ = fs::temp_directory_path() / ("brelin_disc_" + std::to_string(getpid()));
};

TEST_F(DiscoveryTest, ListsPresentDevicesUsbFirst) {
  auto onlyTtyS0 = [](const std::string& path) { return path.ends_with("ttyS0"); };  // UART probe
  auto ports = DiscoverPorts({(root_ / "dev").string(), (root_ / "sys").string()}, onlyTtyS0);
  std::vector<std::string> names;
  for (const auto& p : ports) names.push_back(fs::path(p.path).filename().string());
  EXPECT_EQ(names,
            (std::vector<std::string>{"ttyUSB0", "ttyUSB10", "ttyACM0", "ttyS0", "ttyAMA0"}));
  ASSERT_FALSE(ports.empty());
  EXPECT_EQ(ports[0].description, "FTDI FT232R USB UART");
  EXPECT_EQ(fs::path(ports[0].byId).filename(), "usb-FTDI_FT232R-if00-port0");
  EXPECT_EQ(ports[1].description + ports[1].byId, "");
  EXPECT_TRUE(DiscoverPorts({(root_ / "none").string(), (root_ / "none").string()}).empty());
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
