#include "device/sequences.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/testing/simulated_instrument.h"
#include "report/file_error.h"
#include "report/image_generator.h"
#include "report/testing/temp_dir.h"
#include "serial/testing/virtual_clock.h"
#include "sim/xmodem_sender.h"

namespace brelin::device {
namespace {

using report::testing::ReadText;
using ::testing::ElementsAre;
using Commands = std::vector<std::string>;

class SequenceTest : public ::testing::Test {
 protected:
  SequenceTest() {
    options_.imagePath = dir_.Path("KLV480.bin");
    model_.outputFileName = dir_.Path("report.txt");
    config_.memory = report::GenerateImage(300, 7);
  }
  testing::SimulatedInstrument& Instrument() {
    klv_ = std::make_unique<testing::SimulatedInstrument>(line_, config_);
    return *klv_;
  }
  std::string Padded() const {
    std::vector<std::uint8_t> image = config_.memory;
    report::PadImage(image);
    return {image.begin(), image.end()};
  }

  serial::testing::VirtualClock clock_;
  serial::testing::ScopedTestDriver driver_;
  serial::testing::TestLine line_;
  report::testing::TempDir dir_;
  DownloadOptions options_;
  testing::RecordingModel model_;
  sim::InstrumentConfig config_;
  std::unique_ptr<testing::SimulatedInstrument> klv_;
};

TEST_F(SequenceTest, FullDownload) {
  testing::SimulatedInstrument& klv = Instrument();
  ASSERT_TRUE(DownloadMemory(model_, 0, options_));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD", "", "system", "LOCK"}));
  EXPECT_FALSE(klv.instrument().unlocked());
  EXPECT_FALSE(line_.isOpen());
  EXPECT_THAT(model_.events, ElementsAre("status:Opening communication port.\r\n", "progress:10",
                                         "status:Downloading data from KLV480.\r\n", "progress:30",
                                         "status:Obtaining KLV480 system info.\r\n", "progress:50",
                                         "progress:70", "status:Analysing data.\r\n", "progress:85",
                                         "status:Creating ASCII file report.\r\n", "progress:100",
                                         "status:Done."));
  EXPECT_EQ(ReadText(options_.imagePath), Padded()) << "stored whole, in full blocks";
  EXPECT_FALSE(ReadText(model_.outputFileName).empty());

  const app::DeviceInfo& info = model_.deviceInfo;
  EXPECT_EQ(info.serialNumber, 480123);
  EXPECT_EQ(info.pcbNumber, 7);
  EXPECT_EQ(info.downloadNumber, 1);
  EXPECT_EQ(info.downloadWord1, Padded().size() / 128);
  EXPECT_EQ(info.downloadWord2,
            sim::XmodemSender::Crc16(config_.memory.data(), config_.memory.size()));
  EXPECT_EQ(clock_.pausedMs(), 500u + 1000 + 150);

  options_.serialNumber = 42;  // replaces the instrument's in the report
  ASSERT_TRUE(DownloadMemory(model_, 0, options_));
  EXPECT_EQ(model_.deviceInfo.serialNumber, 42);
  EXPECT_THAT(ReadText(model_.outputFileName), ::testing::HasSubstr("NE42"));
}

TEST_F(SequenceTest, RefusedDownloadStillLocks) {
  config_.refuse = true;
  testing::SimulatedInstrument& klv = Instrument();
  EXPECT_FALSE(DownloadMemory(model_, 0, options_));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD", "LOCK"}));
  EXPECT_FALSE(klv.instrument().unlocked());
  EXPECT_THAT(model_.events, ElementsAre("status:Opening communication port.\r\n", "progress:10",
                                         "message:No download allowed !!!\n", "progress:0"));
  EXPECT_FALSE(std::filesystem::exists(options_.imagePath));
  EXPECT_FALSE(line_.isOpen());
}

TEST_F(SequenceTest, CancelledTransferEndsWithoutLock) {
  config_.faults.cancelAfter = 2;
  testing::SimulatedInstrument& klv = Instrument();
  EXPECT_FALSE(DownloadMemory(model_, 0, options_));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD"}));
  EXPECT_THAT(model_.Only("message"), ElementsAre("Error in file transfer -606"));
  EXPECT_THAT(model_.Only("progress"), ElementsAre("10"));
  EXPECT_EQ(std::filesystem::file_size(options_.imagePath), 2u * 128) << "stored blocks stay";
  EXPECT_FALSE(line_.isOpen());
}

TEST_F(SequenceTest, AnalysisErrorStillClosesThePort) {
  model_.outputFileName = dir_.Path("missing/report.txt");
  testing::SimulatedInstrument& klv = Instrument();
  EXPECT_THROW(DownloadMemory(model_, 0, options_), report::FileError);
  EXPECT_EQ(klv.commands().back(), "LOCK");
  EXPECT_FALSE(line_.isOpen());
  EXPECT_EQ(serial::PortListHead(), nullptr);
}

TEST_F(SequenceTest, EraseRunsItsAnimationInVirtualTime) {
  testing::SimulatedInstrument& klv = Instrument();
  ASSERT_TRUE(EraseMemory(model_, 0));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "ERASE 47190356", "LOCK"}));
  EXPECT_TRUE(klv.instrument().memory().empty());
  EXPECT_FALSE(klv.instrument().unlocked());
  Commands progress{"5", "10"};  // then 10 twice, 11 ... 99
  for (int i = 0; i < 100; ++i) progress.push_back(std::to_string(10 + 9 * i / 10));
  progress.push_back("100");
  EXPECT_EQ(model_.Only("progress"), progress);
  EXPECT_THAT(model_.Only("status"), ElementsAre("Opening communication port.\r\n",
                                                 "Erasing data in the KLV480.\r\n", "Done."));
  EXPECT_EQ(clock_.pausedMs(), 100u * 100 + 150);
}

TEST_F(SequenceTest, EraseIgnoresTheInstrumentsAnswer) {
  std::string written;
  line_.SetPeer([&](serial::testing::TestLine& l) {  // answers UNLOCK, then nothing sensible
    const std::string in = l.TakeOutput();
    if (in.empty()) return;
    written += in;
    if (written == "UNLOCK\n") l.Feed("OK\n\r");
    if (written.ends_with("47190356\n")) l.Feed("ERROR: busy\n\r");
  });
  EXPECT_TRUE(EraseMemory(model_, 0));
  EXPECT_EQ(model_.Only("progress").back(), "100");
  EXPECT_EQ(written, "UNLOCK\nERASE 47190356\nLOCK\n");
}

}  // namespace
}  // namespace brelin::device
