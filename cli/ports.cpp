#include "cli/ports.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace brelin::cli {

std::string FormatPorts(const std::vector<serial::PortEntry>& ports) {
  if (ports.empty()) {
    return "No serial ports found. A device path (for example a pseudo-terminal) can still be "
           "given with --port.\n";
  }
  size_t pathWidth = 4, idWidth = 5;
  for (const auto& p : ports) {
    pathWidth = std::max(pathWidth, p.path.size());
    idWidth = std::max(idWidth, p.byId.size());
  }
  auto row = [&](const std::string& index, const std::string& path, const std::string& id,
                 const std::string& description) {
    std::string line = index + std::string(7 - std::min<size_t>(index.size(), 6), ' ') + path +
                       std::string(pathWidth - path.size() + 2, ' ') + id;
    if (!description.empty()) line += std::string(idWidth - id.size() + 2, ' ') + description;
    return line + "\n";
  };
  std::string text = row("INDEX", "PATH", "BY-ID", "DESCRIPTION");
  for (size_t i = 0; i < ports.size(); ++i) {
    if (ports[i].path.empty()) continue;  // a COM number that is absent (Windows)
    text += row(std::to_string(i), ports[i].path, ports[i].byId.empty() ? "-" : ports[i].byId,
                ports[i].description);
  }
  return text;
}

std::string FormatPortsJson(const std::vector<serial::PortEntry>& ports) {
  const auto string = [](const std::string& text) -> std::string {
    if (text.empty()) return "null";
    std::string out = "\"";
    for (const char c : text) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
        out += escape;
      } else {
        out += c;
      }
    }
    return out + "\"";
  };
  std::string text = "[";
  for (size_t i = 0; i < ports.size(); ++i) {
    const serial::PortEntry& p = ports[i];
    if (p.path.empty()) continue;
    text += text.size() > 1 ? ",\n  " : "\n  ";
    text += "{\"index\": " + std::to_string(i) + ", \"path\": " + string(p.path) +
            ", \"by_id\": " + string(p.byId) + ", \"description\": " + string(p.description) +
            ", \"usb_vendor\": " + string(p.usbVendor) +
            ", \"usb_product\": " + string(p.usbProduct) +
            ", \"usb_serial\": " + string(p.usbSerial) + "}";
  }
  return text + (text.size() > 1 ? "\n]\n" : "]\n");
}

void RegisterPorts(CLI::App& app) {
  CLI::App* command = app.add_subcommand(
      "ports", "List the serial ports found; their INDEX, path or COMn can be given as --port");
  auto json = std::make_shared<bool>(false);
  command->add_flag("--json", *json, "Print the list as JSON, for scripts");
  command->callback([json] {
    const auto& ports = serial::PortTable();
    std::fputs((*json ? FormatPortsJson(ports) : FormatPorts(ports)).c_str(), stdout);
  });
}

}  // namespace brelin::cli
