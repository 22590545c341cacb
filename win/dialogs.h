#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/discovery.h"

namespace brelin::win {

// The application icon at the given size: resource 1 when the build gave the program one, else
// the system's application icon.
HICON AppIcon(int size);

// What the port list shows for a port: "COM5", with the system's name for what is behind it.
std::string PortLabel(const serial::PortEntry& port);

// What the operator typed for a port, as a port index: -1 for an empty text (no port), or why it
// names no port.
struct PortResolution {
  int index = -1;
  std::string error;  // empty when index holds
};
// "COM5" or "\\.\COM5" in any case; a COM port that is not listed is taken too (an adapter
// plugged in later), anything else is refused.
PortResolution ResolvePortText(std::string_view text);

// COM Port Setup, modal: the listed ports and a field for a typed name, `selectedIndex` chosen at
// the start. The chosen port index after OK (-1: no port); nothing after Cancel.
std::optional<int> RunPortSetup(HWND owner, int selectedIndex,
                                const std::vector<serial::PortEntry>& ports);

// The About box, modal: the icon, the name and the version.
void RunAbout(HWND owner);

}  // namespace brelin::win
