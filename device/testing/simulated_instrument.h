#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "serial/clock.h"
#include "serial/testing/test_driver.h"
#include "sim/instrument.h"

namespace brelin::device::testing {

// Puts the simulator's instrument at the far end of a TestLine, in virtual time: whatever the
// Port writes reaches the instrument at once and its answers become readable at once.
//
//   VirtualClock clock;
//   TestLine line;                                  // port 0
//   SimulatedInstrument klv(line, {.memory = image});
//   DownloadMemory(listener, info, 0);
//   EXPECT_EQ(klv.commands(), (std::vector<std::string>{"UNLOCK", "DOWNLOAD", ...}));
class SimulatedInstrument {
 public:
  SimulatedInstrument(serial::testing::TestLine& line, sim::InstrumentConfig config)
      : instrument_(std::move(config), [this](std::string_view text) { Log(text); }) {
    line.SetPeer([this](serial::testing::TestLine& l) { Step(l); });
  }

  sim::Instrument& instrument() { return instrument_; }
  // The command lines the instrument received, in order.
  const std::vector<std::string>& commands() const { return commands_; }
  // Everything the Port wrote, in order.
  const std::string& written() const { return written_; }

 private:
  void Step(serial::testing::TestLine& line) {
    const std::string in = line.TakeOutput();
    written_ += in;
    const std::uint32_t now = serial::TickCount();
    instrument_.Receive({reinterpret_cast<const std::uint8_t*>(in.data()), in.size()}, now);
    instrument_.Poll(now, false);
    const std::vector<std::uint8_t> out = instrument_.TakeOutput();
    if (!out.empty()) line.Feed({reinterpret_cast<const char*>(out.data()), out.size()});
  }

  void Log(std::string_view text) {
    if (text.starts_with("< ")) commands_.emplace_back(text.substr(2));
  }

  std::vector<std::string> commands_;
  std::string written_;
  sim::Instrument instrument_;
};

}  // namespace brelin::device::testing
