#pragma once

#include <CLI/CLI.hpp>

namespace brelin::cli {

// Adds "erase --port PORT": clears the instrument's memory, without asking. Its exit status goes
// to `exitStatus`.
void RegisterErase(CLI::App& app, int& exitStatus);

}  // namespace brelin::cli
