#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "device/device_info.h"
#include "device/sequences.h"
#include "report/analysis.h"
#include "report/point_table.h"
#include "report/status_sink.h"

namespace brelin::app {

// What Get Data did with the history: measurement records of the image and how many were new, or
// why they could not be added.
struct HistoryResult {
  std::string path;
  std::uint64_t seen = 0;
  std::uint64_t added = 0;
  std::string warning;  // empty: added
};

// The main window as the commands see it: the operator's current choices, the two progress sinks,
// a way to tell the operator about a failure, and the data that outlives a command. It is the
// listener of the instrument sequences and the sink of the analysis. The desktop window and the
// command line each implement it; nothing here depends on a toolkit.
class MainModel : public device::SequenceListener, public report::StatusSink {
 public:
  virtual ~MainModel() = default;

  // The operator's choices, read at the moment of the call (the window keeps no copy).
  virtual std::string OutputFileName() const = 0;
  virtual bool MetricChosen() const = 0;    // false: imperial
  virtual bool AbsoluteChosen() const = 0;  // false: relative
  virtual bool AsciiChosen() const = 0;     // false: CSV

  // Appends text to the status log. Callers end lines with "\r\n"; "Done." has no line end.
  void AppendStatus(std::string_view text) override = 0;
  // Moves the progress bar to position 0..100.
  void SetProgress(int position) override = 0;
  // A failure that ends a command, in the system's own words (a message box with OK).
  void ShowMessage(std::string_view text) override = 0;

  // The report's text form, and a stream it goes to instead of OutputFileName(): choices of the
  // command line ("-o -", --encoding, --line-end). The window keeps the defaults.
  report::TextEncoding reportEncoding = report::TextEncoding::kLatin1;
  report::LineEnd reportLineEnd = report::LineEnd::kCrLf;
  std::FILE* reportStream = nullptr;

  report::PointTable pointTable{};
  // What the last command's analysis found; empty when the last command analysed nothing.
  std::optional<report::AnalysisSummary> analysisSummary;
  // Where Get Data adds the readings of each download; empty: nowhere. What it did last time.
  std::string historyPath;
  std::optional<HistoryResult> historyResult;
  device::DeviceInfo deviceInfo{};
  std::int32_t portIndex = 0;  // 0 = first port (COM1)
};

}  // namespace brelin::app
