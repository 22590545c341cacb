#include "app/commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "device/testing/simulated_instrument.h"
#include "report/file_error.h"
#include "report/image_generator.h"
#include "serial/testing/virtual_clock.h"

namespace brelin::app {
namespace {

namespace fs = std::filesystem;
using device::testing::RecordingModel;
using device::testing::SimulatedInstrument;
using serial::testing::TestLine;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() {
    dir_ = fs::temp_directory_path() /
           ("brelin_cmd_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    options_.imagePath = (dir_ / "KLV480.bin").string();
    model_.outputFileName = (dir_ / "report.txt").string();
    config_.memory = report::GenerateImage(200, 11);
  }
  ~CommandsTest() override { fs::remove_all(dir_); }

  std::string Report() const {
    std::ifstream in(model_.outputFileName, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::string Status() const {
    std::string all;
    for (const std::string& s : model_.Only("status")) all += s;
    return all;
  }

  serial::testing::VirtualClock clock_;
  serial::testing::ScopedTestDriver driver_;
  TestLine line_{2};
  fs::path dir_;
  device::DownloadOptions options_;
  RecordingModel model_;
  sim::InstrumentConfig config_;
};

TEST_F(CommandsTest, GetDataRunsOnTheChosenPort) {
  model_.portIndex = 2;
  SimulatedInstrument klv(line_, config_);
  ASSERT_TRUE(GetDataCommand(model_, options_));
  ASSERT_TRUE(GetDataCommand(model_, options_));
  EXPECT_THAT(Status(),
              ::testing::StartsWith("Checking output filename.\r\nCreating output file.\r\n"
                                    "Get data from KLV480.\r\nOpening communication port.\r\n"
                                    "Downloading data from KLV480.\r\n"));
  EXPECT_THAT(Status(), HasSubstr("Done.Checking output filename.\r\n"))
      << "the second command continues the line of the first's \"Done.\"";
  EXPECT_THAT(Report(), HasSubstr("NE480123"));
}

TEST_F(CommandsTest, NoFileChosenTouchesNothing) {
  model_.outputFileName.clear();
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_THAT(model_.events, ElementsAre("status:Checking output filename.\r\n",
                                         "message:There is no output File name selected "));
  EXPECT_EQ(line_.opens(), 0);
}

TEST_F(CommandsTest, FailedDownloadKeepsThePreviousReport) {
  model_.portIndex = 2;
  { std::ofstream(model_.outputFileName) << "previous report\r\n"; }
  config_.faults.cancelAfter = 1;
  SimulatedInstrument klv(line_, config_);
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_EQ(Report(), "previous report\r\n");
  EXPECT_THAT(model_.Only("message"), ElementsAre("Error in file transfer -606"));

  // A report that did not exist is created empty, as a sign that it can be written.
  model_.outputFileName = (dir_ / "new.txt").string();
  EXPECT_FALSE(GetDataCommand(model_, options_));
  EXPECT_TRUE(fs::exists(model_.outputFileName));
  EXPECT_EQ(fs::file_size(model_.outputFileName), 0u);
}

}  // namespace
}  // namespace brelin::app
