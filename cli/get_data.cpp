#include "cli/get_data.h"

#include <memory>
#include <string>

#include "app/commands.h"
#include "app/console_model.h"
#include "cli/command.h"
#include "cli/port_option.h"
#include "cli/report_options.h"

namespace brelin::cli {
namespace {

struct GetDataOptions {
  std::string port;
  std::string image = device::kImageFileName;
  ReportOptions report;
};

int RunGetData(const GetDataOptions& options) {
  const int index = PortIndex(options.port);
  if (index < 0) return kExitUsage;
  app::ConsoleModel model;
  ApplyReportOptions(options.report, model);
  model.portIndex = index;
  app::GetDataOptions download;
  download.imagePath = options.image;
  bool done = false;
  const int status = RunCommand(model, [&] { done = app::GetDataCommand(model, download); });
  if (status != kExitDone) return status;
  return done ? ReportSummary(model, options.report) : kExitFailed;
}

}  // namespace

void RegisterGetData(CLI::App& app, int& exitStatus) {
  auto options = std::make_shared<GetDataOptions>();
  CLI::App* command =
      app.add_subcommand("get-data", "Download the instrument's memory and write its report");
  AddPortOption(*command, options->port);
  AddReportOptions(*command, options->report);
  command->add_option("--image", options->image, "Where to store the memory image")
      ->type_name("PATH")
      ->capture_default_str();
  command->callback([options, &exitStatus] { exitStatus = RunGetData(*options); });
}

}  // namespace brelin::cli
