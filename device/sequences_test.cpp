#include "device/sequences.h"

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
#include "sim/xmodem_sender.h"

namespace brelin::device {
namespace {

namespace fs = std::filesystem;
using serial::testing::TestLine;
using serial::testing::VirtualClock;
using ::testing::ElementsAre;
using testing::RecordingModel;
using testing::SimulatedInstrument;
using Commands = std::vector<std::string>;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class SequenceTest : public ::testing::Test {
 protected:
  SequenceTest() {
    dir_ = fs::temp_directory_path() /
           ("brelin_seq_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    options_.imagePath = (dir_ / "KLV480.bin").string();
    model_.outputFileName = (dir_ / "report.txt").string();
    config_.memory = report::GenerateImage(300, 7);
  }
  ~SequenceTest() override { fs::remove_all(dir_); }

  SimulatedInstrument& Instrument() {
    if (!klv_) klv_ = std::make_unique<SimulatedInstrument>(line_, config_);
    return *klv_;
  }

  VirtualClock clock_;
  serial::testing::ScopedTestDriver driver_;
  TestLine line_;
  fs::path dir_;
  DownloadOptions options_;
  RecordingModel model_;
  sim::InstrumentConfig config_;
  std::unique_ptr<SimulatedInstrument> klv_;
};

TEST_F(SequenceTest, FullDownload) {
  SimulatedInstrument& klv = Instrument();
  ASSERT_TRUE(DownloadMemory(model_, 0, options_));

  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD", "", "system", "LOCK"}));
  EXPECT_FALSE(klv.instrument().unlocked());
  EXPECT_FALSE(line_.isOpen());

  const std::vector<std::string> status = model_.Only("status");
  ASSERT_GE(status.size(), 4u);
  EXPECT_THAT(std::vector(status.begin(), status.begin() + 3),
              ElementsAre("Opening communication port.\r\n", "Downloading data from KLV480.\r\n",
                          "Obtaining KLV480 system info.\r\n"));
  EXPECT_EQ(status.back(), "Done.");
  EXPECT_THAT(model_.Only("progress"), ElementsAre("10", "30", "50", "70", "85", "100"));
  EXPECT_TRUE(model_.Only("message").empty());
  // The analysis starts only after the system info line, and the progress follows the lines.
  const auto& e = model_.events;
  EXPECT_LT(std::find(e.begin(), e.end(), "progress:10") - e.begin(),
            std::find(e.begin(), e.end(), "status:Downloading data from KLV480.\r\n") - e.begin());

  // The image is stored whole, padded to full blocks as the sender sent it.
  std::vector<std::uint8_t> expected = config_.memory;
  report::PadImage(expected);
  const std::string image = ReadFile(options_.imagePath);
  EXPECT_EQ(image, std::string(expected.begin(), expected.end()));
  EXPECT_FALSE(ReadFile(model_.outputFileName).empty());

  const app::DeviceInfo& info = model_.deviceInfo;
  EXPECT_EQ(info.serialNumber, 480123);
  EXPECT_EQ(info.pcbNumber, 7);
  EXPECT_EQ(info.downloadNumber, 1);
  EXPECT_EQ(info.downloadWord1, expected.size() / 128);
  EXPECT_EQ(info.downloadWord2,
            sim::XmodemSender::Crc16(config_.memory.data(), config_.memory.size()));
  EXPECT_EQ(clock_.pausedMs(), 500u + 1000 + 150);
}

TEST_F(SequenceTest, SerialNumberCanBeGiven) {
  Instrument();
  options_.serialNumber = 42;
  ASSERT_TRUE(DownloadMemory(model_, 0, options_));
  EXPECT_EQ(model_.deviceInfo.serialNumber, 42);
  EXPECT_EQ(model_.deviceInfo.pcbNumber, 7);
  EXPECT_THAT(ReadFile(model_.outputFileName), ::testing::HasSubstr("NE42"));
}

TEST_F(SequenceTest, RefusedDownloadStillLocks) {
  config_.refuse = true;
  SimulatedInstrument& klv = Instrument();
  EXPECT_FALSE(DownloadMemory(model_, 0, options_));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD", "LOCK"}));
  EXPECT_FALSE(klv.instrument().unlocked());
  EXPECT_THAT(model_.events, ElementsAre("status:Opening communication port.\r\n", "progress:10",
                                         "message:No download allowed !!!\n", "progress:0"));
  EXPECT_FALSE(fs::exists(options_.imagePath));
  EXPECT_FALSE(line_.isOpen());
}

TEST_F(SequenceTest, CancelledTransferEndsWithoutLock) {
  config_.faults.cancelAfter = 2;
  SimulatedInstrument& klv = Instrument();
  EXPECT_FALSE(DownloadMemory(model_, 0, options_));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD"}));
  EXPECT_THAT(model_.Only("message"), ElementsAre("Error in file transfer -606"));
  EXPECT_THAT(model_.Only("progress"), ElementsAre("10"));
  EXPECT_EQ(fs::file_size(options_.imagePath), 2u * 128) << "the blocks stored so far stay";
  EXPECT_FALSE(line_.isOpen());
}

TEST_F(SequenceTest, DamagedTransferRecovers) {
  config_.faults.corruptEvery = 2500;
  config_.faults.dropEvery = 3700;
  config_.blockSize = 1024;
  config_.memory = report::GenerateImage(1000, 3);
  Instrument();
  ASSERT_TRUE(DownloadMemory(model_, 0, options_));
  std::vector<std::uint8_t> expected = config_.memory;
  report::PadImage(expected);
  const std::string image = ReadFile(options_.imagePath);
  EXPECT_EQ(image, std::string(expected.begin(), expected.end()));
}

TEST_F(SequenceTest, AnalysisErrorStillClosesThePort) {
  model_.outputFileName = (dir_ / "missing" / "report.txt").string();
  SimulatedInstrument& klv = Instrument();
  EXPECT_THROW(DownloadMemory(model_, 0, options_), report::FileError);
  EXPECT_EQ(klv.commands().back(), "LOCK");
  EXPECT_FALSE(line_.isOpen());
  EXPECT_EQ(serial::PortListHead(), nullptr);
}

TEST_F(SequenceTest, EraseRunsItsAnimationInVirtualTime) {
  SimulatedInstrument& klv = Instrument();
  ASSERT_TRUE(EraseMemory(model_, 0));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "ERASE 47190356", "LOCK"}));
  EXPECT_TRUE(klv.instrument().memory().empty());
  EXPECT_FALSE(klv.instrument().unlocked());

