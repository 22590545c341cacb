#include "win/settings.h"

#include <vector>

namespace brelin::win {
namespace {

constexpr wchar_t kOutputFile[] = L"OutputFile";
constexpr wchar_t kPort[] = L"Port";
constexpr wchar_t kMetric[] = L"Metric";
constexpr wchar_t kAbsolute[] = L"Absolute";
constexpr wchar_t kAscii[] = L"Ascii";
constexpr wchar_t kLeft[] = L"Left";
constexpr wchar_t kTop[] = L"Top";

std::optional<std::wstring> ReadString(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(buffer.data());  // stored with or without its terminator
}

std::optional<DWORD> ReadNumber(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

void WriteString(HKEY key, const wchar_t* name, const std::optional<std::wstring>& value) {
  if (!value || ReadString(key, name) == value) return;
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                 static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
}

void WriteNumber(HKEY key, const wchar_t* name, std::optional<DWORD> value) {
  if (!value || ReadNumber(key, name) == value) return;
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&*value), sizeof *value);
}

std::optional<bool> AsBool(std::optional<DWORD> value) {
  if (!value) return std::nullopt;
  return *value != 0;
}

std::optional<DWORD> FromBool(std::optional<bool> value) {
  if (!value) return std::nullopt;
  return *value ? 1 : 0;
}

}  // namespace

Settings LoadSettings(const SettingsKey& where) {
  Settings settings;
  HKEY key = nullptr;
  if (RegOpenKeyExW(where.root, where.path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return settings;
  }
  settings.outputFile = ReadString(key, kOutputFile);
  settings.port = ReadString(key, kPort);
  settings.metric = AsBool(ReadNumber(key, kMetric));
  settings.absolute = AsBool(ReadNumber(key, kAbsolute));
  settings.ascii = AsBool(ReadNumber(key, kAscii));
  const std::optional<DWORD> left = ReadNumber(key, kLeft);
  const std::optional<DWORD> top = ReadNumber(key, kTop);
  if (left && top) {
    settings.position = POINT{static_cast<LONG>(*left), static_cast<LONG>(*top)};
  }
  RegCloseKey(key);
  return settings;
}

void SaveSettings(const SettingsKey& where, const Settings& settings) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(where.root, where.path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return;  // nothing to remember with: the program works as on a first run
  }
  WriteString(key, kOutputFile, settings.outputFile);
  WriteString(key, kPort, settings.port);
  WriteNumber(key, kMetric, FromBool(settings.metric));
  WriteNumber(key, kAbsolute, FromBool(settings.absolute));
  WriteNumber(key, kAscii, FromBool(settings.ascii));
  if (settings.position) {
    // Negative coordinates (a monitor left of the main one) are kept as their bit pattern.
    WriteNumber(key, kLeft, static_cast<DWORD>(settings.position->x));
    WriteNumber(key, kTop, static_cast<DWORD>(settings.position->y));
  }
  RegCloseKey(key);
}

}  // namespace brelin::win
