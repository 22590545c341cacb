// brelin-cli: the headless front end. Each subcommand lives in its own file and registers itself
// here.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/analyse.h"
#include "cli/command.h"
#include "cli/erase.h"
#include "cli/get_data.h"
#ifdef BRELIN_HISTORY
#include "cli/history.h"
#endif
#include "cli/interrupt.h"
#include "cli/ports.h"

namespace {

#ifdef BRELIN_HISTORY
constexpr char kSubcommands[] = "analyse, get-data, erase, ports, history";
#else
constexpr char kSubcommands[] = "analyse, get-data, erase, ports";
#endif

// Words before the subcommand that are neither a subcommand nor a program option would otherwise
// surface as an unrelated "IMAGE is required" or "A subcommand is required". Returns false after
// naming the first such word.
bool CheckBeforeSubcommand(const CLI::App& app, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const auto named = [&](const CLI::App* command) { return command->check_name(word); };
    if (!app.get_subcommands(named).empty()) return true;
    if (word == "-q" || word == "--quiet" || word == "-h" || word == "--help" ||
        word == "--version") {
      continue;
    }
    std::fprintf(stderr,
                 "brelin-cli: %s: not %s (%s)\n"
                 "Run 'brelin-cli --help' for more information.\n",
                 word.c_str(),
                 word.starts_with('-') ? "an option before the subcommand" : "a subcommand",
                 kSubcommands);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Downloads the memory of a KLV480 instrument and writes its reports.", "brelin-cli"};
  app.set_version_flag("--version", "brelin-cli " BRELIN_VERSION);
  app.require_subcommand(1);
  brelin::cli::AddQuietOption(app);
  brelin::cli::SetUsageErrorFormat(app);

  int exitStatus = brelin::cli::kExitDone;
  brelin::cli::RegisterAnalyse(app, exitStatus);
  brelin::cli::RegisterPorts(app);
  brelin::cli::RegisterGetData(app, exitStatus);
  brelin::cli::RegisterErase(app, exitStatus);
#ifdef BRELIN_HISTORY
  brelin::cli::RegisterHistory(app, exitStatus);
#endif

  if (!CheckBeforeSubcommand(app, argc, argv)) return brelin::cli::kExitUsage;
  brelin::cli::CatchInterrupts();
  try {
    app.parse(argc, argv);
  } catch (const CLI::RequiredError& e) {
    // A mistyped option leaves its value or a required one missing: name the mistyped word.
    for (const CLI::App* command : app.get_subcommands()) {
      std::vector<std::string> extra = command->remaining();
      if (extra.empty()) extra = app.remaining();  // where the subcommand hands unknown words
      if (extra.empty() || !extra.front().starts_with('-')) continue;
      std::fprintf(stderr,
                   "brelin-cli: %s: not an option of %s\n"
                   "Run 'brelin-cli %s --help' for more information.\n",
                   extra.front().c_str(), command->get_name().c_str(), command->get_name().c_str());
      return brelin::cli::kExitUsage;
    }
    return app.exit(e) == 0 ? brelin::cli::kExitDone : brelin::cli::kExitUsage;
  } catch (const CLI::ParseError& e) {
    // Help and version end with status 0; every other parse error is a usage error.
    return app.exit(e) == 0 ? brelin::cli::kExitDone : brelin::cli::kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brelin-cli: %s\n", e.what());
    return brelin::cli::kExitFailed;
  }
  return exitStatus;
}
