#pragma once

#include <CLI/CLI.hpp>
#include <functional>

#include "app/console_model.h"

namespace brelin::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Adds -q/--quiet to the program: on every subcommand, print nothing but failures.
void AddQuietOption(CLI::App& app);
// Whether --quiet was given.
bool Quiet();

// Lets usage errors start with "brelin-cli: " and end with where to find help.
void SetUsageErrorFormat(CLI::App& app);

// Runs one command's work on `model` and gives its exit status: kExitDone, kExitFailed when a
// file error (printed as "brelin-cli: <path>: <reason>") or a message of the model ended it, or
// InterruptedExitStatus when a signal asked the command to stop ("brelin-cli: interrupted").
// The model prints only failures under --quiet.
int RunCommand(app::ConsoleModel& model, const std::function<void()>& work);

}  // namespace brelin::cli
