#include "cli/analyse.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "app/commands.h"
#include "app/console_model.h"
#include "cli/command.h"
#ifdef BRELIN_HISTORY
#include "cli/history.h"
#include "history/history.h"
#endif
#include "cli/report_options.h"

namespace brelin::cli {
namespace {

struct AnalyseOptions {
  std::string image;
  ReportOptions report;
  std::int32_t serial = 0;  // no instrument to ask
#ifdef BRELIN_HISTORY
  bool import = false;
  std::string history = history::DefaultPath();
#endif
};

int RunAnalyse(const AnalyseOptions& options) {
  app::ConsoleModel model;
  ApplyReportOptions(options.report, model);
  model.deviceInfo.serialNumber = options.serial;
#ifdef BRELIN_HISTORY
  if (options.import && options.serial <= 0) {
    std::fprintf(stderr,
                 "brelin-cli: analyse --import needs the instrument's --serial\n"
                 "Run 'brelin-cli analyse --help' for more information.\n");
    return kExitUsage;
  }
#endif
  const int status = RunCommand(model, [&] { app::AnalyseCommand(model, options.image); });
  if (status != kExitDone) return status;
  const int summary = ReportSummary(model, options.report);
#ifdef BRELIN_HISTORY
  // Only when asked: test images must not mix with an instrument's real readings.
  if (options.import) {
    model.historyPath = options.history;
    app::ImportIntoHistory(model, options.image);
    if (ReportHistory(model, options.report) != kExitDone) return kExitFailed;
  }
#endif
  return summary;
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
#ifdef BRELIN_HISTORY
  command->add_flag("--import", options->import,
                    "Add the image's readings to the history, as the instrument --serial names");
  AddHistoryOption(*command, options->history);
#endif
  command->callback([options, &exitStatus] { exitStatus = RunAnalyse(*options); });
}

}  // namespace brelin::cli
