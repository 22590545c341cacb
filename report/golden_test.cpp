// The committed sample image's reports, pinned byte for byte in every option combination, so that
// a change anywhere in decoding, formatting or writing that alters an operator's file is caught.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "report/analysis.h"
#include "report/testing/recording_sink.h"
#include "report/testing/temp_dir.h"

namespace brelin::report {
namespace {

using Combination = std::tuple<int, int, int>;  // unit system, temperature scale, layout

std::string GoldenName(const Combination& c) {
  const auto [units, scale, layout] = c;
  return std::string("sample_") + (units == kMetric ? "metric" : "imperial") + "_" +
         (scale == kRelative ? "relative" : "absolute") + (layout == kAscii ? ".txt" : ".csv");
}

// Everything after the first line, which holds the time the report was made.
std::string AfterFirstLine(const std::string& text) {
  return text.substr(text.find('\n') + 1);
}

class GoldenReportTest : public ::testing::TestWithParam<Combination> {};

TEST_P(GoldenReportTest, SampleImageReportIsUnchanged) {
  const auto [units, scale, layout] = GetParam();
  testing::TempDir dir;
  testing::RecordingSink sink;
  PointTable table{};
  const ReportRequest request{
      .path = dir.Path("report"),
      .options = {.unitSystem = units, .temperatureScale = scale, .reportFormat = layout},
      .serialNumber = 4711};
  AnalyseImage(sink, table, BRELIN_DATA_DIR "/sample.bin", request);
  const std::string golden = testing::ReadText(BRELIN_DATA_DIR "/golden/" + GoldenName(GetParam()));
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(AfterFirstLine(testing::ReadText(request.path)), AfterFirstLine(golden));
}

// Row names such as MetricRelativeAscii, so that one combination can be run and named alone.
std::string RowName(const ::testing::TestParamInfo<Combination>& info) {
  const auto [units, scale, layout] = info.param;
  return std::string(units == kMetric ? "Metric" : "Imperial") +
         (scale == kRelative ? "Relative" : "Absolute") + (layout == kAscii ? "Ascii" : "Csv");
}

INSTANTIATE_TEST_SUITE_P(AllOptions, GoldenReportTest,
                         ::testing::Combine(::testing::Values(kMetric, kImperial),
                                            ::testing::Values(kRelative, kAbsolute),
                                            ::testing::Values(kAscii, kCsv)),
                         RowName);

}  // namespace
}  // namespace brelin::report
