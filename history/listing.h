#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "history/history.h"
#include "report/report_writer.h"
#include "report/value_format.h"

namespace brelin::history {

// The texts of `reading` as a report row prints them, in the units `options` select: made by the
// report's own formatting, so that a reading reads the same in both.
report::RowTexts ReadingRow(int point, int number, const Reading& reading,
                            const report::ReportOptions& options);

// The readings of one point in the layout and text form of a report (options.reportFormat,
// encoding, line ends): a header naming instrument and point, the report's column names, one row
// per reading numbered from 0, oldest first.
std::string FormatReadings(std::int32_t serial, int point, const std::vector<Reading>& readings,
                           const report::ReportOptions& options);

// What the history holds, one line per instrument and point: number of readings, first and last
// time, smallest and largest value in the units `options` select (of the readings in the unit of
// the point's newest value); laid out as `options` says.
std::string FormatPoints(const History& history, const report::ReportOptions& options);

}  // namespace brelin::history
