#include "app/commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "app/testing/recording_model.h"
#include "device/testing/simulated_instrument.h"
#include "report/file_error.h"
#include "report/image_generator.h"
#include "report/testing/temp_dir.h"
#include "serial/testing/virtual_clock.h"
#include "xfer/xfer.h"

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

  // The second command continues the line of the first's "Done.", and the choices are those
  // shown when the analysis starts.
  model_.ascii = false;
  ASSERT_TRUE(GetDataCommand(model_, options_));
  EXPECT_EQ(model_.log.events[14], "status:Done.");
  EXPECT_EQ(model_.log.events[15], "status:Checking output filename.\r\n");
  EXPECT_THAT(ReadText(model_.outputFileName),
              HasSubstr("\"Data downloaded from device NE480123\""));
  EXPECT_FALSE(std::filesystem::exists(options_.imagePath + ".part"));
}

TEST_F(CommandsTest, GetDataAddsTheReadingsToTheHistoryAndAFailureThereIsAWarning) {
  device::testing::SimulatedInstrument klv(line_, config_);
  model_.historyPath = dir_.Path("data/history.sqlite3");
  ASSERT_TRUE(GetDataCommand(model_, options_));
  ASSERT_TRUE(model_.historyResult);
  EXPECT_EQ(model_.historyResult->warning, "");
  EXPECT_GT(model_.historyResult->added, 150u);
  EXPECT_EQ(model_.historyResult->added, model_.historyResult->seen);
  EXPECT_EQ(HistoryText(*model_.historyResult),
            std::to_string(model_.historyResult->added) + " of " +
                std::to_string(model_.historyResult->seen) + " readings new in the history " +
                model_.historyPath + ".");
  ASSERT_TRUE(GetDataCommand(model_, options_));
  EXPECT_EQ(model_.historyResult->added, 0u);

  // A history that cannot be made: the download and its report stand, with a warning.
  model_.historyPath = model_.outputFileName + "/history.sqlite3";
  std::remove(model_.outputFileName.c_str());
  ASSERT_TRUE(GetDataCommand(model_, options_));
  EXPECT_THAT(model_.historyResult->warning,
              HasSubstr("could not make its folder (Not a directory): the readings were not "
                        "added to the history"));
  EXPECT_THAT(ReadText(model_.outputFileName), HasSubstr("NE480123"));
  EXPECT_EQ(model_.log.events.back(), "status:Done.");

  model_.historyPath.clear();
  ASSERT_TRUE(GetDataCommand(model_, options_));
  EXPECT_FALSE(model_.historyResult);
}

