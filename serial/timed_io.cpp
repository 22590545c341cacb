#include "serial/timed_io.h"

#ifndef _WIN32  // Windows drivers have no descriptor: the hook only pauses
#include <poll.h>
#endif

#include <string>

#include "serial/clock.h"

namespace brelin::serial {
namespace {

constexpr int kPollSliceMs = 10;
constexpr unsigned kDrainChunk = 64;

IdleHookFn idleHook = PollIdle;
std::uint64_t reads = 0;  // reads made by the waits below, for PollIdle

int ReadChar(Port& port) {
  reads++;
  return port.ReadChar();
}

void ReadBuffer(Port& port, void* buffer, unsigned n) {
  reads++;
  port.ReadBuffer(buffer, n);
}

bool Expired(std::uint32_t start, int timeout) {
  return timeout != kNoTimeLimit && TimedOut(start, timeout, TickCount());
}

}  // namespace

IdleHookFn IdleHook() {
  return idleHook;
}

void SetIdleHook(IdleHookFn hook) {
  idleHook = hook != nullptr ? hook : PollIdle;
}

int CallIdleHook(Port& port) {
  return idleHook(port);
}

int PollIdle(Port& port) {
  // poll() reports input that nobody reads (IdleWait) or a dead line at once, again and again.
  // When it did so last time and no wait of this file has read since, the slice is slept instead.
  static const Port* lastPort = nullptr;
  static std::uint64_t lastReads = 0;
  static bool lastReady = false;

  int fd = PortDescriptor(port);
  bool again = lastReady && &port == lastPort && reads == lastReads;
  lastPort = &port;
  lastReads = reads;
  lastReady = false;
  if (fd < 0 || again) {
    Pause(kPollSliceMs);
    return 0;
  }
#ifndef _WIN32
  pollfd p{fd, POLLIN, 0};
  lastReady = poll(&p, 1, kPollSliceMs) > 0;  // EINTR only ends this slice early
#endif
  return 0;
}

int ReadCharTimed(Port& port, int timeout) {
  std::uint32_t start = TickCount();
  if (port.RxUsed() != 0) return ReadChar(port);
  for (;;) {
    if (int hook = CallIdleHook(port); hook < 0) {
      port.status = hook;
      return hook;
    }
    if (Expired(start, timeout)) return kNothingReceived;
    if (port.RxUsed() != 0) return ReadChar(port);
  }
}

int ReadLine(Port& port, char* buffer, unsigned capacity, int terminator, int timeout) {
  std::uint32_t start = TickCount();
  if (buffer == nullptr || capacity < 2 || terminator > 255 || terminator < kCrLf) {
    port.status = kInvalidArgument;
    return kInvalidArgument;
  }
  const bool crLfEnds = terminator == kNoTerminator || terminator == kCrLf;
  unsigned stored = 0;
  bool crHeld = false;
  auto finish = [&](int result) {
    buffer[stored] = '\0';
    port.count = stored;
    return result;
  };
  auto store = [&](char c) {
    if (stored >= capacity - 1) return false;
    buffer[stored++] = c;
    return true;
  };
  auto overflow = [&] {
    port.status = kLineTooLong;
    return finish(kLineTooLong);
  };

  for (;;) {
    int c = ReadChar(port);
    if (c == kNothingReceived) {
      if (Expired(start, timeout)) {
        if (crHeld && !crLfEnds && !store('\r')) return overflow();
        return finish(kNothingReceived);
      }
      if (int hook = CallIdleHook(port); hook < 0) return finish(hook);
      continue;
    }
    if (c < 0) {
      port.status = c;
      return finish(c);
    }
    if (c == '\n' && crHeld && crLfEnds) return finish(port.status);
    if (crHeld) {
      if (!store('\r')) return overflow();
      crHeld = false;
    }
    if (c == terminator) return finish(port.status);
    if (c == '\r') {
      crHeld = true;
    } else if (!store(static_cast<char>(c))) {
      return overflow();
    }
  }
}

int WriteString(Port& port, const char* text, int terminator) {
  port.count = 0;
  if (text == nullptr || terminator < kCrLf || terminator > 255) {
    port.status = kInvalidArgument;
    return kInvalidArgument;
  }
  // One write: a driver that answers with the room left must not take the text and then refuse
  // its terminator alone. A failure left in the status word still sends the text without one.
  std::string line(text);
  if (port.status >= 0 && terminator >= 0) line += static_cast<char>(terminator);
  if (port.status >= 0 && terminator == kCrLf) line += "\r\n";
  port.WriteBuffer(line.data(), static_cast<unsigned>(line.size()));
  return port.status;
}

int ReadBlock(Port& port, void* buffer, unsigned n, int timeout) {
  port.count = 0;
  if (n == 0) return kOk;  // nothing to wait for
  unsigned total = 0;
  std::uint32_t start = TickCount();
  auto* bytes = static_cast<unsigned char*>(buffer);
  for (;;) {
    while (port.RxUsed() == 0) {
      if (Expired(start, timeout)) return kNothingReceived;
      if (int hook = CallIdleHook(port); hook < 0) return hook;
    }
    port.count = 0;  // a failing read leaves it alone; only what was read may count
    ReadBuffer(port, bytes + total, n - total);
    unsigned got = port.count;
    total += got;
    port.count = total;
    if (total >= n) return kOk;
    if (port.status < 0) return port.status;
    if (got == 0) {  // queue reported but nothing delivered: still keep to the deadline
      if (Expired(start, timeout)) return kNothingReceived;
      if (int hook = CallIdleHook(port); hook < 0) return hook;
    }
  }
}

int DrainInput(Port& port) {
  unsigned char scratch[kDrainChunk];
  for (;;) {
    int result = port.ReadBuffer(scratch, kDrainChunk);
    if (result < 0 && result != kNothingReceived) return result;
    if (port.count == 0) return kOk;
  }
}

int IdleWait(Port& port, int milliseconds) {
  std::uint32_t start = TickCount();
  if (milliseconds <= 0) return kOk;
  while (!TimedOut(start, milliseconds, TickCount())) {
    if (int hook = CallIdleHook(port); hook < 0) return hook;
  }
  return kOk;
}

}  // namespace brelin::serial
