// Port discovery on Windows: the COM devices the system names. Port index n is always COM(n+1),
// the device the Windows driver opens, so the table is indexed by COM number and has empty entries
// for the numbers that are absent.
#include <windows.h>
// devguid.h defines its GUIDs only after initguid.h.
// clang-format off
#include <initguid.h>
#include <devguid.h>
// clang-format on
#include <setupapi.h>

#include <charconv>
#include <cstring>
#include <optional>
#include <vector>

#include "serial/com_ports.h"
#include "serial/discovery.h"

namespace brelin::serial {
namespace {

constexpr int kMaxComNumber = 256;  // COM1 .. COM256: port indexes 0 .. 255

std::optional<std::vector<PortEntry>> table;

std::string ComName(int index) {
  return "COM" + std::to_string(index + 1);
}

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();  // the terminator
  return out;
}

std::vector<DosDevice> DosDevices() {
  std::vector<char> names(1 << 16);
  DWORD length = 0;
  while ((length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0 &&
         GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 22)) {
    names.resize(names.size() * 2);
  }
  std::vector<DosDevice> devices;
  for (const char* name = names.data(); name < names.data() + length && *name != '\0';
       name += std::strlen(name) + 1) {
    if (ComNumber(name) < 0) continue;
    char target[512] = "";
    QueryDosDeviceA(name, target, sizeof target);  // \Device\Serial0 and the like
    devices.push_back({name, target});
  }
  return devices;
}

// The Ports class devices present that have both a port name and a friendly name.
std::vector<PortFriendlyName> FriendlyNames() {
  std::vector<PortFriendlyName> names;
  HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return names;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    wchar_t portName[64] = L"";
    if (HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        key != INVALID_HANDLE_VALUE) {
      DWORD type = 0, size = sizeof portName - sizeof(wchar_t);  // room for a terminator
      if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName),
                           &size) != ERROR_SUCCESS ||
          type != REG_SZ) {
        portName[0] = L'\0';
      }
      RegCloseKey(key);
    }
    wchar_t friendly[256] = L"";
    if (portName[0] != L'\0' &&
        SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                          reinterpret_cast<BYTE*>(friendly),
                                          sizeof friendly - sizeof(wchar_t), nullptr)) {
      names.push_back({Utf8(portName), Utf8(friendly)});
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return names;
}

}  // namespace

// Windows has no placeholder COM devices: whatever is named is there.
bool ProbeUart(const std::string&) {
  return true;
}

std::vector<PortEntry> DiscoverPorts(const DiscoveryRoots&, UartProbe) {
  return ComPortEntries(DosDevices(), FriendlyNames());
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
