#include "sim/xmodem_sender.h"

#include <string>
#include <utility>

#include "xfer/crc16.h"

namespace brelin::sim {
namespace {

bool Elapsed(std::uint32_t since, std::uint32_t ms, std::uint32_t now) {
  return static_cast<std::int32_t>(now - since) >= static_cast<std::int32_t>(ms);
}

}  // namespace

XmodemSender::XmodemSender(std::vector<std::uint8_t> data, int blockSize, SenderFaults faults,
                           std::vector<std::uint8_t>& out, Log log, std::uint32_t now)
    : data_(std::move(data)),
      blockSize_(blockSize == 1024 ? 1024 : 128),
      faults_(faults),
      out_(out),
      log_(std::move(log)),
      lastSent_(now),
      lastHeard_(now) {
  if (faults_.stallMs > 0) {
    // Count the blocks the way Advance will cut them, to find the middle one.
    std::uint32_t blocks = 0;
    for (std::size_t at = 0; at < data_.size(); ++blocks) {
      at += (blockSize_ == 1024 && data_.size() - at >= 1024) ? 1024 : 128;
    }
    stallBlock_ = blocks / 2 + 1;
  }
}

std::uint16_t XmodemSender::Crc16(const std::uint8_t* data, std::size_t n) {
  return xfer::Crc16Xmodem(n, 0, data);
}

bool XmodemSender::Receive(std::uint8_t byte, std::uint32_t now) {
  if (Finished()) return false;
  const bool can = byte == kCan;
  const bool secondCan = can && sawCan_;
  sawCan_ = can;
  if (secondCan) {
    Abort("cancelled by the receiver");
    return true;
  }
  if (can || byte == 0x08) return true;  // the receiver's cancel sequence ends in backspaces
  if (byte != kAck && byte != kNak && byte != kCrcRequest) return false;
  lastHeard_ = now;

  switch (state_) {
    case State::kWaitStart:
      if (byte == kAck) return true;
      crc_ = byte == kCrcRequest;
      log_(crc_ ? "transfer start (CRC-16)" : "transfer start (checksum)");
      Advance(now);
      return true;
    case State::kWaitAck:
      if (byte == kAck) {
        ++acked_;
        offset_ += length_;
        ++number_;
        retries_ = 0;
        Advance(now);
      } else if (byte == kNak || number_ == 1) {
        Retry(now, "NAK");
      }
      return true;
    case State::kWaitEotAck:
      if (byte == kAck) {
        state_ = State::kDone;
        log_("transfer done: " + std::to_string(acked_) + " blocks");
      } else {
        Retry(now, "NAK");
      }
      return true;
    case State::kStalled:
    case State::kDone:
    case State::kAborted:
      return true;
  }
  return true;
}

void XmodemSender::Poll(std::uint32_t now, bool lineBusy) {
  if (Finished()) return;
  if (lineBusy) lastSent_ = now;
  switch (state_) {
    case State::kStalled:
      if (Elapsed(stallEnd_, 0, now)) SendCurrent(now);
      return;
    case State::kWaitStart:
      if (Elapsed(lastHeard_, kGiveUpMs, now)) Abort("no transfer request");
      return;
    case State::kWaitAck:
    case State::kWaitEotAck:
      if (Elapsed(lastHeard_, kGiveUpMs, now)) {
        Abort("receiver silent");
      } else if (!lineBusy && Elapsed(lastSent_, kResendMs, now)) {
        Retry(now, "no answer");
      }
      return;
    case State::kDone:
    case State::kAborted:
      return;
  }
}

void XmodemSender::Abort(std::string_view reason) {
  if (Finished()) return;
  state_ = State::kAborted;
  log_("transfer aborted: " + std::string(reason));
}

void XmodemSender::Advance(std::uint32_t now) {
  if (offset_ >= data_.size()) {
    out_.push_back(kEot);
    state_ = State::kWaitEotAck;
    lastSent_ = now;
    return;
  }
  if (faults_.cancelAfter >= 0 && acked_ == static_cast<std::uint32_t>(faults_.cancelAfter)) {
    out_.push_back(kCan);
    out_.push_back(kCan);
    Abort("cancelled after " + std::to_string(acked_) + " blocks");
    return;
  }
  length_ = (blockSize_ == 1024 && data_.size() - offset_ >= 1024) ? 1024 : 128;
  if (stallBlock_ != 0 && acked_ + 1 == stallBlock_ && !stalled_) {
    stalled_ = true;
    state_ = State::kStalled;
    stallEnd_ = now + faults_.stallMs;
    log_("stalling " + std::to_string(faults_.stallMs) + " ms");
    return;
  }
  SendCurrent(now);
}

void XmodemSender::SendCurrent(std::uint32_t now) {
  std::vector<std::uint8_t> block(length_, kPad);
  for (std::size_t i = 0; i < length_ && offset_ + i < data_.size(); ++i)
    block[i] = data_[offset_ + i];
  Emit(length_ == 1024 ? kStx : kSoh);
  Emit(number_);
  Emit(static_cast<std::uint8_t>(~number_));
  for (std::uint8_t b : block) Emit(b);
  if (crc_) {
    const std::uint16_t crc = Crc16(block.data(), block.size());
    Emit(static_cast<std::uint8_t>(crc >> 8));
    Emit(static_cast<std::uint8_t>(crc & 0xFF));
  } else {
    std::uint8_t sum = 0;
    for (std::uint8_t b : block) sum = static_cast<std::uint8_t>(sum + b);
    Emit(sum);
  }
  state_ = State::kWaitAck;
  lastSent_ = now;
}

void XmodemSender::Emit(std::uint8_t byte) {
  ++blockBytes_;
  if (faults_.dropEvery != 0 && blockBytes_ % faults_.dropEvery == 0) return;
  if (faults_.corruptEvery != 0 && blockBytes_ % faults_.corruptEvery == 0) byte ^= 0xFF;
  out_.push_back(byte);
}

void XmodemSender::Retry(std::uint32_t now, const char* why) {
  if (++retries_ > kMaxRetries) {
    out_.push_back(kCan);
    out_.push_back(kCan);
    Abort("too many retries");
    return;
  }
  log_(std::string(why) + ", resending " +
       (state_ == State::kWaitEotAck ? std::string("EOT") : "block " + std::to_string(acked_ + 1)));
  if (state_ == State::kWaitEotAck) {
    out_.push_back(kEot);
    lastSent_ = now;
  } else {
    SendCurrent(now);
  }
}

}  // namespace brelin::sim
