#pragma once

#include <CLI/CLI.hpp>

namespace brelin::cli {

// Adds "analyse IMAGE -o REPORT [report options]": decodes a memory image file and writes its
// report. When it runs, its exit status goes to `exitStatus`.
void RegisterAnalyse(CLI::App& app, int& exitStatus);

}  // namespace brelin::cli
