#include "cli/analyse.h"

#include <cstdint>
#include <memory>
#include <string>

#include "app/commands.h"
#include "app/console_model.h"
#include "cli/command.h"
#include "cli/report_options.h"

namespace brelin::cli {
namespace {

struct AnalyseOptions {
  std::string image;
  ReportOptions report;
  std::int32_t serial = 0;  // no instrument to ask
};

int RunAnalyse(const AnalyseOptions& options) {
  app::ConsoleModel model;
  ApplyReportOptions(options.report, model);
  model.deviceInfo.serialNumber = options.serial;
  const int status = RunCommand(model, [&] { app::AnalyseCommand(model, options.image); });
  return status == kExitDone ? ReportSummary(model, options.report) : status;
}

}  // namespace

void RegisterAnalyse(CLI::App& app, int& exitStatus) {
  auto options = std::make_shared<AnalyseOptions>();
  CLI::App* command =
      app.add_subcommand("analyse", "Decode a memory image file and write its report");
  command->add_option("IMAGE", options->image, "Memory image file (a download's KLV480.bin)")
      ->required();
  AddReportOptions(*command, options->report);
  command->add_option("--serial", options->serial, "Serial number in the report header");
  command->callback([options, &exitStatus] { exitStatus = RunAnalyse(*options); });
}

}  // namespace brelin::cli
