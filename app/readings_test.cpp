#include "app/readings.h"

#include <gmock/gmock.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "report/analysis.h"
#include "report/image_generator.h"
#include "report/report_writer.h"
#include "report/testing/records.h"

namespace brelin::app {
namespace {

using report::testing::Measurement;
using ::testing::ElementsAre;

constexpr std::int32_t kT = 1'100'000'000;  // 2004

std::unique_ptr<report::PointTable> Decode(const std::vector<std::uint8_t>& image,
                                           const report::ReportOptions& options = {}) {
  auto decoder = std::make_unique<report::ImageDecoder>();
  for (std::size_t at = 0; at < image.size(); at += report::kRecordSize) {
    decoder->DecodeRecord(image.data() + at, std::min(report::kRecordSize, image.size() - at));
  }
  auto table = std::make_unique<report::PointTable>();
  decoder->Finish(*table, options);
  return table;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string::npos ? ""
                                    : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The data rows of a CSV report, each as its fields less padding; a value without a unit gets an
// empty one, so that every row has six.
std::vector<std::vector<std::string>> CsvRows(const std::string& report) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(report);
  std::string line;
  for (int skip = 0; skip < 4 && std::getline(lines, line);) ++skip;
  while (std::getline(lines, line)) {
    line = line.substr(1, line.size() - 3);  // the quotes and "\r" around the row
    std::vector<std::string> fields;
    for (std::size_t at = 0;;) {
      const std::size_t end = line.find("\",\"", at);
      fields.push_back(Trim(line.substr(at, end - at)));
      if (end == std::string::npos) break;
      at = end + 3;
    }
    if (fields.size() == 5) fields.insert(fields.begin() + 3, "");
    rows.push_back(fields);
  }
  return rows;
}

std::vector<std::vector<std::string>> Cells(const std::vector<Reading>& readings) {
  std::vector<std::vector<std::string>> rows;
  for (const Reading& r : readings) {
    std::vector<std::string> cells;
    for (int c = 0; c < kColumnCount; ++c) cells.push_back(CellText(r, static_cast<Column>(c)));
    rows.push_back(cells);
  }
  return rows;
}

TEST(Readings, AreTheReportsRowsInTheChosenUnits) {
  std::vector<std::uint8_t> image = report::GenerateImage(3000, 11);
  report::PadImage(image);
  for (const report::ReportOptions options :
       {report::ReportOptions{},
        report::ReportOptions{report::kImperial, report::kAbsolute, report::kCsv}}) {
    SCOPED_TRACE(options.unitSystem);
    auto table = Decode(image, options);
    const report::PointTable before = *table;
    const std::vector<Reading> readings = ReadingsOf(*table);
    EXPECT_EQ(std::memcmp(&before, table.get(), sizeof before), 0) << "the table is left as it was";

    report::PointTable copy = *table;
    const auto rows = CsvRows(report::FormatCsvReport(copy, 0, 0));
    ASSERT_GT(rows.size(), 1000u);
    EXPECT_EQ(Cells(readings), rows);

    // One newest reading per point: the last row of the point, and none is later.
    for (std::size_t i = 0; i < readings.size(); ++i) {
      const bool lastOfPoint =
          i + 1 == readings.size() || readings[i + 1].point != readings[i].point;
      EXPECT_EQ(readings[i].newest, lastOfPoint) << i;
      if (i > 0 && readings[i - 1].point == readings[i].point) {
        EXPECT_LE(readings[i - 1].timestamp, readings[i].timestamp);
      }
    }
  }
}

TEST(Readings, DegreeSignAndUnknownValuesKeepTheReportsBytes) {
  auto table =
      Decode(report::testing::Image({Measurement(7, 19, 234, kT), Measurement(7, 3, 0, kT + 60)}));
  const std::vector<Reading> readings = ReadingsOf(*table);
  EXPECT_THAT(Cells(readings),
              ElementsAre(ElementsAre("7", "0", "23.4",
                                      "\xB0"
                                      "C",
                                      "Temperature Sensor", "Tue Nov 09, 2004 11:33"),
                          ElementsAre("7", "1", "UNKNOWN", "", "Unknown sensor",
                                      "Tue Nov 09, 2004 11:34")));
}

// Points 5, 120, 150 and 199 with known readings; 120 has two, of equal time.
class Table : public ::testing::Test {
 protected:
  void SetUp() override {
    auto decoded = Decode(report::testing::Image({
        Measurement(150, 19, 500, kT + 30),          // 50.0 °C
        Measurement(5, 20, 605, kT + 10),            // 60.5 dBA
        Measurement(120, 3, 0, kT + 20),             // UNKNOWN
        Measurement(120, 19, 0x4000 | 25, kT + 20),  // -2.5 °C
        Measurement(199, 5, 600, kT),                // 10.0 dBuV, parabolic
    }));
    table.SetReadings(ReadingsOf(*decoded));
  }
  std::vector<std::string> Column(app::Column column) {
    std::vector<std::string> cells;
    for (std::size_t i = 0; i < table.size(); ++i) cells.push_back(CellText(table.row(i), column));
    return cells;
  }
  std::vector<std::string> Points() { return Column(app::Column::kPoint); }

