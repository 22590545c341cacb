#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "serial/discovery.h"

namespace brelin::cli {

// Adds "ports [--json]": lists the serial devices found, with the index that --port accepts.
void RegisterPorts(CLI::App& app);

// The listing: one line per device (index, path, by-id name, description), columns aligned; a
// hint when there is none.
std::string FormatPorts(const std::vector<serial::PortEntry>& ports);

// The listing as a JSON array, one object per device: "index", "path", and "by_id",
// "description", "usb_vendor", "usb_product", "usb_serial" as strings, or null where unknown.
std::string FormatPortsJson(const std::vector<serial::PortEntry>& ports);

}  // namespace brelin::cli
