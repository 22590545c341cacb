#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "app/console_model.h"

namespace brelin::cli {

// The report flags that every command writing a report takes.
struct ReportOptions {
  std::string output;
  std::string format = "ascii";
  std::string units = "metric";
  std::string temperature = "relative";
  std::string encoding = "latin1";
  std::string lineEnd = "crlf";
  bool strict = false;  // a warning about the image fails the command
};

// Adds -o/--output REPORT (required; "-" is standard output), the text options of
// AddTextOptions and --strict to `command`, stored in `options`.
void AddReportOptions(CLI::App& command, ReportOptions& options);

// Adds --format ascii|csv, --units metric|imperial, --temperature relative|absolute,
// --encoding latin1|utf8 and --line-end crlf|lf to `command`, stored in `options`.
void AddTextOptions(CLI::App& command, ReportOptions& options);

// The report options the flags choose.
report::ReportOptions ChosenOptions(const ReportOptions& options);

// Sets the model's output file name and choices from the flags.
void ApplyReportOptions(const ReportOptions& options, app::ConsoleModel& model);

// After a command that analysed an image: prints what the analysis found as one line on stderr,
// then its warning, if any, as "brelin-cli: warning: <text>". Returns kExitFailed when there is
// a warning and --strict was given, else kExitDone. --quiet keeps both back, except a warning that
// fails the command.
int ReportSummary(const app::ConsoleModel& model, const ReportOptions& options);

}  // namespace brelin::cli
