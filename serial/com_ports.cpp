#include "serial/com_ports.h"

#include <algorithm>
#include <charconv>

namespace brelin::serial {

int ComNumber(std::string_view name) {
  if (name.size() < 4 || (name.substr(0, 3) != "COM" && name.substr(0, 3) != "com")) return -1;
  int n = -1;
  auto [end, err] = std::from_chars(name.data() + 3, name.data() + name.size(), n);
  if (err != std::errc() || end != name.data() + name.size()) return -1;
  return n >= 1 && n <= 256 ? n : -1;
}

std::vector<PortEntry> ComPortEntries(const std::vector<DosDevice>& devices,
                                      const std::vector<PortFriendlyName>& friendlyNames) {
  std::vector<std::pair<int, PortEntry>> found;
  for (const DosDevice& device : devices) {
    const int number = ComNumber(device.name);
    if (number < 0) continue;
    const std::string name = "COM" + std::to_string(number);
    std::string description = device.target;
    for (const PortFriendlyName& f : friendlyNames) {
      if (ComNumber(f.portName) == number && !f.friendlyName.empty()) {
        description = f.friendlyName;
        break;
      }
    }
    found.push_back({number, PortEntry{name, "\\\\.\\" + name, description}});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  // A name listed twice (different case) is one port.
  found.erase(std::unique(found.begin(), found.end(),
                          [](const auto& a, const auto& b) { return a.first == b.first; }),
              found.end());
  std::vector<PortEntry> ports;
  for (auto& f : found) ports.push_back(std::move(f.second));
  return ports;
}

}  // namespace brelin::serial
