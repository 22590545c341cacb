#include "cli/analyse.h"

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
};

int RunAnalyse(const AnalyseOptions& options) {
  app::ConsoleModel model;
  ApplyReportOptions(options.report, model);
  return RunCommand(model, [&] { app::AnalyseCommand(model, options.image); });
}

}  // namespace

void RegisterAnalyse(CLI::App& app, int& exitStatus) {
  auto options = std::make_shared<AnalyseOptions>();
  CLI::App* command =
      app.add_subcommand("analyse", "Decode a memory image file and write its report");
  command->add_option("IMAGE", options->image, "Memory image file (a download's KLV480.bin)")
      ->required();
  AddReportOptions(*command, options->report);
  command->callback([options, &exitStatus] { exitStatus = RunAnalyse(*options); });
}

}  // namespace brelin::cli
