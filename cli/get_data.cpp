#include "cli/get_data.h"

#include <memory>
#include <string>

#include "app/commands.h"
#include "app/console_model.h"
#include "cli/command.h"
#ifdef BRELIN_HISTORY
#include "cli/history.h"
#include "history/history.h"
#endif
#include "cli/port_option.h"
#include "cli/report_options.h"

namespace brelin::cli {
namespace {

struct GetDataOptions {
  std::string port;
  std::string image = device::kImageFileName;
  ReportOptions report;
#ifdef BRELIN_HISTORY
  std::string history = history::DefaultPath();
  bool noHistory = false;
#endif
};

int RunGetData(const GetDataOptions& options) {
  const int index = PortIndex(options.port);
  if (index < 0) return kExitUsage;
  app::ConsoleModel model;
  ApplyReportOptions(options.report, model);
  model.portIndex = index;
#ifdef BRELIN_HISTORY
  if (!options.noHistory) model.historyPath = options.history;
#endif
  app::GetDataOptions download;
  download.imagePath = options.image;
  bool done = false;
  const int status = RunCommand(model, [&] { done = app::GetDataCommand(model, download); });
  if (status != kExitDone) return status;
  if (!done) return kExitFailed;
  const int summary = ReportSummary(model, options.report);
#ifdef BRELIN_HISTORY
  if (ReportHistory(model, options.report) != kExitDone) return kExitFailed;
#endif
  return summary;
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
#ifdef BRELIN_HISTORY
  CLI::Option* history = AddHistoryOption(*command, options->history);
  command->add_flag("--no-history", options->noHistory, "Add nothing to the history")
      ->excludes(history);
#endif
  command->callback([options, &exitStatus] { exitStatus = RunGetData(*options); });
}

}  // namespace brelin::cli