TEST(SummaryTest, TransferFiguresWithoutAPercentage) {
  EXPECT_EQ(TransferText({.bytes = 24576, .milliseconds = 25600, .retries = 1}),
            "24.0 KiB, 0.94 KiB/s, 1 retry");
  EXPECT_EQ(TransferText({.bytes = 0, .milliseconds = 0, .retries = 0}), "0.0 KiB, 0 retries");
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

TEST_F(CommandsTest, OpenImageWritesTheReportForNoInstrumentAndNeedsAFile) {
  report::testing::WriteBytes(dir_.Path("saved.bin"), report::GenerateImage(20, 3));
  model_.deviceInfo.serialNumber = 480123;  // of the last download, not of this image
  model_.ascii = false;
  ASSERT_TRUE(OpenImageCommand(model_, dir_.Path("saved.bin")));
  EXPECT_THAT(model_.log.events,
              ElementsAre("progress:70", "status:Analysing data.\r\n", "progress:85",
                          "status:Creating CSV file report.\r\n", "progress:100", "status:Done."));
  EXPECT_THAT(ReadText(model_.outputFileName), HasSubstr("\"Data downloaded from device NE0\""));
  ASSERT_TRUE(model_.analysisSummary);
  EXPECT_EQ(model_.analysisSummary->records, 20u);

  model_.log.events.clear();
  model_.outputFileName.clear();
  EXPECT_FALSE(OpenImageCommand(model_, dir_.Path("saved.bin")));
  EXPECT_THAT(model_.log.events, ElementsAre("message:There is no output File name selected "));
  EXPECT_FALSE(model_.analysisSummary);

  model_.outputFileName = dir_.Path("report.txt");
  EXPECT_THROW(OpenImageCommand(model_, dir_.Path("gone.bin")), report::FileError);
}

TEST(ImageBesideReportTest, IsInTheReportsFolder) {
  EXPECT_EQ(ImageBesideReport("/home/op/reports/site 4.txt"), "/home/op/reports/KLV480.bin");
  EXPECT_EQ(ImageBesideReport("report.txt"), "KLV480.bin");
  EXPECT_EQ(ImageBesideReport("out/report.txt"), "out/KLV480.bin");
}

TEST_F(CommandsTest, FailedDownloadKeepsThePreviousReportAndImage) {
  report::testing::WriteText(model_.outputFileName, "previous report\r\n");
  report::testing::WriteText(options_.imagePath, "previous image");
  config_.faults.cancelAfter = 1;
  device::testing::SimulatedInstrument klv(line_, config_);
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_EQ(ReadText(model_.outputFileName), "previous report\r\n");
  EXPECT_EQ(ReadText(options_.imagePath), "previous image");
  const std::string partial = options_.imagePath + ".part";
  EXPECT_EQ(std::filesystem::file_size(partial), 128u) << "the blocks received, for salvage";
  EXPECT_THAT(model_.log.Only("message"),
              ElementsAre("Error in file transfer -606: the instrument cancelled\nThe 128 bytes "
                          "received are kept in " +
                          partial));
  EXPECT_FALSE(model_.analysisSummary);

  // A report that did not exist is created empty, as a sign that it can be written; a transfer
  // that stored nothing leaves no .part behind.
  config_.faults.cancelAfter = 0;
  device::testing::SimulatedInstrument again(line_, config_);
  model_.outputFileName = dir_.Path("new.txt");
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_EQ(ReadText(model_.outputFileName), "");
  EXPECT_FALSE(std::filesystem::exists(partial));
}

TEST_F(CommandsTest, FullDiskKeepsThePreviousImage) {
  report::testing::WriteText(options_.imagePath, "previous image");
  // Every block is taken into the buffer; the disk is found full when the image is flushed.
  xfer::SetFileOpenHook([](const xfer::XferView&, const char*, const char*) {
    return std::fopen("/dev/full", "wb");
  });
  device::testing::SimulatedInstrument klv(line_, config_);
  EXPECT_FALSE(GetDataCommand(model_, options_));
  xfer::SetFileOpenHook(nullptr);
  EXPECT_THAT(model_.log.Only("message"),
              ElementsAre(::testing::StartsWith(
                  "Error in file transfer -607: the memory image file could not be written: " +
                  options_.imagePath + ".part: No space left on device\nThe 2432 bytes")));
  EXPECT_EQ(ReadText(options_.imagePath), "previous image");
  EXPECT_EQ(klv.commands().back(), "LOCK");
}

TEST_F(CommandsTest, OnlyRegularFilesAreReplacedAndLinksStayLinks) {
  device::testing::SimulatedInstrument klv(line_, config_);
  const std::string fifo = dir_.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const bool image : {true, false}) {
    GetDataOptions options = options_;
    testing::RecordingModel model;
    model.outputFileName = image ? model_.outputFileName : fifo;
    if (image) options.imagePath = fifo;
    try {
      GetDataCommand(model, options);
      ADD_FAILURE() << "no FileError";
    } catch (const report::FileError& e) {
      EXPECT_EQ(e.what(), fifo + ": not a regular file");
    }
  }
  EXPECT_EQ(line_.opens(), 0) << "refused before the instrument is contacted";

  ASSERT_TRUE(std::filesystem::create_directory(dir_.Path("images")));
  std::filesystem::create_symlink("images/latest.bin", options_.imagePath);
  ASSERT_TRUE(GetDataCommand(model_, options_));
  EXPECT_TRUE(std::filesystem::is_symlink(options_.imagePath));
  EXPECT_EQ(std::filesystem::file_size(dir_.Path("images/latest.bin")), 2432u);
}

}  // namespace
}  // namespace brelin::app
