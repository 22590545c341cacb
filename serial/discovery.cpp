#include "serial/discovery.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>

namespace brelin::serial {
namespace fs = std::filesystem;
namespace {

// Device name prefixes in listing order; USB adapters are where an instrument usually hangs.
constexpr std::string_view kPrefixes[] = {"ttyUSB", "ttyACM", "ttyS", "ttyAMA", "rfcomm"};

std::optional<std::vector<PortEntry>> table;

std::string ReadLineOf(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

// The USB device above a tty in sysfs carries its IDs, serial number and descriptor strings.
void ReadUsbDevice(const fs::path& classDir, PortEntry& entry) {
  std::error_code ec;
  fs::path dir = fs::canonical(classDir / "device", ec);
  for (int depth = 0; !ec && depth < 6 && dir.has_relative_path();
       ++depth, dir = dir.parent_path()) {
    const std::string vendor = ReadLineOf(dir / "idVendor");
    const std::string product = ReadLineOf(dir / "product");
    if (vendor.empty() && product.empty()) continue;
    const std::string manufacturer = ReadLineOf(dir / "manufacturer");
    entry.description = manufacturer.empty() || product.empty() ? manufacturer + product
                                                                : manufacturer + " " + product;
    entry.usbVendor = vendor;
    entry.usbProduct = ReadLineOf(dir / "idProduct");
    entry.usbSerial = ReadLineOf(dir / "serial");
    return;
  }
}

bool HasDriver(const fs::path& classDir) {
  std::error_code ec;
  return fs::exists(classDir / "device" / "driver", ec);
}

// Orders ttyS2 before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    size_t digits = s.find_first_of("0123456789");
    std::string stem = s.substr(0, digits);
    long number = digits == std::string::npos ? -1 : std::atol(s.c_str() + digits);
    return std::pair{stem, number};
  };
  return split(a) < split(b);
}

}  // namespace

bool ProbeUart(const std::string& devicePath) {
  int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY || errno == EACCES;  // held or guarded: it exists
  serial_struct info{};
  bool present = ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
  close(fd);
  return present;
}

std::vector<PortEntry> DiscoverPorts(const DiscoveryRoots& roots, UartProbe probe) {
  const fs::path dev = roots.dev;
  const fs::path ttyClass = fs::path(roots.sys) / "class" / "tty";
  std::vector<PortEntry> found;
  std::error_code ec;
  for (std::string_view prefix : kPrefixes) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(ttyClass, ec)) {
      std::string name = entry.path().filename().string();
      if (name.rfind(prefix, 0) != 0 || name.size() == prefix.size()) continue;
      if (!std::all_of(name.begin() + prefix.size(), name.end(), ::isdigit)) continue;
      if (!fs::exists(dev / name, ec)) continue;
      if (prefix == "ttyS") {
        // Most ttyS nodes are placeholders without a UART.
        if (!HasDriver(entry.path()) || !probe((dev / name).string())) continue;
      }
      names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const std::string& name : names) {
      PortEntry& entry = found.emplace_back();
      entry.path = (dev / name).string();
      ReadUsbDevice(ttyClass / name, entry);
    }
  }
  // Stable names for USB adapters.
  for (const auto& link : fs::directory_iterator(dev / "serial" / "by-id", ec)) {
    std::error_code lec;
    fs::path target = fs::canonical(link.path(), lec);
    if (lec) continue;
    for (PortEntry& e : found) {
      std::error_code pec;
      if (e.byId.empty() && fs::canonical(e.path, pec) == target) e.byId = link.path().string();
    }
  }
  return found;
}

const std::vector<PortEntry>& PortTable() {
  if (!table) table = DiscoverPorts();
  return *table;
}

void SetPortTable(std::vector<PortEntry> entries) {
  table = std::move(entries);
}

std::string PortPath(int index) {
  const auto& entries = PortTable();
  if (index < 0 || static_cast<size_t>(index) >= entries.size()) return {};
  return entries[static_cast<size_t>(index)].path;
}

int AddPortPath(const std::string& path) {
  PortTable();
  auto& entries = *table;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].path == path || entries[i].byId == path) return static_cast<int>(i);
  }
  entries.push_back(PortEntry{path, {}, {}});
  return static_cast<int>(entries.size() - 1);
}

int ResolvePort(std::string_view text) {
  auto number = [](std::string_view digits) -> int {
    int n = -1;
    auto [end, err] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    return err == std::errc() && end == digits.data() + digits.size() && n >= 0 ? n : -1;
  };
  if (text.empty()) return -1;
  if (text.find('/') != std::string_view::npos) return AddPortPath(std::string(text));
  if (text.size() > 3 && (text.substr(0, 3) == "COM" || text.substr(0, 3) == "com")) {
    int n = number(text.substr(3));
    return n >= 1 ? AddPortPath("/dev/ttyS" + std::to_string(n - 1)) : -1;
  }
  int index = number(text);
  return index < static_cast<int>(PortTable().size()) ? index : -1;
}

}  // namespace brelin::serial
