#pragma once

// The receiver's own state and steps, shared by its source files. Callers use xfer.h.

#include <cstdint>
#include <cstdio>
#include <memory>

#include "xfer/xfer.h"

namespace brelin::xfer {

inline constexpr int kXferBufferSize = 1024;  // one block of the larger size
inline constexpr int kXferMessageSize = 84;   // a message's bytes, its terminating NUL included

// Limits of the sending side.
inline constexpr std::uint32_t kSendCharLimitMs = 30000;    // a character that stays busy
inline constexpr std::uint32_t kSendBufferLimitMs = 60000;  // a byte block that stays busy
inline constexpr int kCountdownStepS = 5;     // seconds between the countdown messages of a send
inline constexpr int kCancelSettleMs = 1000;  // after the cancel sequence, before the drain

// The state of one receive run; owned by XferReceive for the length of the call. The hooks see
// its XferView part.
struct XferSession : XferView {
  XferSession() = default;
  XferSession(const XferSession&) = delete;
  XferSession& operator=(const XferSession&) = delete;
  ~XferSession();  // closes a file still open (a run always closes it itself)

  const char* localName = nullptr;
  std::int32_t modTime = -1;  // local seconds since 1970 to stamp on close; -1 none
  MessageSink messageSink;
  PassCallback passCallback;
  std::unique_ptr<std::uint8_t[]> buffer;  // kXferBufferSize bytes while a run is active
  std::FILE* file = nullptr;
  std::int32_t option1007 = 27;
  std::int32_t filesReceived = 0;
  std::int32_t blockLength = -1;
  std::int32_t checkValue = 0;
  std::int32_t receivedBlock = -1;
  std::int32_t retryCount = 0;  // errors since the last stored block
  std::int32_t option1027 = 0;
  std::int8_t protocol = 0;
  std::int32_t header = -1;  // last character taken by the header wait
  std::uint8_t useCrc = 1;
};

// --- Steps of a run. Each bool step returns false when the attempt or the run failed (the reason
// in s.status, 0 when only the attempt failed). Only XferRun runs the close-out, once.

// Resets the counters and allocates the buffer. false: kXferNoBuffer or an abort.
bool XferInit(XferSession& s);
// Creates the local file. false: kXferOpenFailed or an abort.
bool XferOpenFile(XferSession& s);
// true when the run must stop now: kXferUserAbort from the pass callback, an AbortHook result or
// kXferCarrierLost, in s.status.
bool XferAbortCheck(XferSession& s);
// Formats into kXferMessageSize bytes (longer texts are cut) and hands the text to the sink;
// nothing without one.
void XferMessage(XferSession& s, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The whole run after the options are read; outcome in s.status and s.filesReceived.
void XferRun(XferSession& s);
// One block or EOT into s.buffer / s.header. false: the run failed (kXferCancelled, kXferNoHeader,
// kXferTooManyRetries, kXferBadHeader, kXferRequestFailed, kXferAckFailed, an abort,
// serial::kNoDevice).
bool ReceiveBlock(XferSession& s);
// Waits for SOH, STX or EOT. false with status 0: a failed attempt (noise purged, request sent).
bool WaitHeader(XferSession& s);
bool SendRequest(XferSession& s);  // NAK, or "C" for block 1 in CRC mode; false: kXferRequestFailed
bool SendAck(XferSession& s);      // false: kXferAckFailed
// Discards input until the line has been quiet for a byte timeout, or for at most 10 s of input
// that never pauses (the attempt fails all the same). false on an abort or a lost line.
bool PurgeLine(XferSession& s);

// Sends one character within kSendCharLimitMs: 0, or the Port's code (status kXferSendCharFailed,
// or serial::kNoDevice), the IdleHook's code (kXferSendCharFailed) or the status after an abort.
int XferSendChar(XferSession& s, int c);
// Sends n bytes within kSendBufferLimitMs: 0, or a negative code as XferSendChar, with
// kXferSendBufferFailed for the Port's failures.
int XferSendBuffer(XferSession& s, const void* data, unsigned n);
// Close-out: closes the file; after a failure sends the cancel sequence, waits
// kCancelSettleMs and drains the line.
void XferFinish(XferSession& s);
// Flushes and closes the file, stamping modTime when it is not -1.
void XferCloseFile(XferSession& s);

}  // namespace brelin::xfer
