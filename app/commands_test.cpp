#include "app/commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/testing/recording_model.h"
#include "device/testing/simulated_instrument.h"
#include "report/image_generator.h"
#include "report/testing/temp_dir.h"
#include "serial/testing/virtual_clock.h"

namespace brelin::app {
namespace {

using report::testing::ReadText;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() {
    options_.imagePath = dir_.Path("KLV480.bin");
    model_.outputFileName = dir_.Path("report.txt");
    model_.portIndex = 2;
    config_.memory = report::GenerateImage(200, 11);
  }

  serial::testing::VirtualClock clock_;
  serial::testing::ScopedTestDriver driver_;
  serial::testing::TestLine line_{2};
  report::testing::TempDir dir_;
  GetDataOptions options_;
  testing::RecordingModel model_;
  sim::InstrumentConfig config_;
};

TEST_F(CommandsTest, GetDataRunsOnTheChosenPortAndWritesTheReport) {
  device::testing::SimulatedInstrument klv(line_, config_);
  ASSERT_TRUE(GetDataCommand(model_, options_));
  EXPECT_THAT(
      model_.log.events,
      ElementsAre("status:Checking output filename.\r\n", "status:Creating output file.\r\n",
                  "status:Get data from KLV480.\r\n", "status:Opening communication port.\r\n",
                  "progress:10", "status:Downloading data from KLV480.\r\n", "progress:30",
                  "status:Obtaining KLV480 system info.\r\n", "progress:50", "progress:70",
                  "status:Analysing data.\r\n", "progress:85",
                  "status:Creating ASCII file report.\r\n", "progress:100", "status:Done."));
  EXPECT_THAT(ReadText(model_.outputFileName), HasSubstr("NE480123"));
  EXPECT_EQ(model_.deviceInfo.serialNumber, 480123);
  ASSERT_TRUE(model_.analysisSummary);
  EXPECT_EQ(model_.analysisSummary->records, 202u) << "200 and the fill of the last block";
  EXPECT_EQ(SummaryWarning(*model_.analysisSummary), "");

  // The second command continues the line of the first's "Done."; a serial number given by the
  // caller replaces the instrument's, and the choices are those shown when the analysis starts.
  options_.serialNumber = 42;
  model_.ascii = false;
  ASSERT_TRUE(GetDataCommand(model_, options_));
  EXPECT_EQ(model_.log.events[14], "status:Done.");
  EXPECT_EQ(model_.log.events[15], "status:Checking output filename.\r\n");
  EXPECT_EQ(model_.deviceInfo.serialNumber, 42);
  EXPECT_THAT(ReadText(model_.outputFileName), HasSubstr("\"Data downloaded from device NE42\""));
}

TEST(SummaryTest, SaysWhatWentIntoTheReportAndWarnsOfOddImages) {
  report::AnalysisSummary summary{
      .records = 300, .measurements = 290, .trailingBytes = 0, .readings = 812, .points = 250};
  EXPECT_EQ(SummaryText(summary), "300 records read: 812 readings of 250 points in the report.");
  EXPECT_EQ(SummaryWarning(summary), "");
  summary = {.records = 1, .measurements = 0, .trailingBytes = 0, .readings = 1, .points = 1};
  EXPECT_EQ(SummaryText(summary), "1 record read: 1 reading of 1 point in the report.");
  EXPECT_EQ(SummaryWarning(summary), "the image holds no measurement record");
  summary = {.records = 10, .measurements = 9, .trailingBytes = 8, .readings = 9, .points = 1};
  EXPECT_EQ(SummaryWarning(summary), "") << "128 bytes: one whole block of a download";
  summary.trailingBytes = 4;
  EXPECT_EQ(SummaryWarning(summary),
            "the image ends with 4 bytes that are not a whole record: it may be cut short");
}

TEST_F(CommandsTest, NoFileChosenTouchesNothing) {
  model_.outputFileName.clear();
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_THAT(model_.log.events, ElementsAre("status:Checking output filename.\r\n",
                                             "message:There is no output File name selected "));
  EXPECT_EQ(line_.opens(), 0);
}

TEST_F(CommandsTest, FailedDownloadKeepsThePreviousReport) {
  report::testing::WriteText(model_.outputFileName, "previous report\r\n");
  config_.faults.cancelAfter = 1;
  device::testing::SimulatedInstrument klv(line_, config_);
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_EQ(ReadText(model_.outputFileName), "previous report\r\n");
  EXPECT_THAT(model_.log.Only("message"), ElementsAre("Error in file transfer -606"));

  // A report that did not exist is created empty, as a sign that it can be written.
  model_.outputFileName = dir_.Path("new.txt");
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_EQ(ReadText(model_.outputFileName), "");
  EXPECT_TRUE(std::filesystem::exists(model_.outputFileName));
}

}  // namespace
}  // namespace brelin::app
