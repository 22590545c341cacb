#include "cli/history.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/commands.h"
#include "cli/command.h"
#include "history/history.h"
#include "history/listing.h"
#include "report/file_error.h"
#include "report/replace_file.h"

namespace brelin::cli {
namespace {

struct HistoryOptions {
  std::string path = history::DefaultPath();
  ReportOptions text;
  std::string output = "-";
  int point = 0;
  std::int32_t serial = 0;
  std::string since, until;
  std::string image;
};

// Writes a listing to the file -o names, or to standard output for "-".
void WriteListing(const std::string& output, const std::string& content) {
  if (output != "-") {
    report::ReplaceFileContent(output, content);
    return;
  }
  if (std::fwrite(content.data(), 1, content.size(), stdout) != content.size() ||
      std::fflush(stdout) != 0) {
    throw report::FileError("standard output", "could not write");
  }
}

// Runs a history command: a history or file error is printed as "brelin-cli: <what>".
int Run(const std::function<int()>& work) {
  try {
    return work();
  } catch (const history::HistoryError& e) {
    std::fprintf(stderr, "brelin-cli: %s\n", e.what());
  } catch (const report::FileError& e) {
    std::fprintf(stderr, "brelin-cli: %s\n", e.what());
  }
  return kExitFailed;
}

int RunPoints(const HistoryOptions& options) {
  return Run([&] {
    const history::History history(options.path, history::History::Mode::kRead);
    WriteListing(options.output, history::FormatPoints(history, ChosenOptions(options.text)));
    return kExitDone;
  });
}

int RunShow(const HistoryOptions& options) {
  return Run([&] {
    const history::History history(options.path, history::History::Mode::kRead);
    std::int32_t serial = options.serial;
    if (serial == 0) {
      const std::vector<std::int32_t> serials = history.Serials(options.point);
      if (serials.empty()) {
        std::fprintf(stderr, "brelin-cli: no readings of point %d in %s\n", options.point,
                     options.path.c_str());
        return kExitFailed;
      }
      if (serials.size() > 1) {
        std::string names;
        for (const std::int32_t s : serials)
          names += (names.empty() ? "" : ", ") + std::to_string(s);
        std::fprintf(stderr,
                     "brelin-cli: point %d has readings of several instruments (%s): choose "
                     "one with --serial\n",
                     options.point, names.c_str());
        return kExitUsage;
      }
      serial = serials.front();
    }
    const std::int64_t since = options.since.empty() ? std::numeric_limits<std::int64_t>::min()
                                                     : *ParseDate(options.since, false);
    const std::int64_t until = options.until.empty() ? std::numeric_limits<std::int64_t>::max()
                                                     : *ParseDate(options.until, true);
    WriteListing(options.output,
                 history::FormatReadings(serial, options.point,
                                         history.Readings(serial, options.point, since, until),
                                         ChosenOptions(options.text)));
    return kExitDone;
  });
}

int RunImport(const HistoryOptions& options) {
  app::ConsoleModel model;
  model.historyPath = options.path;
  model.deviceInfo.serialNumber = options.serial;
  app::ImportIntoHistory(model, options.image);
  if (!model.historyResult->warning.empty()) {
    std::fprintf(stderr, "brelin-cli: %s\n", model.historyResult->warning.c_str());
    return kExitFailed;
  }
  if (!Quiet()) std::fprintf(stderr, "%s\n", app::HistoryText(*model.historyResult).c_str());
  return kExitDone;
}

std::string CheckDate(const std::string& text) {
  return ParseDate(text, false) ? std::string()
                                : "not a date: YYYY-MM-DD, YYYY-MM-DD HH:MM or YYYY-MM-DDTHH:MM:SS";
}

void AddListingOptions(CLI::App& command, HistoryOptions& options) {
  AddHistoryOption(command, options.path);
  AddTextOptions(command, options.text);
  command.add_option("-o,--output", options.output, "File to write; - for standard output")
      ->type_name("FILE")
      ->capture_default_str();
}

}  // namespace

std::optional<std::int64_t> ParseDate(const std::string& text, bool end) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int used = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used);
  if (fields != 3) return std::nullopt;
  std::int64_t step = 86400;  // what the text names: a day, a minute or a second
  if (static_cast<std::size_t>(used) != text.size()) {
    const char separator = text[used];
    int more = 0;
    if (separator != ' ' && separator != 'T') return std::nullopt;
    const std::string rest = text.substr(used + 1);
    if (std::sscanf(rest.c_str(), "%2d:%2d%n", &hour, &minute, &more) != 2) return std::nullopt;
    step = 60;
    if (static_cast<std::size_t>(more) != rest.size()) {
      int last = 0;
      if (std::sscanf(rest.c_str() + more, ":%2d%n", &second, &last) != 1 ||
          static_cast<std::size_t>(more + last) != rest.size()) {
        return std::nullopt;
      }
      step = 1;
    }
  }
  using namespace std::chrono;
  const year_month_day date{std::chrono::year(year), std::chrono::month(month),
                            std::chrono::day(day)};
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  const std::int64_t at = sys_days(date).time_since_epoch().count() * std::int64_t{86400} +
                          hour * 3600 + minute * 60 + second;
  return end ? at + step : at;
}

