#pragma once

#include <CLI/CLI.hpp>

namespace brelin::cli {

// Adds "get-data --port PORT -o REPORT [report options] [--image PATH]": downloads the
// instrument's memory into PATH and writes its report. Its exit status goes to `exitStatus`.
void RegisterGetData(CLI::App& app, int& exitStatus);

}  // namespace brelin::cli
