#include "app/trend.h"

#include <gtest/gtest.h>

#include "app/commands.h"
#include "app/testing/recording_model.h"
#include "report/testing/records.h"
#include "report/testing/temp_dir.h"

namespace brelin::app {
namespace {

using report::testing::Measurement;

std::vector<std::int32_t> Times(const std::vector<TrendPoint>& points) {
  std::vector<std::int32_t> times;
  for (const TrendPoint& p : points) times.push_back(p.time);
  return times;
}

class TrendTest : public ::testing::Test {
 protected:
  void Decode(const std::string& image) {
    report::DecodeImage(model.pointTable, image, ChosenReportOptions(model));
  }

  report::testing::TempDir dir;
  testing::RecordingModel model;
  std::string first = dir.Path("first.bin"), second = dir.Path("second.bin");
};

TEST_F(TrendTest, TheImagesReadingsInTheNewestUnitWithTheReportsMarked) {
  // Point 7: six temperatures out of order, an undecoded reading, an older one of another sensor.
  report::testing::WriteBytes(
      first, report::testing::Image({Measurement(7, 0, 0x01F4, 50), Measurement(7, 19, 100, 300),
                                     Measurement(7, 19, 200, 100), Measurement(7, 19, 300, 200),
                                     Measurement(7, 1, 0, 350), Measurement(7, 19, 400, 400),
                                     Measurement(7, 19, 500, 500), Measurement(7, 19, 600, 600),
                                     Measurement(8, 19, 600, 600)}));
  Decode(first);
  Trend trend = TrendOf(model, first, 7);
  EXPECT_FALSE(trend.fromHistory);
  EXPECT_EQ(trend.unit, "\260C");
  EXPECT_EQ(Times(trend.points), (std::vector<std::int32_t>{100, 200, 300, 400, 500, 600}));
  EXPECT_DOUBLE_EQ(trend.points[0].value, 20.0);
  EXPECT_EQ(Times(trend.marked), (std::vector<std::int32_t>{400, 500, 600}));  // 350 is UNKNOWN

  model.metric = false;
  Decode(first);
  trend = TrendOf(model, first, 7);
  EXPECT_EQ(trend.unit, "\260F");
  EXPECT_DOUBLE_EQ(trend.points[0].value, 68.0);
  EXPECT_EQ(trend.marked.size(), 3u);

  // The unit of the reading chosen by its time; one without a number gives the newest value's.
  trend = TrendOf(model, first, 7, 50);
  EXPECT_EQ(trend.unit, "dBuV");
  EXPECT_EQ(Times(trend.points), (std::vector<std::int32_t>{50}));
  EXPECT_TRUE(trend.marked.empty());
  EXPECT_EQ(TrendOf(model, first, 7, 200).points.size(), 6u);
  EXPECT_EQ(TrendOf(model, first, 7, 350).unit, "\260F");

  EXPECT_TRUE(TrendOf(model, first, 9).points.empty());
  trend = TrendOf(model, dir.Path("gone.bin"), 7);
  EXPECT_TRUE(trend.points.empty());
  EXPECT_EQ(trend.note, dir.Path("gone.bin") + ": No such file or directory");
}

TEST_F(TrendTest, TheHistoryOfTheInstrumentWhenItHasThePoint) {
  report::testing::WriteBytes(
      first, report::testing::Image({Measurement(7, 19, 100, 100), Measurement(7, 19, 200, 200)}));
  report::testing::WriteBytes(
      second, report::testing::Image({Measurement(7, 19, 300, 300), Measurement(9, 19, 300, 300)}));
  model.historyPath = dir.Path("history.sqlite3");
  model.deviceInfo.serialNumber = 480123;
  ImportIntoHistory(model, first);
  ImportIntoHistory(model, second);
  Decode(second);
  Trend trend = TrendOf(model, second, 7);
  EXPECT_TRUE(trend.fromHistory);
  EXPECT_EQ(Times(trend.points), (std::vector<std::int32_t>{100, 200, 300}));
  EXPECT_EQ(Times(trend.marked), (std::vector<std::int32_t>{300}));

  // Another instrument, or none known: the image's own readings.
  model.deviceInfo.serialNumber = 480124;
  trend = TrendOf(model, second, 7);
  EXPECT_FALSE(trend.fromHistory);
  EXPECT_EQ(Times(trend.points), (std::vector<std::int32_t>{300}));
  model.deviceInfo.serialNumber = 0;
  EXPECT_FALSE(TrendOf(model, second, 7).fromHistory);

  // A history that is not one: the image, and why.
  model.deviceInfo.serialNumber = 480123;
  model.historyPath = first;
  trend = TrendOf(model, second, 7);
  EXPECT_EQ(Times(trend.points), (std::vector<std::int32_t>{300}));
  EXPECT_EQ(trend.note, first + " is not a Brelin history; it was left as it is");
}

}  // namespace
}  // namespace brelin::app
