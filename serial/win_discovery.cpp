// Port discovery on Windows: the COM devices the system names. Port index n is always COM(n+1),
// the device the Windows driver opens, so the table is indexed by COM number and has empty entries
// for the numbers that are absent.
#include <windows.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <optional>
#include <vector>

#include "serial/discovery.h"

namespace brelin::serial {
namespace {

constexpr int kMaxComNumber = 256;  // COM1 .. COM256: port indexes 0 .. 255

std::optional<std::vector<PortEntry>> table;

// 1..256 for "COMn" (either case), else -1.
int ComNumber(std::string_view name) {
  if (name.size() < 4 || (name.substr(0, 3) != "COM" && name.substr(0, 3) != "com")) return -1;
  int n = -1;
  auto [end, err] = std::from_chars(name.data() + 3, name.data() + name.size(), n);
  if (err != std::errc() || end != name.data() + name.size()) return -1;
  return n >= 1 && n <= kMaxComNumber ? n : -1;
}

std::string ComName(int index) {
  return "COM" + std::to_string(index + 1);
}

}  // namespace

// Windows has no placeholder COM devices: whatever is named is there.
bool ProbeUart(const std::string&) {
  return true;
}

std::vector<PortEntry> DiscoverPorts(const DiscoveryRoots&, UartProbe) {
  std::vector<char> names(1 << 16);
  DWORD length = 0;
  while ((length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0 &&
         GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 22)) {
    names.resize(names.size() * 2);
  }
  std::vector<std::pair<int, PortEntry>> found;
  for (const char* name = names.data(); name < names.data() + length && *name != '\0';
       name += std::strlen(name) + 1) {
    int number = ComNumber(name);
    if (number < 0) continue;
    char target[512] = "";
    QueryDosDeviceA(name, target, sizeof target);  // \Device\Serial0 and the like
    found.push_back({number, PortEntry{ComName(number - 1), "\\\\.\\" + ComName(number - 1),
                                       std::string(target)}});
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<PortEntry> ports;
  for (auto& f : found) ports.push_back(std::move(f.second));
  return ports;
}

const std::vector<PortEntry>& PortTable() {
  if (!table) SetPortTable(DiscoverPorts());
  return *table;
}

void SetPortTable(std::vector<PortEntry> entries) {
  std::vector<PortEntry> byIndex;
  for (PortEntry& e : entries) {
    int number = ComNumber(e.path);
    if (number < 0) continue;
    if (byIndex.size() < static_cast<size_t>(number)) byIndex.resize(static_cast<size_t>(number));
    byIndex[static_cast<size_t>(number - 1)] = std::move(e);
  }
  table = std::move(byIndex);
}

std::string PortPath(int index) {
  return index >= 0 && index < kMaxComNumber ? "\\\\.\\" + ComName(index) : std::string();
}

int AddPortPath(const std::string& path) {
  return ResolvePort(path);
}

int ResolvePort(std::string_view text) {
  if (text.substr(0, 4) == "\\\\.\\") text.remove_prefix(4);
  if (int number = ComNumber(text); number > 0) return number - 1;
  int index = -1;
  auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), index);
  if (text.empty() || err != std::errc() || end != text.data() + text.size()) return -1;
  return index >= 0 && index < kMaxComNumber ? index : -1;
}

}  // namespace brelin::serial
