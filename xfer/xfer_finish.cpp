// The sending side of a transfer run and its close-out.

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "serial/clock.h"
#include "serial/timed_io.h"
#include "xfer/xfer_internal.h"

namespace brelin::xfer {

namespace {

constexpr std::uint8_t kBackspace = 0x08;

// Tells the sender that the run failed: ten CAN, then ten backspaces to erase them from a terminal.
constexpr std::uint8_t kCancelSequence[20] = {
    kCan,       kCan,       kCan,       kCan,       kCan,       kCan,       kCan,
    kCan,       kCan,       kCan,       kBackspace, kBackspace, kBackspace, kBackspace,
    kBackspace, kBackspace, kBackspace, kBackspace, kBackspace, kBackspace};

// Flushes the file's data from the system's cache to the disk. A device that cannot be synced
// (a character device, say) has nothing to lose in a crash.
bool SyncToDisk(std::FILE* file) {
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return ::fsync(::fileno(file)) == 0 || errno == EINVAL || errno == EROFS;
#endif
}

bool Busy(int result) {
  return result == serial::kTxQueueFull || result == serial::kTxBusy;
}

std::int32_t MsLeft(std::uint32_t deadline) {
  return static_cast<std::int32_t>(deadline - serial::TickCount());
}

// The countdown shows whole seconds left, from one step below the limit.
int FirstMark(std::uint32_t limitMs) {
  return static_cast<int>(limitMs / 1000) - kCountdownStepS;
}

}  // namespace

int XferSendChar(XferSession& s, int c) {
  serial::Port& port = *s.port;
  const std::int32_t saved = port.status;
  const std::uint32_t deadline = serial::TickCount() + kSendCharLimitMs;
  int mark = FirstMark(kSendCharLimitMs);
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
      mark -= kCountdownStepS;
    }
    result = port.WriteChar(c);
  }
  return 0;
}

int XferSendBuffer(XferSession& s, const void* data, unsigned n) {
  serial::Port& port = *s.port;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  int mark = FirstMark(kSendBufferLimitMs);
  const std::uint32_t deadline = serial::TickCount() + kSendBufferLimitMs;
  const std::int32_t saved = port.status;
  unsigned total = 0;
  for (;;) {
    const int result = port.WriteBuffer(bytes + total, n - total);
    total += std::min(port.count, n - total);
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
      mark -= kCountdownStepS;
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
      serial::IdleWait(*s.port, kCancelSettleMs);
      // RxUsed may be negative on a failed line; ReadChar failing ends the drain as well.
      while (s.port->RxUsed() > 0 && s.port->ReadChar() >= 0) {
      }
    }
  }
  s.buffer.reset();
}

void XferCloseFile(XferSession& s) {
  if (!s.file) return;
  // A complete file is made durable before anyone relies on it; a failed run's file is only
  // kept for salvage.
  errno = 0;
  bool written = std::fflush(s.file) == 0 && (s.status != 0 || SyncToDisk(s.file));
  int error = errno;
  if (std::fclose(s.file) != 0 && written) {
    written = false;
    error = errno;
  }
  s.file = nullptr;
  if (!written && s.status == 0) {
    s.status = kXferWriteFailed;
    s.fileError = error != 0 ? error : EIO;
    XferMessage(s, "Failed to write file");
  }
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
