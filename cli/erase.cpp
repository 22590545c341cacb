#include "cli/erase.h"

#include <memory>
#include <string>

#include "app/commands.h"
#include "app/console_model.h"
#include "cli/command.h"
#include "cli/port_option.h"

namespace brelin::cli {
namespace {

int RunErase(const std::string& port) {
  const int index = PortIndex(port);
  if (index < 0) return kExitUsage;
  app::ConsoleModel model;
  model.portIndex = index;
  bool done = false;
  const int status = RunCommand(model, [&] { done = app::EraseCommand(model); });
  return status == kExitDone && !done ? kExitFailed : status;
}

}  // namespace

void RegisterErase(CLI::App& app, int& exitStatus) {
  auto port = std::make_shared<std::string>();
  CLI::App* command =
      app.add_subcommand("erase", "Clear the instrument's memory (there is no confirmation)");
  AddPortOption(*command, *port);
  command->callback([port, &exitStatus] { exitStatus = RunErase(*port); });
}

}  // namespace brelin::cli
