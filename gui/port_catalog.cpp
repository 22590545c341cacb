#include "gui/port_catalog.h"

namespace brelin::gui {

PortCatalog SystemPortCatalog() {
  PortCatalog catalog;
  catalog.list = [] {
    std::vector<PortChoice> ports;
    for (int n = 1; n <= 6; ++n) {
      std::string name = "COM" + std::to_string(n);
      ports.push_back({name, name});
    }
    return ports;
  };
  catalog.add = [](const std::string&) { return -1; };
  return catalog;
}

}  // namespace brelin::gui
