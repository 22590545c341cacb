#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "serial/discovery.h"

namespace brelin::serial {

// 1..256 for "COMn" (either case), else -1.
int ComNumber(std::string_view name);

// What Windows says of its COM ports, from its two sources: the DOS device names, which are every
// port that can be opened ("COM5" -> "\Device\VCP0"), and the Plug and Play records of the Ports
// class, which give a port the name Device Manager shows ("USB Serial Port (COM5)").
struct DosDevice {
  std::string name;
  std::string target;
};
struct PortFriendlyName {
  std::string portName;  // the device's "PortName" registry value
  std::string friendlyName;
};

// The table rows for the COM devices among `devices`, in COM number order, each described by its
// friendly name where one names the same port, else by its device target. Names that are not COM
// ports and friendly names of ports that cannot be opened are left out.
std::vector<PortEntry> ComPortEntries(const std::vector<DosDevice>& devices,
                                      const std::vector<PortFriendlyName>& friendlyNames);

}  // namespace brelin::serial
