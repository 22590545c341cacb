#include "app/trend.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#ifdef BRELIN_HISTORY
#include "history/history.h"
#include "history/listing.h"
#endif
#include "app/commands.h"
#include "report/analysis.h"
#include "report/file_error.h"

namespace brelin::app {
namespace {

struct Row {
  std::int32_t time;
  report::RowTexts texts;
};

// The history's readings of the point; none when there is no history or it cannot be read.
std::vector<Row> HistoryRows(const MainModel& model, int point,
                             const report::ReportOptions& options, std::string& note) {
  std::vector<Row> rows;
#ifdef BRELIN_HISTORY
  const std::int32_t serial = model.deviceInfo.serialNumber;
  std::error_code error;
  if (model.historyPath.empty() || serial == 0 ||
      !std::filesystem::exists(model.historyPath, error)) {
    return rows;
  }
  try {
    const history::History history(model.historyPath, history::History::Mode::kRead);
    for (const history::Reading& reading : history.Readings(serial, point)) {
      rows.push_back({reading.time, history::ReadingRow(point, 0, reading, options)});
    }
  } catch (const history::HistoryError& e) {
    note = e.what();
  }
#else
  (void)model, (void)point, (void)options, (void)note;
#endif
  return rows;
}

std::vector<Row> ImageRows(const std::string& imagePath, int point,
                           const report::ReportOptions& options, std::string& note) {
  std::vector<Row> rows;
  if (imagePath.empty()) return rows;
  try {
    report::ForEachMeasurement(imagePath, [&](const report::Measurement& m) {
      if (m.point != point || m.timestamp == 0) return;
      const report::PointSlot slot = report::MakeSlot(options, m.sensorType, m.raw, m.timestamp);
      rows.push_back({m.timestamp, report::FormatRow(point, 0, slot)});
    });
  } catch (const report::FileError& e) {
    note = e.what();
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& a, const Row& b) { return a.time < b.time; });
  return rows;
}

}  // namespace

Trend TrendOf(const MainModel& model, const std::string& imagePath, int point,
              std::int32_t chosen) {
  const report::ReportOptions options = ChosenReportOptions(model);
  Trend trend;
  trend.point = point;
  std::vector<Row> rows = HistoryRows(model, point, options, trend.note);
  trend.fromHistory = !rows.empty();
  if (rows.empty()) rows = ImageRows(imagePath, point, options, trend.note);

  const auto valued = [](const Row& row) { return !std::isnan(report::RowValue(row.texts)); };
  // By time, not by unit text: the time stays when the operator changes the units.
  auto unitOf = std::find_if(rows.rbegin(), rows.rend(),
                             [&](const Row& row) { return valued(row) && row.time == chosen; });
  if (unitOf == rows.rend()) unitOf = std::find_if(rows.rbegin(), rows.rend(), valued);
  if (unitOf == rows.rend()) return trend;
  trend.unit = unitOf->texts.unit;
  for (const Row& row : rows) {
    if (valued(row) && row.texts.unit == trend.unit) {
      trend.points.push_back({row.time, report::RowValue(row.texts)});
    }
  }
  if (point < 0 || point >= report::kPointCount) return trend;
  // The report's readings by their time: the table's texts may be in the units of an earlier
  // choice, the trend's are in those of now.
  for (const TrendPoint& p : trend.points) {
    const auto& slots = model.pointTable[point];
    if (std::any_of(slots.begin(), slots.end(),
                    [&](const report::PointSlot& slot) { return slot.timestamp == p.time; })) {
      trend.marked.push_back(p);
    }
  }
  return trend;
}

}  // namespace brelin::app
