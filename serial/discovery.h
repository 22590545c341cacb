#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brelin::serial {

// One serial device the system can open, by port index (its place in the table).
struct PortEntry {
  std::string path;         // /dev/ttyUSB0
  std::string byId;         // /dev/serial/by-id/usb-..., or empty
  std::string description;  // "FTDI FT232R USB UART" from the USB descriptors, or empty
  // The USB device's IDs as sysfs gives them ("0403", "6001") and its serial number; empty when
  // unknown or not a USB device.
  std::string usbVendor{};
  std::string usbProduct{};
  std::string usbSerial{};
};

// Where discovery looks; tests point both at a fake tree.
struct DiscoveryRoots {
  std::string dev = "/dev";
  std::string sys = "/sys";
};

// For a ttyS port with a driver behind it: true when the UART is really there. The default opens
// the device and asks TIOCGSERIAL for a type other than PORT_UNKNOWN.
using UartProbe = bool (*)(const std::string& devicePath);
bool ProbeUart(const std::string& devicePath);

// The serial devices present, USB and ACM adapters first, then the others, each group in natural
// number order.
std::vector<PortEntry> DiscoverPorts(const DiscoveryRoots& roots = {}, UartProbe probe = ProbeUart);

// The process-wide table from port index to device. Filled by discovery on first use.
const std::vector<PortEntry>& PortTable();
void SetPortTable(std::vector<PortEntry> entries);  // replaces it (tests, refresh)

// The device path of a port index, or empty when the index is not in the table.
std::string PortPath(int index);

// The index of a device path, appending it to the table when it is new.
int AddPortPath(const std::string& path);

// A user's PORT text as a port index: a device path (added when new), "COMn" (n >= 1) meaning
// /dev/ttyS(n-1), or the number of an entry of the table. -1 when the text is none of these.
int ResolvePort(std::string_view text);

}  // namespace brelin::serial
