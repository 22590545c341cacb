#include "device/sequences.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/testing/recording_listener.h"
#include "device/testing/simulated_instrument.h"
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
  SequenceTest() { config_.memory = report::GenerateImage(300, 7); }
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
  std::string image_ = dir_.Path("KLV480.bin");
  testing::RecordingListener listener_;
  DeviceInfo info_;
  sim::InstrumentConfig config_;
  std::unique_ptr<testing::SimulatedInstrument> klv_;
};

TEST_F(SequenceTest, FullDownload) {
  testing::SimulatedInstrument& klv = Instrument();
  ASSERT_TRUE(DownloadMemory(listener_, info_, 0, image_));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD", "", "system", "LOCK"}));
  EXPECT_FALSE(klv.instrument().unlocked());
  EXPECT_FALSE(line_.isOpen());
  EXPECT_THAT(listener_.events,
              ElementsAre("status:Opening communication port.\r\n", "progress:10",
                          "status:Downloading data from KLV480.\r\n", "progress:30",
                          "status:Obtaining KLV480 system info.\r\n", "progress:50"));
  EXPECT_EQ(ReadText(image_), Padded()) << "stored whole, in full blocks";

  EXPECT_EQ(info_.serialNumber, 480123);
  EXPECT_EQ(info_.pcbNumber, 7);
  EXPECT_EQ(info_.downloadNumber, 1);
  EXPECT_EQ(info_.downloadWord1, Padded().size() / 128);
  EXPECT_EQ(info_.downloadWord2,
            sim::XmodemSender::Crc16(config_.memory.data(), config_.memory.size()));
  EXPECT_EQ(clock_.pausedMs(), 500u + 1000 + 150);
}

TEST_F(SequenceTest, RefusedDownloadStillLocks) {
  config_.refuse = true;
  testing::SimulatedInstrument& klv = Instrument();
  EXPECT_FALSE(DownloadMemory(listener_, info_, 0, image_));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD", "LOCK"}));
  EXPECT_FALSE(klv.instrument().unlocked());
  EXPECT_THAT(listener_.events, ElementsAre("status:Opening communication port.\r\n", "progress:10",
                                            "message:No download allowed !!!\n", "progress:0"));
  EXPECT_FALSE(std::filesystem::exists(image_));
  EXPECT_FALSE(line_.isOpen());
}

TEST_F(SequenceTest, CancelledTransferEndsWithoutLock) {
  config_.faults.cancelAfter = 2;
  testing::SimulatedInstrument& klv = Instrument();
  EXPECT_FALSE(DownloadMemory(listener_, info_, 0, image_));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD"}));
  EXPECT_THAT(listener_.Only("message"), ElementsAre("Error in file transfer -606"));
  EXPECT_THAT(listener_.Only("progress"), ElementsAre("10"));
  EXPECT_EQ(std::filesystem::file_size(image_), 2u * 128) << "stored blocks stay";
  EXPECT_FALSE(line_.isOpen());
}

TEST_F(SequenceTest, EraseRunsItsAnimationInVirtualTime) {
  testing::SimulatedInstrument& klv = Instrument();
  ASSERT_TRUE(EraseMemory(listener_, 0));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "ERASE 47190356", "LOCK"}));
  EXPECT_TRUE(klv.instrument().memory().empty());
  EXPECT_FALSE(klv.instrument().unlocked());
  Commands progress{"5", "10"};  // then 10 twice, 11 ... 99
  for (int i = 0; i < 100; ++i) progress.push_back(std::to_string(10 + 9 * i / 10));
  progress.push_back("100");
  EXPECT_EQ(listener_.Only("progress"), progress);
  EXPECT_THAT(listener_.Only("status"), ElementsAre("Opening communication port.\r\n",
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
  EXPECT_TRUE(EraseMemory(listener_, 0));
  EXPECT_EQ(listener_.Only("progress").back(), "100");
  EXPECT_EQ(written, "UNLOCK\nERASE 47190356\nLOCK\n");
}

}  // namespace
}  // namespace brelin::device
