#include "cli/erase.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <string>

#include "app/commands.h"
#include "app/console_model.h"
#include "cli/command.h"
#include "cli/port_option.h"

namespace brelin::cli {
namespace {

struct EraseOptions {
  std::string port;
  bool yes = false;
};

// Asks on the terminal; only "y" or "yes" goes ahead. Without a terminal there is no one to ask.
bool Confirmed() {
  if (::isatty(STDIN_FILENO) != 1) {
    std::fputs("brelin-cli: erase: no terminal to ask on; give --yes to erase without asking\n",
               stderr);
    return false;
  }
  std::fprintf(stderr, "%s [y/N] ", app::kEraseQuestion);
  std::fflush(stderr);
  char line[64] = "";
  if (std::fgets(line, sizeof line, stdin) == nullptr) std::fputc('\n', stderr);  // end of input
  std::string answer;
  for (const char* c = line; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (!std::isspace(byte)) answer += static_cast<char>(std::tolower(byte));
  }
  if (answer == "y" || answer == "yes") return true;
  std::fputs("brelin-cli: erase: not confirmed; nothing was sent to the instrument\n", stderr);
  return false;
}

int RunErase(const EraseOptions& options) {
  const int index = PortIndex(options.port);
  if (index < 0) return kExitUsage;
  if (!options.yes && !Confirmed()) return kExitUsage;
  app::ConsoleModel model;
  model.portIndex = index;
  bool done = false;
  const int status = RunCommand(model, [&] { done = app::EraseCommand(model); });
  return status == kExitDone && !done ? kExitFailed : status;
}

}  // namespace

void RegisterErase(CLI::App& app, int& exitStatus) {
  auto options = std::make_shared<EraseOptions>();
  CLI::App* command =
      app.add_subcommand("erase", "Clear the instrument's memory, after asking on the terminal");
  AddPortOption(*command, options->port);
  command->add_flag("--yes", options->yes, "Erase without asking (needed without a terminal)");
  command->callback([options, &exitStatus] { exitStatus = RunErase(*options); });
}

}  // namespace brelin::cli
