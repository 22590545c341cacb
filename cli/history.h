#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "app/console_model.h"
#include "cli/report_options.h"

namespace brelin::cli {

// Registers "history" with its subcommands points, show and import.
void RegisterHistory(CLI::App& app, int& exitStatus);

// Adds --history PATH to `command`, stored in `path` (which should hold the default).
CLI::Option* AddHistoryOption(CLI::App& command, std::string& path);

// After a command that added readings to the history: prints how many were new as one line on
// stderr, or the warning why none were as "brelin-cli: warning: <text>". Returns kExitFailed
// for a warning under --strict, else kExitDone. --quiet keeps both back, except a warning that
// fails the command.
int ReportHistory(const app::ConsoleModel& model, const ReportOptions& options);

// Seconds since 1970 (UTC, as the reports show times) of "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or
// "YYYY-MM-DDTHH:MM:SS"; with `end` the first second after the day or minute it names. Nothing
// when the text is not such a date.
std::optional<std::int64_t> ParseDate(const std::string& text, bool end);

}  // namespace brelin::cli
