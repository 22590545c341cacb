#include "cli/port_option.h"

#include <cstdio>

#include "serial/discovery.h"

namespace brelin::cli {

void AddPortOption(CLI::App& command, std::string& port) {
  command
      .add_option("--port", port,
                  "Serial port: a device path, COMn, or an INDEX from 'brelin-cli ports'")
      ->required()
      ->type_name("PORT");
}

int PortIndex(const std::string& port) {
  const int index = serial::ResolvePort(port);
  if (index < 0) {
    std::fprintf(stderr,
                 "brelin-cli: %s: not a port (give a device path, COMn, or an INDEX that "
                 "'brelin-cli ports' shows)\n",
                 port.c_str());
  }
  return index;
}

}  // namespace brelin::cli
