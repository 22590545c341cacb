#include "cli/command.h"

#include <cstdio>

#include "cli/interrupt.h"
#include "report/file_error.h"

namespace brelin::cli {
namespace {

bool quiet = false;

}  // namespace

void AddQuietOption(CLI::App& app) {
  app.add_flag("-q,--quiet", quiet,
               "Print only failures on stderr: no status lines, progress or summary");
  // Taken after the subcommand's own options too.
  app.fallthrough();
}

bool Quiet() {
  return quiet;
}

void SetUsageErrorFormat(CLI::App& app) {
  app.failure_message([](const CLI::App* top, const CLI::Error& e) {
    std::string help = "brelin-cli";
    for (const CLI::App* command : top->get_subcommands()) help += " " + command->get_name();
    return "brelin-cli: " + std::string(e.what()) + "\nRun '" + help +
           " --help' for more information.\n";
  });
}

int RunCommand(app::ConsoleModel& model, const std::function<void()>& work) {
  model.quiet = quiet;
  model.stopQuery = StopRequested;
  try {
    work();
  } catch (const report::FileError& e) {
    model.Flush();
    std::fprintf(stderr, "brelin-cli: %s\n", e.what());
    return kExitFailed;
  }
  model.Flush();
  if (const int signal = InterruptSignal(); signal != 0) {
    std::fprintf(stderr, "brelin-cli: interrupted\n");
    return InterruptedExitStatus(signal);
  }
  return model.messageShown() ? kExitFailed : kExitDone;
}

}  // namespace brelin::cli
