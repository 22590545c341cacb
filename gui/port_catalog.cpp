#include "gui/port_catalog.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "serial/discovery.h"

namespace brelin::gui {
namespace {

// Appends devices plugged in since the table was made; entries already there keep their index,
// so a chosen port index never comes to mean another device.
void AddNewDevices(PortScan scan) {
  std::vector<serial::PortEntry> table = serial::PortTable();
  bool grown = false;
  // Without the probe no built-in port is found; those already known stay.
  const serial::UartProbe probe =
      scan == PortScan::kAll ? serial::ProbeUart : +[](const std::string&) { return false; };
  for (serial::PortEntry& found : serial::DiscoverPorts({}, probe)) {
    auto known = [&](const serial::PortEntry& e) { return e.path == found.path; };
    if (std::none_of(table.begin(), table.end(), known)) {
      table.push_back(std::move(found));
      grown = true;
    }
  }
  if (grown) serial::SetPortTable(std::move(table));
}

bool DevicePresent(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

std::string Label(const serial::PortEntry& entry, bool present) {
  std::string label = entry.path;
  if (!entry.description.empty()) {
    label += " - " + entry.description;
  } else if (!entry.byId.empty()) {
    label += " - " + entry.byId;
  }
  return present ? label : label + " (missing)";
}

// A whole non-negative decimal number, or -1.
int Number(std::string_view digits) {
  int n = -1;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  return ec == std::errc() && end == digits.data() + digits.size() && n >= 0 ? n : -1;
}

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

PortCatalog SystemPortCatalog() {
  PortCatalog catalog;
  catalog.list = [](PortScan scan) {
    if (scan != PortScan::kKnown) AddNewDevices(scan);
    std::vector<PortChoice> ports;
    for (const serial::PortEntry& entry : serial::PortTable()) {
      const bool present = DevicePresent(entry.path);
      ports.push_back({entry.path, Label(entry, present), present});
    }
    return ports;
  };
  catalog.exists = DevicePresent;
  catalog.add = serial::AddPortPath;
  return catalog;
}

PortResolution ResolvePortText(const PortCatalog& catalog, const std::vector<PortChoice>& choices,
                               std::string_view text) {
  text = Trimmed(text);
  if (text.empty()) return {};
  const int count = static_cast<int>(choices.size());
  for (int i = 0; i < count; ++i) {
    if (text == choices[i].label || text == choices[i].path) return {i, {}};
  }
  if (const int n = Number(text); n >= 0) {
    if (n < count) return {n, {}};
    return {-1, "There is no port " + std::string(text) + " in the list."};
  }
  std::string path(text);
  if (text.size() > 3 && (text.substr(0, 3) == "COM" || text.substr(0, 3) == "com") &&
      Number(text.substr(3)) >= 1) {
    path = "/dev/ttyS" + std::to_string(Number(text.substr(3)) - 1);
  } else if (text.find('/') == std::string_view::npos) {
    path = "/dev/" + path;  // "ttyUSB0", as the adapter's name is often given
  }
  for (int i = 0; i < count; ++i) {
    if (path == choices[i].path) return {i, {}};
  }
  if (!catalog.exists(path)) {
    return {-1, "There is no device " + path +
                    ": plug in the instrument's adapter, or choose a port from the list."};
  }
  return {catalog.add(path), {}};
}

}  // namespace brelin::gui
