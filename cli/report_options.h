#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

#include "app/console_model.h"

namespace brelin::cli {

// The report flags that every command writing a report takes.
struct ReportOptions {
  std::string output;
  std::string format = "ascii";
  std::string units = "metric";
  std::string temperature = "relative";
  std::int32_t serial = 0;
  const CLI::Option* serialOption = nullptr;

  bool SerialGiven() const { return serialOption && serialOption->count() > 0; }
};

// Adds -o/--output REPORT (required), --format ascii|csv, --units metric|imperial,
// --temperature relative|absolute and --serial N to `command`, stored in `options`.
void AddReportOptions(CLI::App& command, ReportOptions& options);

// Sets the model's output file name and choices from the flags; --serial, when given, becomes the
// device's serial number.
void ApplyReportOptions(const ReportOptions& options, app::ConsoleModel& model);

}  // namespace brelin::cli
