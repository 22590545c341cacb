#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace brelin::win {

// Where the window remembers the operator's choices: HKEY_CURRENT_USER\Software\Brelin, or a key
// of a test's own.
struct SettingsKey {
  HKEY root = HKEY_CURRENT_USER;
  std::wstring path = L"Software\\Brelin";
};

// What is remembered from one run to the next. Empty: nothing saved yet.
struct Settings {
  std::optional<std::wstring> outputFile;
  std::optional<std::wstring> port;  // "COM3"; "" when no port is chosen
  std::optional<bool> metric, absolute, ascii;
  std::optional<POINT> position;  // the window's top left corner on the screen
};

Settings LoadSettings(const SettingsKey& key);
// Writes only the values that differ from what is stored.
void SaveSettings(const SettingsKey& key, const Settings& settings);

}  // namespace brelin::win
