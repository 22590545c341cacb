// The sending side of a transfer run and its close-out.

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "serial/clock.h"
#include "serial/timed_io.h"
#include "xfer/xfer.h"

namespace brelin::xfer {

namespace {

// Tells the sender that the run failed: ten CAN, then ten backspaces to erase them from a terminal.
constexpr std::uint8_t kCancelSequence[20] = {24, 24, 24, 24, 24, 24, 24, 24, 24, 24,
                                              8,  8,  8,  8,  8,  8,  8,  8,  8,  8};

bool Busy(int result) {
  return result == serial::kTxQueueFull || result == serial::kTxBusy;
}

std::int32_t MsLeft(std::uint32_t deadline) {
  return static_cast<std::int32_t>(deadline - serial::TickCount());
}

}  // namespace

int XferSendChar(XferSession& s, int c) {
  serial::Port& port = *s.port;
  const std::int32_t saved = port.status;
  const std::uint32_t deadline = serial::TickCount() + 30000;
  int mark = 25;
  int result = port.WriteChar(c);
  while (result != 0) {
    const std::int32_t left = MsLeft(deadline);
    if (Busy(result)) {
      if (left <= 0) {
        XferMessage(s, "Timeout error sending buffer");
        s.status = kXferSendCharFailed;
        return result;
      }
      serial::RestoreStatus(port, saved);  // a retried send leaves no error in the Port
    } else {
      XferMessage(s, "Error %d sending buffer", result);
      s.status = result == serial::kNoDevice ? serial::kNoDevice : kXferSendCharFailed;
      return result;
    }
    if (s.status != kXferUserAbort && XferAbortCheck(s)) return s.status;
    const int idle = serial::CallIdleHook(port);
    if (idle < 0) {
      s.status = kXferSendCharFailed;
      return idle;
    }
    if (left / 1000 <= mark) {
      XferMessage(s, "%d sec left to WriteChar", left / 1000);
      mark -= 5;
    }
    result = port.WriteChar(c);
  }
  return 0;
}

int XferSendBuffer(XferSession& s, const void* data, unsigned n) {
  serial::Port& port = *s.port;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  int mark = 55;
  const std::uint32_t deadline = serial::TickCount() + 60000;
  const std::int32_t saved = port.status;
  unsigned total = 0;
  for (;;) {
    const int result = port.WriteBuffer(bytes + total, n - total);
    total += std::min(port.count, n - total);
    serial::SetCount(port, total);
    const std::int32_t left = MsLeft(deadline);
    if (Busy(result)) {
      if (left <= 0) {
        XferMessage(s, "Timeout error sending buffer");
        s.status = kXferSendBufferFailed;
        return result;
      }
      serial::RestoreStatus(port, saved);
    } else if (result < 0) {
      XferMessage(s, "Error %d sending buffer", result);
      s.status = result == serial::kNoDevice ? serial::kNoDevice : kXferSendBufferFailed;
      return result;
    }
    if (total == n) return 0;
    if (s.status != kXferUserAbort && XferAbortCheck(s)) return s.status;
    const int idle = serial::CallIdleHook(port);
    if (idle < 0) {
      s.status = kXferSendCharFailed;
      return idle;
    }
    if (left / 1000 <= mark) {
      XferMessage(s, "%d sec to complete WriteBuffer", left / 1000);
      mark -= 5;
    }
  }
}

void XferFinish(XferSession& s) {
  XferCloseFile(s);
  if (s.status != 0) {
    const std::int32_t reason = s.status;
    XferSendBuffer(s, kCancelSequence, sizeof kCancelSequence);
    if (reason == serial::kNoDevice) {
      // The line is gone: keep that as the reason, and there is nothing left to wait for.
      s.status = reason;
    } else {
      serial::IdleWait(*s.port, 1000);
      // RxUsed may be negative on a failed line; ReadChar failing ends the drain as well.
      while (s.port->RxUsed() > 0 && s.port->ReadChar() >= 0) {
      }
    }
  }
  s.buffer.reset();
}

void XferCloseFile(XferSession& s) {
  if (!s.file) return;
  std::fflush(s.file);
  std::fclose(s.file);
  s.file = nullptr;
  if (s.modTime != -1) {
    // modTime counts local time: mktime reads the broken-down local time back as a moment.
    const std::time_t local = s.modTime;
    std::tm parts = *std::gmtime(&local);
    parts.tm_isdst = -1;
    const auto when = std::chrono::system_clock::from_time_t(std::mktime(&parts));
    std::error_code ignored;
    std::filesystem::last_write_time(s.localName, std::chrono::file_clock::from_sys(when), ignored);
  }
}

}  // namespace brelin::xfer
