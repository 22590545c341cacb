#include "cli/report_options.h"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "app/commands.h"
#include "cli/command.h"

namespace brelin::cli {

void AddReportOptions(CLI::App& command, ReportOptions& options) {
  command.add_option("-o,--output", options.output, "Report file to write; - for standard output")
      ->required()
      ->type_name("REPORT");
  AddTextOptions(command, options);
  command.add_flag("--strict", options.strict,
                   "Exit with status 1 when the analysis warns (the report is still written)");
}

void AddTextOptions(CLI::App& command, ReportOptions& options) {
  command.add_option("--format", options.format, "Report layout")
      ->check(CLI::IsMember({"ascii", "csv"}))
      ->capture_default_str();
  command.add_option("--units", options.units, "Unit system")
      ->check(CLI::IsMember({"metric", "imperial"}))
      ->capture_default_str();
  command.add_option("--temperature", options.temperature, "Temperature scale")
      ->check(CLI::IsMember({"relative", "absolute"}))
      ->capture_default_str();
  command.add_option("--encoding", options.encoding, "Report text encoding (the degree sign)")
      ->check(CLI::IsMember({"latin1", "utf8"}))
      ->capture_default_str();
  command.add_option("--line-end", options.lineEnd, "Report line ends")
      ->check(CLI::IsMember({"crlf", "lf"}))
      ->capture_default_str();
}

report::ReportOptions ChosenOptions(const ReportOptions& options) {
  return {
      .unitSystem = options.units == "metric" ? report::kMetric : report::kImperial,
      .temperatureScale = options.temperature == "absolute" ? report::kAbsolute : report::kRelative,
      .reportFormat = options.format == "ascii" ? report::kAscii : report::kCsv,
      .encoding =
          options.encoding == "utf8" ? report::TextEncoding::kUtf8 : report::TextEncoding::kLatin1,
      .lineEnd = options.lineEnd == "lf" ? report::LineEnd::kLf : report::LineEnd::kCrLf};
}

void ApplyReportOptions(const ReportOptions& options, app::ConsoleModel& model) {
  model.outputFileName = options.output;
  model.ascii = options.format == "ascii";
  model.metric = options.units == "metric";
  model.absolute = options.temperature == "absolute";
  model.reportEncoding = ChosenOptions(options).encoding;
  model.reportLineEnd = ChosenOptions(options).lineEnd;
  // The status lines stay on stderr, so stdout carries the report alone.
  if (options.output == "-") {
#ifdef _WIN32
    // A text-mode stdout would turn each CR LF of the report into CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    model.reportStream = stdout;
  }
}

int ReportSummary(const app::ConsoleModel& model, const ReportOptions& options) {
  if (!model.analysisSummary) return kExitDone;
  if (!Quiet()) std::fprintf(stderr, "%s\n", app::SummaryText(*model.analysisSummary).c_str());
  const std::string warning = app::SummaryWarning(*model.analysisSummary);
  if (warning.empty() || (Quiet() && !options.strict)) return kExitDone;
  std::fprintf(stderr, "brelin-cli: warning: %s\n", warning.c_str());
  return options.strict ? kExitFailed : kExitDone;
}

}  // namespace brelin::cli
