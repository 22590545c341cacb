#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "report/point_table.h"
#include "report/status_sink.h"
#include "report/value_format.h"

namespace brelin::report {

// "Mon Mar 01, 2004 10:15": English names whatever the locale.
std::string FormatTimeText(const std::tm& time);
// A row time: `timestamp` seconds since 1970 (negative ones before it), as UTC.
std::string RowTimeText(std::int32_t timestamp);
// A creation time, as local time.
std::string CreationTimeText(std::time_t time);

// The fields of one report row, as the report prints them. `unit` is empty for a value without one
// ("UNKNOWN"), which then fills one column less.
struct RowTexts {
  std::string point, number, value, unit, type, time;
};
// The row of the reading in slot `position` of `point`.
RowTexts FormatRow(int point, int position, const PointSlot& slot);

// The number of a row's value text; NaN for a value without one ("UNKNOWN").
double RowValue(const RowTexts& row);

// The column names line of a report in the layout `reportFormat` (kAscii or kCsv) selects.
std::string ColumnNamesLine(int reportFormat);
// `row` as a report line in the layout `reportFormat` selects, ending in CR LF.
std::string RowLine(int reportFormat, const RowTexts& row);

// Puts the non-empty slots of `point` in ascending timestamp order, oldest first; slots with equal
// timestamps keep their order and empty slots stay at the end.
void OrderSlots(PointTable& table, int point);

// The whole text of a report over `table` (ordering its slots first), with the given header data.
std::string FormatAsciiReport(PointTable& table, std::int32_t serialNumber, std::time_t createdAt);
std::string FormatCsvReport(PointTable& table, std::int32_t serialNumber, std::time_t createdAt);

// Write `table` as a report to the file at `path`, replacing it only when the new report is
// complete. With an empty path they show "There is no output File name selected " through the sink
// and return without touching any file. Throw FileError when the file cannot be written.
void WriteAsciiReport(StatusSink& sink, PointTable& table, std::int32_t serialNumber,
                      const std::string& path, std::time_t createdAt = std::time(nullptr));
void WriteCsvReport(StatusSink& sink, PointTable& table, std::int32_t serialNumber,
                    const std::string& path, std::time_t createdAt = std::time(nullptr));

// A report's text in the encoding and line ends of `options`: Latin-1 and CR LF leave it as it is;
// UTF-8 turns each byte from 0x80 up (the degree sign) into its two-byte form; LF drops the CR of
// every CR LF.
std::string ApplyTextForm(std::string text, const ReportOptions& options);

// The report to write and whom it is for.
struct ReportRequest {
  std::string path;               // the report file; empty: none chosen
  ReportOptions options;          // units, temperature scale, layout and text form
  std::int32_t serialNumber = 0;  // the instrument named in the header
  std::FILE* stream = nullptr;    // when set, the report goes here and `path` is not touched
};

// Writes `table` as the report `request` describes: its layout and text form, to its stream or to
// its file (as WriteAsciiReport does). Throws FileError when the file or the stream cannot be
// written; a stream is named "standard output".
void WriteReport(StatusSink& sink, PointTable& table, const ReportRequest& request,
                 std::time_t createdAt = std::time(nullptr));

}  // namespace brelin::report