  std::vector<std::string> expected{"5", "10"};
  for (int i = 0; i < 100; ++i) expected.push_back(std::to_string(10 + 9 * i / 10));
  expected.push_back("100");
  EXPECT_EQ(model_.Only("progress"), expected);
  EXPECT_EQ(expected[2], expected[3]) << "10 twice";
  EXPECT_EQ(expected.rbegin()[1], "99");
  EXPECT_THAT(model_.Only("status"), ElementsAre("Opening communication port.\r\n",
                                                 "Erasing data in the KLV480.\r\n", "Done."));
  EXPECT_EQ(clock_.pausedMs(), 100u * 100 + 150);
}

TEST_F(SequenceTest, EraseIgnoresTheInstrumentsAnswer) {
  std::string written;
  line_.SetPeer([&](TestLine& l) {  // answers UNLOCK, then says nothing sensible
    const std::string in = l.TakeOutput();
    written += in;
    if (in.empty()) return;
    if (written == "UNLOCK\n") l.Feed("OK\n\r");
    if (written.ends_with("47190356\n")) l.Feed("ERROR: busy\n\r");
  });
  EXPECT_TRUE(EraseMemory(model_, 0));
  EXPECT_EQ(model_.Only("progress").back(), "100");
  EXPECT_EQ(written, "UNLOCK\nERASE 47190356\nLOCK\n");
}

}  // namespace
}  // namespace brelin::device
