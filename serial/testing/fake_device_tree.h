#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "serial/discovery.h"

namespace brelin::serial::testing {

// A /dev and /sys of serial devices in a temporary folder, for discovery to find:
// - ttyUSB0: an FTDI adapter with IDs 0403:6001, serial "A5XK3RJT" and a /dev/serial/by-id link;
// - ttyUSB10, ttyUSB2: bare (ttyUSB2 has no device node, so it is absent);
// - ttyACM0: a USB board whose product string holds a quote and a backslash, without a serial;
// - ttyS0 and ttyS3 with a UART driver, ttyS1 a placeholder without one; ttyAMA0;
// - tty0 and ttyprintk, which are no serial ports.
class FakeDeviceTree {
 public:
  FakeDeviceTree() {
    namespace fs = std::filesystem;
    fs::remove_all(root_);
    fs::create_directories(root_ / "dev/serial/by-id");
    for (std::string name : {"ttyUSB0", "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS3",
                             "ttyAMA0", "tty0", "ttyprintk"}) {
      fs::create_directories(root_ / "sys/class/tty" / name);
      if (name != "ttyUSB2") std::ofstream(root_ / "dev" / name).put('\0');
    }
    // A USB adapter: the tty sits below the interface below the USB device with its strings.
    const fs::path usb = root_ / "sys/devices/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    std::ofstream(usb / "manufacturer") << "FTDI\n";
    std::ofstream(usb / "product") << "FT232R USB UART\n";
    std::ofstream(usb / "idVendor") << "0403\n";
    std::ofstream(usb / "idProduct") << "6001\n";
    std::ofstream(usb / "serial") << "A5XK3RJT\n";
    fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", root_ / "sys/class/tty/ttyUSB0/device");
    fs::create_symlink("../../ttyUSB0", root_ / "dev/serial/by-id/usb-FTDI_FT232R-if00-port0");
    const fs::path board = root_ / "sys/devices/usb1/1-2";
    fs::create_directories(board / "1-2:1.0/tty/ttyACM0");
    std::ofstream(board / "product") << "Board \"B\\2\"\n";
    std::ofstream(board / "idVendor") << "2341\n";
    std::ofstream(board / "idProduct") << "0043\n";
    fs::create_directory_symlink(board / "1-2:1.0", root_ / "sys/class/tty/ttyACM0/device");
    // ttyS0 and ttyS3 have a UART driver, ttyS1 is a placeholder without one.
    const fs::path driver = root_ / "sys/bus/serial8250";
    fs::create_directories(driver);
    for (const char* name : {"ttyS0", "ttyS3"}) {
      const fs::path device = root_ / "sys/devices/platform" / name;
      fs::create_directories(device);
      fs::create_directory_symlink(driver, device / "driver");
      fs::create_directory_symlink(device, root_ / "sys/class/tty" / name / "device");
    }
  }
  ~FakeDeviceTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  FakeDeviceTree(const FakeDeviceTree&) = delete;
  FakeDeviceTree& operator=(const FakeDeviceTree&) = delete;

  DiscoveryRoots roots() const { return {(root_ / "dev").string(), (root_ / "sys").string()}; }
  const std::filesystem::path& root() const { return root_; }

  // A UART probe that finds a UART behind ttyS0 only.
  static bool OnlyTtyS0(const std::string& path) { return path.ends_with("ttyS0"); }

 private:
  std::filesystem::path root_ =
      std::filesystem::temp_directory_path() / ("brelin_devices_" + std::to_string(getpid()));
};

}  // namespace brelin::serial::testing
