// The transfer request and the XMODEM block receiver.

#include <algorithm>
#include <cerrno>

#include "serial/clock.h"
#include "serial/timed_io.h"
#include "xfer/crc16.h"
#include "xfer/xfer_internal.h"

namespace brelin::xfer {

namespace {

constexpr int kByteTimeout = 1000;  // ms one byte may take; header waits and purges count in these
// Input a purge lets pass before it gives up on a line that never goes quiet.
constexpr std::int32_t kNoiseLimitMs = 10000;
constexpr int kMaxRetries = 10;
// Byte timeouts a header wait lasts before the request goes out again; shorter for block 1, which
// a sender may have missed the first request for.
constexpr int kFirstHeaderReads = 5;
constexpr int kHeaderReads = 10;
// Failed header waits for block 1 still answered with "C"; from the next one on, NAK.
constexpr int kCrcRequests = 2;
constexpr int kShortBlock = 128;  // data bytes after SOH
constexpr int kLongBlock = 1024;  // data bytes after STX

// One byte within the timeout, or a negative code. A line that has gone away (a USB adapter pulled
// out, the far end hung up) ends the run at once with serial::kNoDevice: waiting out ten header
// timeouts cannot bring it back.
int ReadByte(XferSession& s, int timeout) {
  const int c = serial::ReadCharTimed(*s.port, timeout);
  if (c >= 0) return c;
  if (c == serial::kNoDevice || s.port->status == serial::kNoDevice) {
    if (s.status == 0) {
      s.status = serial::kNoDevice;
      XferMessage(s, "Transfer aborted...");
    }
    return serial::kNoDevice;
  }
  return c;
}

void CountError(XferSession& s) {
  ++s.errorCount;
  ++s.retryCount;
}

// Asks for the block again and counts the failed attempt. The sender answers at once with the
// whole block, so nothing of the refused one may still be coming: a block read whole, or cut short
// by a read that timed out on a quiet line, is refused at once; bad block numbers purge first.
bool Refuse(XferSession& s) {
  if (s.status != 0 || !SendRequest(s)) return false;
  CountError(s);
  return true;
}

bool ReadBlockNumbers(XferSession& s) {
  const int number = ReadByte(s, kByteTimeout);
  const int complement = number < 0 ? number : ReadByte(s, kByteTimeout);
  if (number < 0 || complement < 0 || number != (~complement & 0xFF)) {
    if ((complement < 0 || PurgeLine(s)) && Refuse(s)) {
      XferMessage(s, "Bad block numbers %02x %02x", static_cast<unsigned>(number),
                  static_cast<unsigned>(complement));
    }
    return false;
  }
  s.receivedBlock = number;
  return true;
}

// Reads the data bytes, each within the byte timeout of the one before. Once a byte has come, what
// is already queued behind it is taken in one ReadBuffer call rather than one call per byte: the
// outcome is the same, at a fraction of the system calls.
bool ReadData(XferSession& s) {
  std::uint8_t* data = s.buffer.get();
  const auto length = static_cast<unsigned>(s.blockLength);
  for (unsigned got = 0; got < length;) {
    const int c = ReadByte(s, kByteTimeout);
    if (c < 0) {
      Refuse(s);
      return false;
    }
    data[got++] = static_cast<std::uint8_t>(c);
    if (got < length && s.port->ReadBuffer(data + got, length - got) == serial::kOk) {
      got += std::min(s.port->count, length - got);
    }
  }
  return true;
}

bool ReadCheck(XferSession& s) {
  const int first = ReadByte(s, kByteTimeout);
  const int second = s.useCrc && first >= 0 ? ReadByte(s, kByteTimeout) : 0;
  if (first < 0 || second < 0) {
    Refuse(s);
    return false;
  }
  s.checkValue = s.useCrc ? first * 256 + second : first;
  return true;
}

bool CheckSequence(XferSession& s) {
  if (s.receivedBlock == ((s.blockNumber - 1) & 0xFF)) {
    if (!SendAck(s)) return false;
    CountError(s);
    XferMessage(s, "Duplicate block %ld", static_cast<long>(s.blockNumber));
    return false;
  }
  if (s.receivedBlock == (s.blockNumber & 0xFF)) return true;
  if (!Refuse(s)) return false;
  XferMessage(s, "Bad block number waiting for number %ld", static_cast<long>(s.blockNumber));
  return false;
}

bool CheckData(XferSession& s) {
  const std::uint8_t* data = s.buffer.get();
  const auto length = static_cast<std::size_t>(s.blockLength);
  if (s.useCrc) {
    if (Crc16Xmodem(length, 0, data) == (s.checkValue & 0xFFFF)) return true;
  } else {
    unsigned sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum += data[i];
    if ((sum & 0xFF) == static_cast<unsigned>(s.checkValue)) return true;
  }
  if (!Refuse(s)) return false;
  XferMessage(s, s.useCrc ? "Bad CRC on block number %ld" : "Bad checksum on block number %ld",
              static_cast<long>(s.blockNumber));
  return false;
}

}  // namespace

bool SendRequest(XferSession& s) {
  const int request = (s.blockNumber >= 2 || !s.useCrc) ? kNak : kCrcRequest;
  if (XferSendChar(s, request) >= 0) return true;
  // Keep a more telling reason (an abort, the line gone) over the generic one.
  if (s.status == 0 || s.status == kXferSendCharFailed) s.status = kXferRequestFailed;
  return false;
}

bool SendAck(XferSession& s) {
  if (XferSendChar(s, kAck) >= 0) return true;
  if (s.status == 0 || s.status == kXferSendCharFailed) s.status = kXferAckFailed;
  return false;
}

bool PurgeLine(XferSession& s) {
  const std::uint32_t start = serial::TickCount();
  do {
    if (XferAbortCheck(s)) return false;
    serial::DrainInput(*s.port);
    if (ReadByte(s, kByteTimeout) < 0) return s.status == 0;
  } while (!serial::TimedOut(start, kNoiseLimitMs, serial::TickCount()));
  return true;
}

bool WaitHeader(XferSession& s) {
  int reads = s.blockNumber < 2 ? kFirstHeaderReads : kHeaderReads;
  for (;;) {
    const int c = ReadByte(s, kByteTimeout);
    if (c < 0) {
      if (s.status != 0 || XferAbortCheck(s)) return false;
      if (--reads > 0) continue;
      break;
    }
    const int previous = s.header;
    s.header = c;
    if (c == kSoh || c == kStx || c == kEot) return true;
    if (c == kCan) {
      if (previous == kCan) {
        s.status = kXferCancelled;
        return false;
      }
      break;
    }
    // Noise: let it pass before asking, as after a damaged block.
    if (!PurgeLine(s)) return false;
    break;
  }
  CountError(s);
  // A sender that ignores "C" may only know checksum blocks.
  if (s.retryCount > kCrcRequests && s.blockNumber == 1 && s.protocol <= 2) s.useCrc = 0;
  const bool asked = SendRequest(s);
  // The tenth failure ends the run as such, asked or not; an abort or a lost line says more.
  if (s.retryCount >= kMaxRetries && (asked || s.status == kXferRequestFailed)) {
    s.status = kXferNoHeader;
  }
  return false;
}

bool ReceiveBlock(XferSession& s) {
  while (s.retryCount < kMaxRetries) {
    if (XferAbortCheck(s)) return false;
    if (!WaitHeader(s)) {
      if (s.status != 0) return false;
      continue;
    }
    switch (s.header) {
      case kSoh:
        s.blockLength = kShortBlock;
        break;
      case kStx:
        s.blockLength = kLongBlock;
        break;
      case kEot:
        return true;
      default:
        s.status = kXferBadHeader;
        return false;
    }
    if (!ReadBlockNumbers(s) || !ReadData(s) || !ReadCheck(s) || !CheckSequence(s) ||
        !CheckData(s)) {
      if (s.status != 0) return false;
      continue;
    }
    XferMessage(s, "Read %d byte block %ld", static_cast<int>(s.blockLength),
                static_cast<long>(s.blockNumber));
    ++s.blockNumber;
    return true;
  }
  s.status = kXferTooManyRetries;
  return false;
}

void XferRun(XferSession& s) {
  if (!XferInit(s) || !XferOpenFile(s) || !SendRequest(s)) return XferFinish(s);
  for (;;) {
    if (!ReceiveBlock(s)) return XferFinish(s);
    if (s.header == kSoh || s.header == kStx) {
      errno = 0;
      if (std::fwrite(s.buffer.get(), static_cast<std::size_t>(s.blockLength), 1, s.file) != 1) {
        s.status = kXferWriteFailed;
        s.fileError = errno != 0 ? errno : EIO;
        return XferFinish(s);
      }
      s.bytesStored += s.blockLength;
      if (!SendAck(s)) return XferFinish(s);
      s.retryCount = 0;
    } else if (s.header == kEot) {
      SendAck(s);
      XferMessage(s, "End of file, cleaning up");
      return XferFinish(s);
    } else {
      s.status = kXferBadHeader;
      return XferFinish(s);
    }
  }
}

int XferReceive(serial::Port& port, const char* localName, MessageSink sink, PassCallback cb,
                const std::int32_t* options, XferView* outcome) {
  XferSession s;
  s.localName = localName;
  s.port = &port;
  s.messageSink = std::move(sink);
  s.passCallback = std::move(cb);
  for (const std::int32_t* tag = options; tag && *tag != kOptEnd; ++tag) {
    switch (*tag) {
      case kOptAccepted:
        break;
      case kOptCarrierWatch:
        s.carrierWatch = 1;
        break;
      case kOpt1007:
        s.option1007 = *++tag;
        break;
      case kOptChecksum:
        s.useCrc = 0;
        break;
      case kOpt1027:
        s.option1027 = *++tag;
        break;
      default:
        s.status = serial::kInvalidArgument;
        break;
    }
    if (s.status != 0) break;
  }
  if (s.status == 0) XferRun(s);
  if (outcome != nullptr) *outcome = s;
  return s.status != 0 ? s.status : s.filesReceived;
}

}  // namespace brelin::xfer
