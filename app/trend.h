#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/main_model.h"

namespace brelin::app {

struct TrendPoint {
  std::int32_t time;  // seconds since 1970, UTC
  double value;       // in the units the model's choices select
};

// A point's values over time, for a chart.
struct Trend {
  int point = 0;
  std::string unit;                // of every value below (Latin-1, as the report writes it)
  std::vector<TrendPoint> points;  // oldest first
  std::vector<TrendPoint> marked;  // those at the times of the point table's readings of the point
  bool fromHistory = false;        // false: the readings of the image alone
  std::string note;                // why the history could not be read, or ""
};

// The trend of `point`: every reading of it that the history at model.historyPath holds for the
// instrument model.deviceInfo names, or, when it holds none (or there is no history, or no known
// instrument), every reading of it in the image at `imagePath`. Values are those of the report's
// texts in the model's units. A point may have had several sensors: only readings in the unit of
// the reading at time `chosen` are kept, or, when there is none with a number then, in the unit of
// the newest value; readings without a number are left out. Never throws: an unreadable history or
// image gives what could be read and says why in `note`.
Trend TrendOf(const MainModel& model, const std::string& imagePath, int point,
              std::int32_t chosen = 0);

}  // namespace brelin::app
