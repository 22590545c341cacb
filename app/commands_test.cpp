#include "app/commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
  device::DownloadOptions options_;
  device::testing::RecordingModel model_;
  sim::InstrumentConfig config_;
};

TEST_F(CommandsTest, GetDataRunsOnTheChosenPort) {
  device::testing::SimulatedInstrument klv(line_, config_);
  ASSERT_TRUE(GetDataCommand(model_, options_));
  ASSERT_TRUE(GetDataCommand(model_, options_));
  std::string status;
  for (const std::string& s : model_.Only("status")) status += s;
  EXPECT_THAT(status,
              ::testing::StartsWith("Checking output filename.\r\nCreating output file.\r\n"
                                    "Get data from KLV480.\r\nOpening communication port.\r\n"
                                    "Downloading data from KLV480.\r\n"));
  EXPECT_THAT(status, HasSubstr("Done.Checking output filename.\r\n"))
      << "the second command continues the line of the first's \"Done.\"";
  EXPECT_THAT(ReadText(model_.outputFileName), HasSubstr("NE480123"));
}

TEST_F(CommandsTest, NoFileChosenTouchesNothing) {
  model_.outputFileName.clear();
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_THAT(model_.events, ElementsAre("status:Checking output filename.\r\n",
                                         "message:There is no output File name selected "));
  EXPECT_EQ(line_.opens(), 0);
}

TEST_F(CommandsTest, FailedDownloadKeepsThePreviousReport) {
  report::testing::WriteText(model_.outputFileName, "previous report\r\n");
  config_.faults.cancelAfter = 1;
  device::testing::SimulatedInstrument klv(line_, config_);
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_EQ(ReadText(model_.outputFileName), "previous report\r\n");
  EXPECT_THAT(model_.Only("message"), ElementsAre("Error in file transfer -606"));

  // A report that did not exist is created empty, as a sign that it can be written.
  model_.outputFileName = dir_.Path("new.txt");
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_EQ(ReadText(model_.outputFileName), "");
  EXPECT_TRUE(std::filesystem::exists(model_.outputFileName));
}

}  // namespace
}  // namespace brelin::app
