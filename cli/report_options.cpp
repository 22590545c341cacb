#include "cli/report_options.h"

namespace brelin::cli {

void AddReportOptions(CLI::App& command, ReportOptions& options) {
  command.add_option("-o,--output", options.output, "Report file to write")
      ->required()
      ->type_name("REPORT");
  command.add_option("--format", options.format, "Report layout")
      ->check(CLI::IsMember({"ascii", "csv"}))
      ->capture_default_str();
  command.add_option("--units", options.units, "Unit system")
      ->check(CLI::IsMember({"metric", "imperial"}))
      ->capture_default_str();
  command.add_option("--temperature", options.temperature, "Temperature scale")
      ->check(CLI::IsMember({"relative", "absolute"}))
      ->capture_default_str();
  options.serialOption =
      command.add_option("--serial", options.serial, "Serial number in the report header");
}

void ApplyReportOptions(const ReportOptions& options, app::ConsoleModel& model) {
  model.outputFileName = options.output;
  model.ascii = options.format == "ascii";
  model.metric = options.units == "metric";
  model.absolute = options.temperature == "absolute";
  if (options.SerialGiven()) model.deviceInfo.serialNumber = options.serial;
}

}  // namespace brelin::cli
