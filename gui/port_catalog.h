#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brelin::gui {

// One serial port the operator can choose; its position in the list is its port index.
struct PortChoice {
  std::string path;     // device path, e.g. /dev/ttyUSB0
  std::string label;    // what the list shows: the path and, where known, what is behind it
  bool present = true;  // false: the device has gone (an adapter pulled) since it was listed
};

// How far a look at the ports goes before they are listed.
enum class PortScan {
  kKnown,    // the ports known already, nothing looked for (the main window, after every command)
  kPlugged,  // also USB and ACM adapters plugged in since (the port dialog, every second)
  kAll,      // also built-in serial ports, each opened to see whether a UART is there (this
             // moves the modem lines of a real port: when the dialog opens and on Refresh only)
};

// Where the port setup dialog gets its list and how a typed device path becomes a port index.
struct PortCatalog {
  // The ports known after looking as far as `scan` says; entries keep their place.
  std::function<std::vector<PortChoice>(PortScan scan)> list;
  // True when a device is at `path` now.
  std::function<bool(const std::string& path)> exists;
  // Adds a device path to the port table if it is new; returns its port index.
  std::function<int(const std::string& path)> add;
};

// The process-wide port table of the serial layer and the system's /dev.
PortCatalog SystemPortCatalog();

// What the operator typed for a port, as a port index: -1 for an empty text (no port), or why it
// names no port.
struct PortResolution {
  int index = -1;
  std::string error;  // empty when index holds
};

// Resolves `text` against `choices` (the list the operator sees): an entry's label or path, its
// number in the list, "COMn" for /dev/ttyS(n-1), a device path, or a name without a folder, which
// is looked for in /dev. A path that is neither listed nor present is refused, never taken as no
// port.
PortResolution ResolvePortText(const PortCatalog& catalog, const std::vector<PortChoice>& choices,
                               std::string_view text);

}  // namespace brelin::gui
