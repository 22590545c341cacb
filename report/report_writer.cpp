#include "report/report_writer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "report/file_error.h"
#include "report/replace_file.h"
#include "report/value_format.h"

namespace brelin::report {
namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr std::string_view kNoFileName = "There is no output File name selected ";

enum class Layout { kAscii, kCsv };

void AppendHeader(std::string& out, Layout layout, std::int32_t serialNumber,
                  std::time_t createdAt) {
  const std::string created = CreationTimeText(createdAt);
  const std::string serial = std::to_string(serialNumber);
  if (layout == Layout::kAscii) {
    out += "KLV480 report created at " + created + "\r\n";
    out += "Data downloaded from device NE" + serial + "\r\n\r\n";
  } else {
    out += "\"KLV480 report created at " + created + "\"\r\n";
    out += "\"Data downloaded from device NE" + serial + "\"\r\n\r\n";
  }
  out += ColumnNamesLine(layout == Layout::kAscii ? kAscii : kCsv);
}

void AppendRow(std::string& out, Layout layout, const RowTexts& row) {
  const std::string_view separator = layout == Layout::kAscii ? "\t" : "\",\"";
  if (layout == Layout::kCsv) out += '"';
  for (const std::string* field : {&row.point, &row.number, &row.value}) {
    out += *field;
    out += separator;
  }
  // The tab between number and unit splits them into two columns.
  if (!row.unit.empty()) {
    out += row.unit;
    out += separator;
  }
  out += row.type;
  out += separator;
  out += row.time;
  if (layout == Layout::kCsv) out += '"';
  out += "\r\n";
}

std::string FormatReport(Layout layout, PointTable& table, std::int32_t serialNumber,
                         std::time_t createdAt) {
  std::string out;
  AppendHeader(out, layout, serialNumber, createdAt);
  for (int p = 0; p < kPointCount; ++p) {
    OrderSlots(table, p);
    for (int j = 0; j < kSlotsPerPoint; ++j) {
      if (table[p][j].timestamp != 0) AppendRow(out, layout, FormatRow(p, j, table[p][j]));
    }
  }
  return out;
}

// Tells the operator when no report file is chosen; nothing is formatted or written then.
bool NoFileChosen(StatusSink& sink, const std::string& path) {
  if (!path.empty()) return false;
  sink.ShowMessage(kNoFileName);
  return true;
}

void WriteToStream(std::FILE* stream, const std::string& content) {
  errno = 0;
  const bool written = std::fwrite(content.data(), 1, content.size(), stream) == content.size();
  // A full disk or a closed pipe may only show when the buffer goes out.
  if (!written || std::fflush(stream) != 0) {
    throw FileError("standard output", std::strerror(errno != 0 ? errno : EIO));
  }
}

}  // namespace

RowTexts FormatRow(int point, int position, const PointSlot& slot) {
  const std::string_view value(slot.valueText, strnlen(slot.valueText, sizeof slot.valueText));
  const std::size_t tab = value.find('\t');
  RowTexts row{.point = std::to_string(point),
               .number = std::to_string(position),
               .value = std::string(value.substr(0, tab)),
               .unit = {},
               .type = std::string(SensorTypeName(slot.sensorType)),
               .time = RowTimeText(slot.timestamp)};
  if (tab != std::string_view::npos) row.unit = value.substr(tab + 1);
  return row;
}

double RowValue(const RowTexts& row) {
  const std::size_t first = row.value.find_first_not_of(' ');
  if (first == std::string::npos) return std::numeric_limits<double>::quiet_NaN();
  const char* begin = row.value.data() + first;
  const char* end = row.value.data() + row.value.size();
  double number = 0;
  // from_chars, not strtod: a decimal-comma locale must not change what a text means.
  const auto [last, error] = std::from_chars(begin, end, number);
  if (error != std::errc() || last != end) return std::numeric_limits<double>::quiet_NaN();
  return number;
}

