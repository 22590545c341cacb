#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brelin::sim {

// Faults the simulated instrument can put into a transfer, so that a receiver's recovery paths can
// be exercised over a real line. Zero disables each.
struct SenderFaults {
  std::uint32_t corruptEvery = 0;  // invert one block byte every N block bytes sent
  std::uint32_t dropEvery = 0;     // leave out one block byte every N block bytes sent
  int cancelAfter = -1;            // send CAN CAN instead of block K+1 (-1: never)
  std::uint32_t stallMs = 0;       // pause this long once, before the middle block
};

// The sending side of XMODEM as a pure state machine: bytes from the receiver and the time go in,
// bytes for the line come out. The sender waits for "C" (CRC-16) or NAK (8-bit checksum), sends
// 128-byte (SOH) or 1024-byte (STX) blocks, resends on NAK or after a silence, ends with EOT until
// it is acknowledged, and gives up on CAN CAN, too many retries or a long silence.
class XmodemSender {
 public:
  static constexpr std::uint8_t kSoh = 0x01, kStx = 0x02, kEot = 0x04, kAck = 0x06, kNak = 0x15,
                                kCan = 0x18, kCrcRequest = 'C', kPad = 0x1A;
  static constexpr std::uint32_t kResendMs = 3000;   // silence after which a block is sent again
  static constexpr std::uint32_t kGiveUpMs = 60000;  // silence after which the transfer is dropped
  static constexpr int kMaxRetries = 10;

  enum class State { kWaitStart, kWaitAck, kStalled, kWaitEotAck, kDone, kAborted };

  using Log = std::function<void(std::string_view)>;

  // blockSize is 128 or 1024. With 1024, the tail that no longer fills a large block goes out in
  // 128-byte blocks. Bytes for the line are appended to out.
  XmodemSender(std::vector<std::uint8_t> data, int blockSize, SenderFaults faults,
               std::vector<std::uint8_t>& out, Log log, std::uint32_t now);

  // True when the byte belonged to the protocol; other bytes are left to the caller.
  bool Receive(std::uint8_t byte, std::uint32_t now);
  // Runs the timers. lineBusy: bytes sent earlier are still on their way, which is not silence.
  void Poll(std::uint32_t now, bool lineBusy);
  // Ends the transfer at once (for example when a new command shows the receiver has gone).
  void Abort(std::string_view reason);

  State state() const { return state_; }
  bool Finished() const { return state_ == State::kDone || state_ == State::kAborted; }
  bool crcMode() const { return crc_; }
  std::uint32_t blocksAcked() const { return acked_; }

  static std::uint16_t Crc16(const std::uint8_t* data, std::size_t n);

 private:
  void SendCurrent(std::uint32_t now);
  void Advance(std::uint32_t now);
  void Emit(std::uint8_t byte);
  void Retry(std::uint32_t now, const char* why);

  std::vector<std::uint8_t> data_;
  int blockSize_;
  SenderFaults faults_;
  std::vector<std::uint8_t>& out_;
  Log log_;
  State state_ = State::kWaitStart;
  bool crc_ = true;
  std::size_t offset_ = 0;   // start of the current block in data_
  std::size_t length_ = 0;   // data bytes of the current block (128 or 1024)
  std::uint8_t number_ = 1;  // block number on the line
  std::uint32_t acked_ = 0;  // blocks acknowledged
  std::uint32_t stallBlock_ = 0;
  bool stalled_ = false;
  std::uint32_t stallEnd_ = 0;
  int retries_ = 0;
  std::uint32_t lastSent_ = 0;    // when the line last went quiet on our side
  std::uint32_t lastHeard_ = 0;   // when the receiver last sent something
  std::uint64_t blockBytes_ = 0;  // block bytes emitted, for the fault counters
  bool sawCan_ = false;
};

}  // namespace brelin::sim
