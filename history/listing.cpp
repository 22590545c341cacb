#include "history/listing.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "report/analysis.h"

namespace brelin::history {
namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  const auto last = text.find_last_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// A value with its unit in one field: "23.4 °C".
std::string ValueWithUnit(const report::RowTexts& row) {
  const std::string value = Trimmed(row.value);
  return row.unit.empty() ? value : value + " " + Trimmed(row.unit);
}

std::string Line(int reportFormat, const std::vector<std::string>& fields) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (reportFormat == report::kAscii) {
      out += (i ? "\t" : "") + fields[i];
    } else {
      out += (i ? ",\"" : "\"") + fields[i] + "\"";
    }
  }
  return out + "\r\n";
}

}  // namespace

report::RowTexts ReadingRow(int point, int number, const Reading& reading,
                            const report::ReportOptions& options) {
  return report::FormatRow(
      point, number, report::MakeSlot(options, reading.sensorType, reading.raw, reading.time));
}

std::string FormatReadings(std::int32_t serial, int point, const std::vector<Reading>& readings,
                           const report::ReportOptions& options) {
  const int format = options.reportFormat;
  std::string out = Line(format, {"KLV480 history of point " + std::to_string(point) +
                                  " of device NE" + std::to_string(serial)}) +
                    "\r\n" + report::ColumnNamesLine(format);
  int number = 0;
  for (const Reading& reading : readings) {
    out += report::RowLine(format, ReadingRow(point, number++, reading, options));
  }
  return report::ApplyTextForm(std::move(out), options);
}

std::string FormatPoints(const History& history, const report::ReportOptions& options) {
  const int format = options.reportFormat;
  std::string out =
      Line(format, {"Device", "Point", "Readings", "First", "Last", "Smallest", "Largest"});
  for (const PointSummary& summary : history.Points()) {
    std::vector<report::RowTexts> rows;
    for (const Reading& reading : history.Readings(summary.serial, summary.point)) {
      rows.push_back(ReadingRow(summary.point, 0, reading, options));
    }
    // A point that had another sensor once is compared in the unit of its newest value alone.
    const auto newest = std::find_if(rows.rbegin(), rows.rend(), [](const report::RowTexts& row) {
      return !std::isnan(report::RowValue(row));
    });
    std::string smallest = "-", largest = "-";
    double low = INFINITY, high = -INFINITY;
    for (const report::RowTexts& row : rows) {
      const double value = report::RowValue(row);
      if (std::isnan(value) || row.unit != newest->unit) continue;
      if (value < low) low = value, smallest = ValueWithUnit(row);
      if (value > high) high = value, largest = ValueWithUnit(row);
    }
    out += Line(format, {"NE" + std::to_string(summary.serial), std::to_string(summary.point),
                         std::to_string(summary.readings), report::RowTimeText(summary.first),
                         report::RowTimeText(summary.last), smallest, largest});
  }
  return report::ApplyTextForm(std::move(out), options);
}

}  // namespace brelin::history