std::string ColumnNamesLine(int reportFormat) {
  return reportFormat == kAscii ? "Point\tNr\tValue\tType\tTimestamp\r\n"
                                : "\"Point\",\"Nr\",\"Value\",\"Unit\",\"Type\",\"Timestamp\"\r\n";
}

std::string RowLine(int reportFormat, const RowTexts& row) {
  std::string out;
  AppendRow(out, reportFormat == kAscii ? Layout::kAscii : Layout::kCsv, row);
  return out;
}

std::string FormatTimeText(const std::tm& time) {
  char text[50];
  std::snprintf(text, sizeof text, "%s %s %02d, %04d %02d:%02d",
                kDayNames[static_cast<unsigned>(time.tm_wday) % 7],
                kMonthNames[static_cast<unsigned>(time.tm_mon) % 12], time.tm_mday,
                time.tm_year + 1900, time.tm_hour, time.tm_min);
  return text;
}

std::string RowTimeText(std::int32_t timestamp) {
  using namespace std::chrono;
  const sys_seconds at{seconds{timestamp}};
  const sys_days day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{at - day};
  std::tm fields{};
  fields.tm_year = static_cast<int>(date.year()) - 1900;
  fields.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
  fields.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
  fields.tm_wday = static_cast<int>(weekday{day}.c_encoding());
  fields.tm_hour = static_cast<int>(time.hours().count());
  fields.tm_min = static_cast<int>(time.minutes().count());
  return FormatTimeText(fields);
}

std::string CreationTimeText(std::time_t time) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &time);
#else
  localtime_r(&time, &local);
#endif
  return FormatTimeText(local);
}

void OrderSlots(PointTable& table, int point) {
  auto& slots = table[point];
  const auto used = std::find_if(slots.begin(), slots.end(),
                                 [](const PointSlot& slot) { return slot.timestamp == 0; });
  std::stable_sort(slots.begin(), used, [](const PointSlot& a, const PointSlot& b) {
    return a.timestamp < b.timestamp;
  });
}

std::string FormatAsciiReport(PointTable& table, std::int32_t serialNumber, std::time_t createdAt) {
  return FormatReport(Layout::kAscii, table, serialNumber, createdAt);
}

std::string FormatCsvReport(PointTable& table, std::int32_t serialNumber, std::time_t createdAt) {
  return FormatReport(Layout::kCsv, table, serialNumber, createdAt);
}

void WriteAsciiReport(StatusSink& sink, PointTable& table, std::int32_t serialNumber,
                      const std::string& path, std::time_t createdAt) {
  if (NoFileChosen(sink, path)) return;
  ReplaceFileContent(path, FormatReport(Layout::kAscii, table, serialNumber, createdAt));
}

void WriteCsvReport(StatusSink& sink, PointTable& table, std::int32_t serialNumber,
                    const std::string& path, std::time_t createdAt) {
  if (NoFileChosen(sink, path)) return;
  ReplaceFileContent(path, FormatReport(Layout::kCsv, table, serialNumber, createdAt));
}

std::string ApplyTextForm(std::string text, const ReportOptions& options) {
  if (options.lineEnd == LineEnd::kLf) {
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      text[out++] = text[i];
    }
    text.resize(out);
  }
  if (options.encoding == TextEncoding::kUtf8) {
    std::string utf8;
    utf8.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80) {
        utf8 += c;
      } else {
        utf8 += static_cast<char>(0xC0 | byte >> 6);
        utf8 += static_cast<char>(0x80 | (byte & 0x3F));
      }
    }
    text = std::move(utf8);
  }
  return text;
}

void WriteReport(StatusSink& sink, PointTable& table, const ReportRequest& request,
                 std::time_t createdAt) {
  if (request.stream == nullptr && NoFileChosen(sink, request.path)) return;
  const Layout layout = request.options.reportFormat == kAscii ? Layout::kAscii : Layout::kCsv;
  const std::string content =
      ApplyTextForm(FormatReport(layout, table, request.serialNumber, createdAt), request.options);
  if (request.stream != nullptr) {
    WriteToStream(request.stream, content);
  } else {
    ReplaceFileContent(request.path, content);
  }
}

}  // namespace brelin::report