CLI::Option* AddHistoryOption(CLI::App& command, std::string& path) {
  return command
      .add_option("--history", path,
                  "The history file (default: $XDG_DATA_HOME/brelin/history.sqlite3)")
      ->type_name("PATH");
}

int ReportHistory(const app::ConsoleModel& model, const ReportOptions& options) {
  if (!model.historyResult) return kExitDone;
  const std::string& warning = model.historyResult->warning;
  if (warning.empty()) {
    if (!Quiet()) std::fprintf(stderr, "%s\n", app::HistoryText(*model.historyResult).c_str());
    return kExitDone;
  }
  if (Quiet() && !options.strict) return kExitDone;
  std::fprintf(stderr, "brelin-cli: warning: %s\n", warning.c_str());
  return options.strict ? kExitFailed : kExitDone;
}

void RegisterHistory(CLI::App& app, int& exitStatus) {
  auto options = std::make_shared<HistoryOptions>();
  CLI::App* command =
      app.add_subcommand("history", "List, show and add to the history of every reading");
  command->require_subcommand(1);

  CLI::App* points = command->add_subcommand(
      "points",
      "List each instrument's points: readings, first and last time, smallest and "
      "largest value");
  AddListingOptions(*points, *options);
  points->callback([options, &exitStatus] { exitStatus = RunPoints(*options); });

  CLI::App* show = command->add_subcommand("show", "Print every reading of one point");
  show->add_option("--point", options->point, "The point (0 to 999)")
      ->type_name("N")
      ->required()
      ->check(CLI::Range(0, 999));
  show->add_option("--serial", options->serial,
                   "The instrument (needed when several have readings of the point)");
  show->add_option("--since", options->since, "Readings from this date or time on (UTC)")
      ->type_name("DATE")
      ->check(CheckDate);
  show->add_option("--until", options->until, "Readings up to this date or time (UTC)")
      ->type_name("DATE")
      ->check(CheckDate);
  AddListingOptions(*show, *options);
  show->callback([options, &exitStatus] { exitStatus = RunShow(*options); });

  CLI::App* import = command->add_subcommand("import", "Add a memory image's readings");
  import->add_option("IMAGE", options->image, "Memory image file")->required();
  import->add_option("--serial", options->serial, "The instrument the image came from")
      ->required()
      ->check(CLI::Range(1, std::numeric_limits<std::int32_t>::max()));
  AddHistoryOption(*import, options->path);
  import->callback([options, &exitStatus] { exitStatus = RunImport(*options);
});
}  // namespace brelin::cli

}  // namespace brelin::cli
