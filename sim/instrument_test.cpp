#include "sim/instrument.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace brelin::sim {
namespace {

using ::testing::HasSubstr;

class InstrumentTest : public ::testing::Test {
 protected:
  explicit InstrumentTest(InstrumentConfig config = {}) : config_(std::move(config)) {}

  Instrument& Make() {
    if (config_.memory.empty()) config_.memory.assign(300, 0x55);
    instrument_ =
        std::make_unique<Instrument>(config_, [this](std::string_view l) { log_.emplace_back(l); });
    return *instrument_;
  }

  // Sends text at time now and returns what the instrument answered.
  std::string Say(std::string_view text, std::uint32_t now = 0) {
    instrument_->Receive({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, now);
    const auto out = instrument_->TakeOutput();
    return {out.begin(), out.end()};
  }

  InstrumentConfig config_;
  std::unique_ptr<Instrument> instrument_;
  std::vector<std::string> log_;
};

TEST_F(InstrumentTest, EraseNeedsTheCodeAndTheUnlock) {
  Make();
  EXPECT_EQ(Say("ERASE 47190356\n"), "BAD\n\r");
  EXPECT_EQ(instrument_->memory().size(), 300u);
  Say("UNLOCK\n");
  EXPECT_THAT(Say("ERASE 12345678\n"), HasSubstr("ERROR"));
  EXPECT_THAT(Say("ERASE\n"), HasSubstr("ERROR"));
  EXPECT_EQ(instrument_->memory().size(), 300u);
  EXPECT_EQ(Say("ERASE 47190356\n"), "OK\n\r");
  EXPECT_TRUE(instrument_->memory().empty());

  // An empty memory goes out as a transfer of no blocks.
  Say("DOWNLOAD\n");
  EXPECT_EQ(Say("C"), "\x04");
}

TEST_F(InstrumentTest, NoiseDoesNotBecomeACommand) {
  Make();
  EXPECT_THAT(Say("unlock\n"), HasSubstr("ERROR")) << "commands are case-sensitive";
  // Cancel bytes and backspaces of a receiver that gave up are dropped; a stale partial line too.
  EXPECT_EQ(Say("\x18\x18\x08\x08UNLOCK\r\n"), "OK\n\r");
  Say("C", 1000);
  EXPECT_EQ(Say("LOCK\n", 1000 + Instrument::kStaleLineMs + 1), "OK\n\r");
  Say("CLO", 3000);
  EXPECT_THAT(Say("CK\n", 3010), HasSubstr("ERROR")) << "a fresh partial line is kept";
  EXPECT_THAT(Say(std::string(300, 'x') + "\n", 4000), HasSubstr("ERROR"));
}

TEST_F(InstrumentTest, ANewCommandEndsAnAbandonedTransfer) {
  Make();
  Say("UNLOCK\nDOWNLOAD\nC");
  ASSERT_TRUE(instrument_->transferring());
  // The receiver went away; the next client starts over.
  EXPECT_EQ(Say("UNLOCK\n", 100), "OK\n\r");
  EXPECT_FALSE(instrument_->transferring());
  EXPECT_TRUE(instrument_->TakeDiscard());
  EXPECT_FALSE(instrument_->TakeDiscard());
}

TEST_F(InstrumentTest, RepliesFitWhatTheClientReads) {
  Make();
  Say("UNLOCK\n");
  EXPECT_LT(Say("system\n").size(), 350u);
  for (int i = 0; i < 120; ++i) {  // the counter grows past two digits
    const std::string reply = Say("DOWNLOAD\n", static_cast<std::uint32_t>(i) * 1000);
    ASSERT_LE(reply.size(), 15u) << reply;
  }
  config_.memory.assign(9 << 20, 0xA5);  // far more memory than the instrument has
  Make();
  Say("UNLOCK\n");
  EXPECT_LE(Say("DOWNLOAD\n").size(), 15u);
}

}  // namespace
}  // namespace brelin::sim
