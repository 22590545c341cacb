#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "report/point_table.h"

namespace brelin::app {

// What the instrument last reported about itself. A download overwrites only the fields it manages
// to scan; the others keep their values.
struct DeviceInfo {
  std::int32_t downloadNumber = 0;
  std::uint32_t downloadWord1 = 0;
  std::uint32_t downloadWord2 = 0;
  std::int32_t serialNumber = 0;
  std::int32_t pcbNumber = 0;
};

// The main window as the analysis and the instrument sequences see it: the operator's current
// choices, the two progress sinks, a way to tell the operator about a failure, and the data that
// outlives a command. The desktop window and the command line each implement it; nothing here
// depends on a toolkit.
class MainModel {
 public:
  virtual ~MainModel() = default;

  // The operator's choices, read at the moment of the call (the window keeps no copy).
  virtual std::string OutputFileName() const = 0;
  virtual bool MetricChosen() const = 0;    // false: imperial
  virtual bool AbsoluteChosen() const = 0;  // false: relative
  virtual bool AsciiChosen() const = 0;     // false: CSV

  // Appends text to the status log. Callers end lines with "\r\n"; "Done." has no line end.
  virtual void AppendStatus(std::string_view text) = 0;
  // Moves the progress bar to position 0..100.
  virtual void SetProgress(int position) = 0;
  // A failure that ends a command, in the system's own words (a message box with OK).
  virtual void ShowMessage(std::string_view text) = 0;

  report::PointTable pointTable{};
  DeviceInfo deviceInfo{};
  std::int32_t portIndex = 0;  // 0 = first port (COM1)
};

}  // namespace brelin::app
