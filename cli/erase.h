#pragma once

#include <CLI/CLI.hpp>

namespace brelin::cli {

// Adds "erase --port PORT [--yes]": clears the instrument's memory after the operator confirms on
// the terminal, or at once with --yes. Without a terminal and without --yes, and on any answer
// but yes, it sends nothing and exits with kExitUsage. Its exit status goes to `exitStatus`.
void RegisterErase(CLI::App& app, int& exitStatus);

}  // namespace brelin::cli
