#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/point_table.h"

namespace brelin::app {

// The readings of a point table as rows of a table view, with the texts of the report (Latin-1, the
// degree sign is the byte 0xB0) less the padding that lines up the report's columns. A window
// shows them; sorting, filtering and copying live here so that every window does them alike.
enum class Column { kPoint, kNumber, kValue, kUnit, kType, kTime };
inline constexpr int kColumnCount = 6;

struct Reading {
  int point = 0;
  int number = 0;  // "Nr" of the report: 0 is the point's oldest reading
  std::string value, unit, type, time;
  std::int32_t timestamp = 0;
  bool newest = false;  // the point's newest reading
};

// "Point", "Nr", "Value", "Unit", "Type", "Timestamp", as the CSV report's heading.
std::string_view ColumnTitle(Column column);
// The cell's text.
std::string CellText(const Reading& reading, Column column);

// Every reading of `table`, in the report's order: by point, then oldest first.
std::vector<Reading> ReadingsOf(const report::PointTable& table);

// The rows a view shows: all readings, filtered and sorted.
class ReadingsTable {
 public:
  // Replaces the readings; the sort order and the filter stay.
  void SetReadings(std::vector<Reading> readings);

  // Orders the rows by `column`, numbers by value, times by time stamp and texts in any case;
  // equal rows keep the report's order. A value without a number ("UNKNOWN") comes after every
  // number.
  void Sort(Column column, bool descending);

  // Shows only the rows `text` matches: a point number ("120"), a range of points ("100-199") or
  // else a piece of the type's name in any case ("temp"). Blank text shows every row.
  void SetFilter(std::string_view text);

  std::size_t size() const { return shown_.size(); }
  const Reading& row(std::size_t index) const { return readings_[shown_[index]]; }
  std::size_t totalReadings() const { return readings_.size(); }

  // "812 readings of 250 points" for the rows shown; while a filter hides rows, "(of 812)" follows.
  std::string CountText() const;

  // The shown rows `rows` (in the order given) and `columns` as tab-separated lines ending "\n".
  std::string CopyText(const std::vector<std::size_t>& rows,
                       const std::vector<Column>& columns) const;

 private:
  void Select();

  std::vector<Reading> readings_;
  std::vector<std::size_t> shown_;  // indices into readings_, in display order
  Column sortColumn_ = Column::kPoint;
  bool descending_ = false;
  std::string filter_;
};

}  // namespace brelin::app
