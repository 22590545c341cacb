#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace brelin::cli {

// Adds the required --port PORT option of the commands that talk to the instrument.
void AddPortOption(CLI::App& command, std::string& port);

// The port index of a PORT text (a device path, COMn, or an index of 'brelin-cli ports'), or -1
// after telling the user on stderr what PORT may be.
int PortIndex(const std::string& port);

}  // namespace brelin::cli
