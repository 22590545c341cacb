#include "gui/port_catalog.h"

#include <algorithm>

#include "serial/discovery.h"

namespace brelin::gui {
namespace {

// Appends devices plugged in since the table was made; entries already there keep their index,
// so a chosen port index never comes to mean another device.
void AddNewDevices() {
  std::vector<serial::PortEntry> table = serial::PortTable();
  bool grown = false;
  for (serial::PortEntry& found : serial::DiscoverPorts()) {
    auto known = [&](const serial::PortEntry& e) { return e.path == found.path; };
    if (std::none_of(table.begin(), table.end(), known)) {
      table.push_back(std::move(found));
      grown = true;
    }
  }
  if (grown) serial::SetPortTable(std::move(table));
}

std::string Label(const serial::PortEntry& entry) {
  if (!entry.description.empty()) return entry.path + " - " + entry.description;
  if (!entry.byId.empty()) return entry.path + " - " + entry.byId;
  return entry.path;
}

}  // namespace

PortCatalog SystemPortCatalog() {
  PortCatalog catalog;
  catalog.list = [] {
    AddNewDevices();
    std::vector<PortChoice> ports;
    for (const serial::PortEntry& entry : serial::PortTable()) {
      ports.push_back({entry.path, Label(entry)});
    }
    return ports;
  };
  // Also takes "COMn" and an index, as the command line does.
  catalog.add = [](const std::string& text) { return serial::ResolvePort(text); };
  return catalog;
}

}  // namespace brelin::gui