  ReadingsTable table;
};

TEST_F(Table, SortsEveryColumnStablyBothWays) {
  EXPECT_THAT(Points(), ElementsAre("5", "120", "120", "150", "199"));
  struct Case {
    app::Column column;
    bool descending;
    std::vector<std::string> points;
  } const cases[] = {
      {app::Column::kPoint, true, {"199", "150", "120", "120", "5"}},
      {app::Column::kNumber, false, {"5", "120", "150", "199", "120"}},
      // Numbers by value, not as text; UNKNOWN after every number.
      {app::Column::kValue, false, {"120", "199", "150", "5", "120"}},
      {app::Column::kValue, true, {"120", "5", "150", "199", "120"}},
      {app::Column::kUnit, false, {"120", "5", "199", "120", "150"}},
      // Text in any case: "dBa Sensor" before "Parabolic Sensor".
      {app::Column::kType, false, {"5", "199", "120", "150", "120"}},
      // Equal times keep the report's order either way.
      {app::Column::kTime, false, {"199", "5", "120", "120", "150"}},
      {app::Column::kTime, true, {"150", "120", "120", "5", "199"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ColumnTitle(c.column));
    SCOPED_TRACE(c.descending);
    table.Sort(c.column, c.descending);
    EXPECT_EQ(Points(), c.points);
  }
  table.Sort(app::Column::kTime, false);
  EXPECT_THAT(Column(app::Column::kNumber), ElementsAre("0", "0", "0", "1", "0"));
  EXPECT_EQ(table.row(3).value, "-2.5") << "the later of two equal times is the report's Nr 1";
  EXPECT_TRUE(table.row(3).newest);
  EXPECT_FALSE(table.row(2).newest);
}

TEST_F(Table, FiltersByPointRangeOrTypeAndCounts) {
  EXPECT_EQ(table.CountText(), "5 readings of 4 points");
  struct Case {
    const char* filter;
    std::vector<std::string> points;
    const char* count;
  } const cases[] = {
      {"120", {"120", "120"}, "2 readings of 1 point (of 5)"},
      {" 100-199 ", {"120", "120", "150", "199"}, "4 readings of 3 points (of 5)"},
      {"199 - 150", {"150", "199"}, "2 readings of 2 points (of 5)"},
      {"TEMP", {"120", "150"}, "2 readings of 2 points (of 5)"},
      {"sensor", {"5", "120", "120", "150", "199"}, "5 readings of 4 points"},
      {"12", {}, "0 readings of 0 points (of 5)"},  // a point number, not a piece of one
      {"-5", {}, "0 readings of 0 points (of 5)"},  // neither a range nor in a type
      {"", {"5", "120", "120", "150", "199"}, "5 readings of 4 points"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    table.SetFilter(c.filter);
    EXPECT_EQ(Points(), c.points);
    EXPECT_EQ(table.CountText(), c.count);
  }
  // The filter and the order hold for new readings too.
  table.SetFilter("100-150");
  table.Sort(app::Column::kPoint, true);
  auto decoded = Decode(report::testing::Image(
      {Measurement(1, 19, 0, kT), Measurement(101, 19, 0, kT), Measurement(102, 19, 0, kT)}));
  table.SetReadings(ReadingsOf(*decoded));
  EXPECT_THAT(Points(), ElementsAre("102", "101"));
  EXPECT_EQ(table.CountText(), "2 readings of 2 points (of 3)");
}

TEST_F(Table, CopiesTheChosenRowsAndColumnsAsTabSeparatedLines) {
  table.SetFilter("120");
  EXPECT_EQ(table.CopyText({1, 0}, {app::Column::kPoint, app::Column::kNumber, app::Column::kValue,
                                    app::Column::kUnit, app::Column::kType, app::Column::kTime}),
            "120\t1\t-2.5\t\xB0"
            "C\tTemperature Sensor\tTue Nov 09, 2004 11:33\n"
            "120\t0\tUNKNOWN\t\tUnknown sensor\tTue Nov 09, 2004 11:33\n");
  EXPECT_EQ(table.CopyText({0}, {app::Column::kTime, app::Column::kPoint}),
            "Tue Nov 09, 2004 11:33\t120\n");
  EXPECT_EQ(table.CopyText({}, {app::Column::kPoint}), "");
}

}  // namespace
}  // namespace brelin::app
