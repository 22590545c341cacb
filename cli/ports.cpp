#include "cli/ports.h"

#include <algorithm>
#include <cstdio>

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

void RegisterPorts(CLI::App& app) {
  CLI::App* command = app.add_subcommand(
      "ports", "List the serial ports found; their INDEX, path or COMn can be given as --port");
  command->callback([] { std::fputs(FormatPorts(serial::PortTable()).c_str(), stdout); });
}

}  // namespace brelin::cli
