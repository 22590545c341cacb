#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/xmodem_sender.h"

namespace brelin::sim {

struct InstrumentConfig {
  std::vector<std::uint8_t> memory;  // the memory image the instrument sends
  int blockSize = 128;               // 128 or 1024
  bool refuse = false;               // answer every DOWNLOAD with "BAD"
  bool silent = false;               // never answer anything
  bool crlf = false;                 // end reply lines CR LF instead of LF CR
  std::int32_t serialNumber = 480123;
  std::int32_t pcbNumber = 7;
  SenderFaults faults;
};

// The simulated instrument without any I/O: the command dialogue (UNLOCK, DOWNLOAD, system, LOCK,
// ERASE, a bare LF), its locked state, its memory and the XMODEM sender of a download. Bytes from
// the line and the time go in; bytes for the line and log lines come out.
class Instrument {
 public:
  static constexpr std::string_view kEraseCode = "47190356";
  // A partial command older than this is line noise (for example stray transfer requests).
  static constexpr std::uint32_t kStaleLineMs = 500;
  static constexpr std::size_t kMaxLine = 128;

  using Log = std::function<void(std::string_view)>;

  Instrument(InstrumentConfig config, Log log);

  void Receive(std::span<const std::uint8_t> bytes, std::uint32_t now);
  // Runs the transfer timers; lineBusy: earlier output is still on its way.
  void Poll(std::uint32_t now, bool lineBusy);

  // Bytes for the line since the last call.
  std::vector<std::uint8_t> TakeOutput();
  // True once after a transfer was dropped for a new command: output not yet on the line is stale.
  bool TakeDiscard();

  bool unlocked() const { return unlocked_; }
  bool transferring() const { return sender_ != nullptr; }
  const std::vector<std::uint8_t>& memory() const { return config_.memory; }

  // The DOWNLOAD reply: a download counter, the image length in 128-byte blocks (hex) and the
  // image's CRC-16 (hex), at most 15 bytes with its line end.
  std::string DownloadReply() const;
  // The reply to "system": several lines, under 350 bytes, with the serial and PCB numbers.
  std::string SystemReply() const;

 private:
  void HandleLine(std::string line, std::uint32_t now);
  void Reply(std::string_view text);  // one reply line, with the line end
  void Send(std::string_view bytes);
  bool Stale(std::uint32_t now) const {
    return static_cast<std::int32_t>(now - lastByte_) > static_cast<std::int32_t>(kStaleLineMs);
  }
  std::string LineEnd() const { return config_.crlf ? "\r\n" : "\n\r"; }

  InstrumentConfig config_;
  Log log_;
  std::vector<std::uint8_t> out_;
  std::unique_ptr<XmodemSender> sender_;
  std::string line_;
  std::uint32_t lastByte_ = 0;  // when the last command byte came
  bool unlocked_ = false;
  bool discard_ = false;
  std::uint32_t downloads_ = 0;
};

}  // namespace brelin::sim
