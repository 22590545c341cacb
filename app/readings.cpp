#include "app/readings.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "report/report_writer.h"

namespace brelin::app {
namespace {

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::optional<int> Number(std::string_view text) {
  text = Trimmed(text);
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The number of a value text; values without one sort after every number.
double SortKey(const std::string& value) {
  double number = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (ec != std::errc{} || end != value.data() + value.size()) {
    return std::numeric_limits<double>::infinity();
  }
  return number;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view piece) {
  return std::search(text.begin(), text.end(), piece.begin(), piece.end(),
                     [](char a, char b) { return Lower(a) == Lower(b); }) != text.end();
}

std::string Plural(std::size_t n, const char* one) {
  return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

}  // namespace

std::string_view ColumnTitle(Column column) {
  constexpr std::string_view kTitles[kColumnCount] = {"Point", "Nr",   "Value",
                                                      "Unit",  "Type", "Timestamp"};
  return kTitles[static_cast<int>(column)];
}

std::string CellText(const Reading& reading, Column column) {
  switch (column) {
    case Column::kPoint:
      return std::to_string(reading.point);
    case Column::kNumber:
      return std::to_string(reading.number);
    case Column::kValue:
      return reading.value;
    case Column::kUnit:
      return reading.unit;
    case Column::kType:
      return reading.type;
    case Column::kTime:
      break;
  }
  return reading.time;
}

std::vector<Reading> ReadingsOf(const report::PointTable& table) {
  // The report's own order: a copy, so that the caller's table is left as it is.
  auto ordered = std::make_unique<report::PointTable>(table);
  std::vector<Reading> readings;
  for (int p = 0; p < report::kPointCount; ++p) {
    report::OrderSlots(*ordered, p);
    const std::size_t first = readings.size();
    for (int k = 0; k < report::kSlotsPerPoint; ++k) {
      const report::PointSlot& slot = (*ordered)[p][k];
      if (slot.timestamp == 0) continue;
      const report::RowTexts texts = report::FormatRow(p, k, slot);
      readings.push_back({.point = p,
                          .number = k,
                          .value = std::string(Trimmed(texts.value)),
                          .unit = std::string(Trimmed(texts.unit)),
                          .type = std::string(Trimmed(texts.type)),
                          .time = texts.time,
                          .timestamp = slot.timestamp,
                          .newest = false});
    }
    // Oldest first: the last is the newest (of equal times, the one the report lists last).
    if (readings.size() > first) readings.back().newest = true;
  }
  return readings;
}

void ReadingsTable::SetReadings(std::vector<Reading> readings) {
  readings_ = std::move(readings);
  Select();
}

void ReadingsTable::Sort(Column column, bool descending) {
  sortColumn_ = column;
  descending_ = descending;
  Select();
}

void ReadingsTable::SetFilter(std::string_view text) {
  filter_ = Trimmed(text);
  Select();
}

void ReadingsTable::Select() {
  // A point or a range of points; else a piece of the type's name.
  const std::string_view filter = filter_;
  std::optional<int> from = Number(filter), to = from;
  if (const auto dash = filter.find('-'); !from && dash != std::string_view::npos && dash > 0) {
    from = Number(filter.substr(0, dash));
    to = Number(filter.substr(dash + 1));
    if (from && to && *from > *to) std::swap(from, to);
  }
  const bool byPoint = from && to;

  shown_.clear();
  for (std::size_t i = 0; i < readings_.size(); ++i) {
    const Reading& r = readings_[i];
    const bool match = filter_.empty() ? true
                       : byPoint       ? r.point >= *from && r.point <= *to
                                       : ContainsIgnoringCase(r.type, filter_);
    if (match) shown_.push_back(i);
  }

  auto number = [this](std::size_t i) -> double {
    const Reading& r = readings_[i];
    switch (sortColumn_) {
      case Column::kPoint:
        return r.point;
      case Column::kNumber:
        return r.number;
      case Column::kValue:
        return SortKey(r.value);
      case Column::kTime:
        return r.timestamp;
      case Column::kUnit:
      case Column::kType:
        break;
    }
    return 0;
  };
  auto less = [&](std::size_t a, std::size_t b) {
    if (sortColumn_ == Column::kUnit || sortColumn_ == Column::kType) {
      const std::string& x = sortColumn_ == Column::kUnit ? readings_[a].unit : readings_[a].type;
      const std::string& y = sortColumn_ == Column::kUnit ? readings_[b].unit : readings_[b].type;
      return std::lexicographical_compare(
          x.begin(), x.end(), y.begin(), y.end(), [](char c, char d) {
            return static_cast<unsigned char>(Lower(c)) < static_cast<unsigned char>(Lower(d));
          });
    }
    return number(a) < number(b);
  };
  // Stable over the report's order, so equal keys keep it in either direction.
  std::stable_sort(shown_.begin(), shown_.end(), [&](std::size_t a, std::size_t b) {
    return descending_ ? less(b, a) : less(a, b);
  });
}

std::string ReadingsTable::CountText() const {
  std::size_t points = 0;
  std::vector<bool> seen(report::kPointCount, false);
  for (const std::size_t i : shown_) {
    const int p = readings_[i].point;
    if (!seen[p]) ++points;
    seen[p] = true;
  }
  std::string text = Plural(shown_.size(), "reading") + " of " + Plural(points, "point");
  if (shown_.size() != readings_.size()) text += " (of " + std::to_string(readings_.size()) + ")";
  return text;
}

std::string ReadingsTable::CopyText(const std::vector<std::size_t>& rows,
                                    const std::vector<Column>& columns) const {
  std::string text;
  for (const std::size_t index : rows) {
    const Reading& r = row(index);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c > 0) text += '\t';
      text += CellText(r, columns[c]);
    }
    text += '\n';
  }
  return text;
}

}  // namespace brelin::app
