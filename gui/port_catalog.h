#pragma once

#include <functional>
#include <string>
#include <vector>

namespace brelin::gui {

// One serial port the operator can choose; its position in the list is its port index.
struct PortChoice {
  std::string path;   // device path, e.g. /dev/ttyUSB0
  std::string label;  // what the list shows: the path and, where known, what is behind it
};

// Where the port setup dialog gets its list and how a typed device path becomes a port index.
struct PortCatalog {
  std::function<std::vector<PortChoice>()> list;
  // Adds a typed device path to the port table if it is new; returns its port index, or -1 when
  // the text names no port.
  std::function<int(const std::string& path)> add;
};

// The process-wide port table of the serial layer.
PortCatalog SystemPortCatalog();

}  // namespace brelin::gui
