#include "device/sequences.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <map>

#include "device/testing/recording_listener.h"
#include "device/testing/simulated_instrument.h"
#include "report/image_generator.h"
#include "report/testing/temp_dir.h"
#include "serial/testing/virtual_clock.h"
#include "sim/xmodem_sender.h"
#include "xfer/xfer.h"

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
  std::map<std::string, std::uint32_t> at;
  listener_.onEvent = [&](const std::string& event) {
    at[event] = clock_.now();
    if (event == "progress:30") line_.Feed("PCB: 99\n\r");  // stale: dropped before "system"
  };
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
  // Neither reply has an end the read could stop at: each is waited for in full.
  EXPECT_EQ(at["status:Downloading data from KLV480.\r\n"] - at["progress:10"], 500u + 1000);
  EXPECT_EQ(at["progress:50"] - at["status:Obtaining KLV480 system info.\r\n"], 500u);
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
  EXPECT_EQ(clock_.pausedMs(), 500u + 50);
}

// A read that failed once in the transfer, which recovered: the commands after it still end with
// their line ends, so the instrument reads "system" and "LOCK" and is locked again.
TEST_F(SequenceTest, ReadFailureTheTransferRecoveredFromLeavesNoTrace) {
  listener_.onEvent = [this](const std::string& event) {
    if (event == "status:Downloading data from KLV480.\r\n") {
      line_.FailNext(serial::testing::TestLine::Op::kRead, serial::kPlatformFailure);
    }
  };
  testing::SimulatedInstrument& klv = Instrument();
  ASSERT_TRUE(DownloadMemory(listener_, info_, 0, image_));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD", "", "system", "LOCK"}));
  EXPECT_FALSE(klv.instrument().unlocked());
  EXPECT_EQ(info_.serialNumber, 480123);
}

// The transfer's figures: once for each change of the bytes stored or the retries, from nothing to
// the whole padded image, with the time since the transfer began.
TEST_F(SequenceTest, TransferFiguresFollowTheBlocksAndRetries) {
  config_.faults.corruptEvery = 700;
  Instrument();
  ASSERT_TRUE(DownloadMemory(listener_, info_, 0, image_));
  const std::vector<TransferProgress>& t = listener_.transfers;
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t.front().bytes, 0);
  EXPECT_EQ(t.back().bytes, static_cast<std::int64_t>(Padded().size()));
  EXPECT_GT(t.back().retries, 0);
  for (std::size_t i = 1; i < t.size(); ++i) {
    EXPECT_TRUE(t[i].bytes > t[i - 1].bytes || t[i].retries > t[i - 1].retries) << i;
    EXPECT_GE(t[i].milliseconds, t[i - 1].milliseconds) << i;
  }
}

TEST_F(SequenceTest, FailedTransferStillLocks) {
  config_.faults.cancelAfter = 2;
  testing::SimulatedInstrument& klv = Instrument();
  EXPECT_FALSE(DownloadMemory(listener_, info_, 0, image_));
  EXPECT_EQ(klv.commands(), (Commands{"UNLOCK", "DOWNLOAD", "LOCK"}));
  EXPECT_FALSE(klv.instrument().unlocked());
  EXPECT_THAT(listener_.Only("message"),
              ElementsAre("Error in file transfer -606: the instrument cancelled\nThe 256 bytes "
                          "received are kept in " +
                          image_));
  EXPECT_THAT(listener_.Only("progress"), ElementsAre("10"));
  EXPECT_EQ(std::filesystem::file_size(image_), 2u * 128) << "stored blocks stay";
  EXPECT_FALSE(line_.isOpen());
}

