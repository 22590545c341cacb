#include "sim/instrument.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace brelin::sim {
namespace {

using ::testing::HasSubstr;

// Sends text at time now and returns what the instrument answered.
std::string Say(Instrument& klv, std::string_view text, std::uint32_t now = 0) {
  klv.Receive({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, now);
  const auto out = klv.TakeOutput();
  return {out.begin(), out.end()};
}

Instrument Make(std::size_t memory = 300) {
  InstrumentConfig config;
  config.memory.assign(memory, 0x55);
  return Instrument(std::move(config), [](std::string_view) {});
}

TEST(InstrumentTest, EraseNeedsTheCodeAndTheUnlock) {
  Instrument klv = Make();
  EXPECT_EQ(Say(klv, "ERASE 47190356\n"), "BAD\n\r");
  Say(klv, "UNLOCK\n");
  EXPECT_THAT(Say(klv, "ERASE 12345678\n"), HasSubstr("ERROR"));
  EXPECT_THAT(Say(klv, "ERASE\n"), HasSubstr("ERROR"));
  EXPECT_EQ(klv.memory().size(), 300u);
  EXPECT_EQ(Say(klv, "ERASE 47190356\n"), "OK\n\r");
  EXPECT_TRUE(klv.memory().empty());
  Say(klv, "DOWNLOAD\n");
  EXPECT_EQ(Say(klv, "C"), "\x04") << "an empty memory is a transfer of no blocks";
}

TEST(InstrumentTest, NoiseDoesNotBecomeACommand) {
  Instrument klv = Make();
  EXPECT_THAT(Say(klv, "unlock\n"), HasSubstr("ERROR")) << "commands are case-sensitive";
  // Cancel bytes and backspaces of a receiver that gave up are dropped; a stale partial line too.
  EXPECT_EQ(Say(klv, "\x18\x18\x08\x08UNLOCK\r\n"), "OK\n\r");
  Say(klv, "C", 1000);
  EXPECT_EQ(Say(klv, "LOCK\n", 1000 + Instrument::kStaleLineMs + 1), "OK\n\r");
  Say(klv, "CLO", 3000);
  EXPECT_THAT(Say(klv, "CK\n", 3010), HasSubstr("ERROR")) << "a fresh partial line is kept";
  EXPECT_THAT(Say(klv, std::string(300, 'x') + "\n", 4000), HasSubstr("ERROR"));
}

TEST(InstrumentTest, ANewCommandEndsAnAbandonedTransfer) {
  Instrument klv = Make();
  Say(klv, "UNLOCK\nDOWNLOAD\nC");
  ASSERT_TRUE(klv.transferring());
  EXPECT_EQ(Say(klv, "UNLOCK\n", 100), "OK\n\r");
  EXPECT_FALSE(klv.transferring());
  EXPECT_TRUE(klv.TakeDiscard());
  EXPECT_FALSE(klv.TakeDiscard());
}

TEST(InstrumentTest, RepliesFitWhatTheClientReads) {
  Instrument klv = Make();
  Say(klv, "UNLOCK\n");
  EXPECT_LT(Say(klv, "system\n").size(), 350u);
  for (std::uint32_t i = 0; i < 120; ++i) {  // the counter grows past two digits
    ASSERT_LE(Say(klv, "DOWNLOAD\n", i * 1000).size(), 15u);
  }
  Instrument big = Make(9 << 20);  // far more memory than the instrument has
  Say(big, "UNLOCK\n");
  EXPECT_LE(Say(big, "DOWNLOAD\n").size(), 15u);
}

}  // namespace
}  // namespace brelin::sim
