#include "sim/instrument.h"

#include <cstdio>
#include <utility>

namespace brelin::sim {
namespace {

// Shows a reply with its control characters visible, for the log.
std::string Visible(std::string_view bytes) {
  std::string text;
  for (char c : bytes) {
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\r') {
      text += "\\r";
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace

Instrument::Instrument(InstrumentConfig config, Log log)
    : config_(std::move(config)), log_(std::move(log)) {}

void Instrument::Receive(std::span<const std::uint8_t> bytes, std::uint32_t now) {
  for (std::uint8_t byte : bytes) {
    // A "C" inside a fresh line of text is a letter of a command, not a transfer request.
    const bool inText = !line_.empty() && !Stale(now);
    if (sender_ && !(inText && byte == XmodemSender::kCrcRequest)) {
      const bool taken = sender_->Receive(byte, now);
      if (sender_->Finished()) sender_.reset();
      if (taken) continue;
    }
    if (Stale(now)) line_.clear();
    lastByte_ = now;
    if (byte == '\n') {
      HandleLine(std::exchange(line_, {}), now);
    } else if (byte >= 0x20 && byte != 0x7F && line_.size() < kMaxLine) {
      line_ += static_cast<char>(byte);
    }
    // CR and other control characters are line noise to the command parser.
  }
}

void Instrument::Poll(std::uint32_t now, bool lineBusy) {
  if (!sender_) return;
  sender_->Poll(now, lineBusy);
  if (sender_->Finished()) sender_.reset();
}

std::vector<std::uint8_t> Instrument::TakeOutput() {
  return std::exchange(out_, {});
}

bool Instrument::TakeDiscard() {
  return std::exchange(discard_, false);
}

std::string Instrument::DownloadReply() const {
  const std::size_t blocks = (config_.memory.size() + 127) / 128;
  const unsigned crc = XmodemSender::Crc16(config_.memory.data(), config_.memory.size());
  char text[32];
  std::snprintf(text, sizeof text, "%u %zx %x", downloads_ % 100, blocks & 0xFFFF, crc);
  return text;
}

std::string Instrument::SystemReply() const {
  const std::string end = LineEnd();
  return "KLV480 - " + std::to_string(config_.serialNumber) + end +  //
         "Firmware: 3.07 (2004-11-18)" + end +                       //
         "PCB: " + std::to_string(config_.pcbNumber) + end +         //
         "Memory: 49152 bytes" + end +                               //
         "Used: " + std::to_string(config_.memory.size()) + " bytes, " +
         std::to_string(config_.memory.size() / 12) + " records" + end +  //
         "Downloads since erase: " + std::to_string(downloads_) + end +   //
         "Battery: 4.12 V" + end +                                        //
         "Probe: none" + end +                                            //
         (unlocked_ ? "State: unlocked" : "State: locked") + end;
}

void Instrument::HandleLine(std::string line, std::uint32_t now) {
  log_("< " + line);
  if (sender_) {
    // The receiver never sends a line: whoever sends one has given up on the transfer.
    sender_->Abort("new command");
    sender_.reset();
    out_.clear();
    discard_ = true;
  }
  if (config_.silent) return;

  if (line == "UNLOCK") {
    unlocked_ = true;
    Reply("OK");
  } else if (line == "LOCK") {
    unlocked_ = false;
    Reply("OK");
  } else if (line == "DOWNLOAD") {
    if (!unlocked_ || config_.refuse) {
      Reply("BAD");
      return;
    }
    ++downloads_;
    Reply(DownloadReply());
    sender_ = std::make_unique<XmodemSender>(config_.memory, config_.blockSize, config_.faults,
                                             out_, log_, now);
  } else if (line == "system") {
    Send(SystemReply());
  } else if (line.empty()) {
    Reply("");
  } else if (line.starts_with("ERASE ")) {
    if (line.substr(6) != kEraseCode) {
      Reply("ERROR: wrong access code");
    } else if (!unlocked_) {
      Reply("BAD");
    } else {
      config_.memory.clear();
      downloads_ = 0;
      Reply("OK");
    }
  } else {
    Reply("ERROR: unknown command");
  }
}

void Instrument::Reply(std::string_view text) {
  Send(std::string(text) + LineEnd());
}

void Instrument::Send(std::string_view bytes) {
  log_("> " + Visible(bytes));
  out_.insert(out_.end(), bytes.begin(), bytes.end());
}

}  // namespace brelin::sim