// A stop at each stage: after UNLOCK's answer, in the transfer, during the system read. Each
// ends with LOCK (after the cancel sequence in the transfer) and shows nothing.
TEST_F(SequenceTest, StopAtEachStageLocksAndShowsNothing) {
  const struct {
    const char* stopAt;
    Commands commands;
    const char* written;  // what the Port sent after DOWNLOAD's line
  } kStages[] = {
      {"progress:10", {"UNLOCK", "LOCK"}, ""},
      {"status:Downloading data from KLV480.\r\n",
       {"UNLOCK", "DOWNLOAD", "LOCK"},
       "\x18\x18\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b\b\bLOCK\n"},
      {"status:Obtaining KLV480 system info.\r\n",
       {"UNLOCK", "DOWNLOAD", "", "system", "LOCK"},
       nullptr},
  };
  for (const auto& stage : kStages) {
    SCOPED_TRACE(stage.stopAt);
    listener_ = {};
    listener_.stopAt = stage.stopAt;
    testing::SimulatedInstrument& klv = Instrument();
    EXPECT_FALSE(DownloadMemory(listener_, info_, 0, image_));
    EXPECT_EQ(klv.commands(), stage.commands);
    EXPECT_FALSE(klv.instrument().unlocked());
    EXPECT_THAT(listener_.Only("message"), ElementsAre());
    if (stage.written != nullptr) {
      const std::string& written = klv.written();
      const std::size_t download = written.find("DOWNLOAD\n");
      EXPECT_EQ(download == std::string::npos ? "" : written.substr(download + 9), stage.written);
    }
    EXPECT_FALSE(line_.isOpen());
  }
  // The erase: a stop before the erase command sends LOCK and nothing else; a stop while the
  // instrument erases cuts the wait short, and the sequence does not end with "Done.".
  for (const char* stopAt : {"progress:10", "progress:20"}) {
    SCOPED_TRACE(stopAt);
    listener_ = {};
    listener_.stopAt = stopAt;
    testing::SimulatedInstrument& klv = Instrument();
    EXPECT_FALSE(EraseMemory(listener_, 0));
    const bool erasing = listener_.Only("status").size() > 1;
    const Commands commands =
        erasing ? Commands{"UNLOCK", "ERASE 47190356", "LOCK"} : Commands{"UNLOCK", "LOCK"};
    EXPECT_EQ(klv.commands(), commands);
    EXPECT_EQ(klv.instrument().memory().empty(), erasing);
    EXPECT_EQ(listener_.Only("status").back(),
              erasing ? "Erasing data in the KLV480.\r\n" : "Opening communication port.\r\n");
  }
}

TEST(TransferFailureTextTest, NumberMeaningAndWhereTheBlocksAre) {
  EXPECT_EQ(TransferFailureText(xfer::kXferNoHeader, "KLV480.bin.part", 0, 0),
            "Error in file transfer -608: the instrument did not send (10 waits)");
  EXPECT_EQ(TransferFailureText(xfer::kXferWriteFailed, "x.part", ENOSPC, 4096),
            "Error in file transfer -607: the memory image file could not be written: x.part: No "
            "space left on device\nThe 4096 bytes received are kept in x.part");
  EXPECT_EQ(TransferFailureText(xfer::kXferOpenFailed, "/ro/x.part", EACCES, 0),
            "Error in file transfer -602: the memory image file could not be written: /ro/x.part: "
            "Permission denied");
  EXPECT_EQ(TransferFailureText(xfer::kXferWriteFailed, "x", 0, 0),
            "Error in file transfer -607: the memory image file could not be written: x: "
            "Input/output error")
      << "never \"Success\"";
  EXPECT_EQ(TransferFailureText(serial::kNoDevice, "x", 0, 0),
            "Error in file transfer -14: the serial line went away (adapter unplugged?)");
  EXPECT_EQ(TransferFailureText(-999, "x", 0, 0), "Error in file transfer -999");
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
  EXPECT_EQ(clock_.now(), 1000u + 100 * 100 + 150) << "the erase command's answer is waited for";
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

// A port that did not open says why and nothing is sent; one that opened but got no answer to
// UNLOCK says "No response of KLV480", whatever stale input waited on the line.
TEST_F(SequenceTest, APortThatDidNotOpenSaysWhyAndNothingIsSent) {
  const std::string opening = "status:Opening communication port.\r\n";
  const std::string noResponse = "message:No response of KLV480";
  const std::string inUse =
      "message:Cannot open serial port 0: in use by another program, or not allowed";
  const std::string missing =
      "message:Cannot open serial port 5: no such port\nThere is no such port: list the ports "
      "with 'brelin-cli ports', or choose one in COM Port Setup.";
  const struct {
    const char* name;
    bool erase;
    int port, openFailure;
    Commands events;
  } kCases[] = {
      {"DownloadInUse", false, 0, serial::kPortInUse, {opening, inUse}},
      {"DownloadMissing", false, 5, 0, {opening, missing}},
      {"EraseInUse", true, 0, serial::kPortInUse, {opening, "progress:5", inUse}},
      {"DownloadSilent", false, 0, 0, {opening, noResponse}},
      {"EraseSilent", true, 0, 0, {opening, "progress:5", "progress:10", noResponse}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    listener_ = {};
    line_.TakeOutput();
    line_.Feed("OK\n\r");
    if (c.openFailure != 0) line_.FailNext(serial::testing::TestLine::Op::kOpen, c.openFailure);
    EXPECT_FALSE(c.erase ? EraseMemory(listener_, c.port)
                         : DownloadMemory(listener_, info_, c.port, image_));
    EXPECT_EQ(listener_.events, c.events);
    const bool opened = c.port == 0 && c.openFailure == 0;
    EXPECT_EQ(line_.output(), opened ? "UNLOCK\n" : "");
    EXPECT_FALSE(line_.isOpen());
  }
  EXPECT_FALSE(std::filesystem::exists(image_));
}

}  // namespace
}  // namespace brelin::device
