#pragma once

// XMODEM receive over a serial::Port: 128-byte (SOH) and 1024-byte (STX) blocks, CRC-16 or 8-bit
// checksum, stored whole in a local file. XferReceive is the entry point; the steps below it are
// public so tests can drive them one at a time.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

#include "serial/port.h"

namespace brelin::xfer {

// Results of a transfer (XferSession::status); 0 = no failure.
inline constexpr int kXferNoBuffer = -601;          // block buffer could not be allocated
inline constexpr int kXferOpenFailed = -602;        // local file could not be opened
inline constexpr int kXferRequestFailed = -603;     // NAK or "C" could not be sent
inline constexpr int kXferAckFailed = -604;         // ACK could not be sent
inline constexpr int kXferUserAbort = -605;         // set by a pass callback
inline constexpr int kXferCancelled = -606;         // sender sent CAN CAN
inline constexpr int kXferWriteFailed = -607;       // writing a block to the file failed
inline constexpr int kXferNoHeader = -608;          // ten failed header waits
inline constexpr int kXferTooManyRetries = -610;    // ten failed block attempts
inline constexpr int kXferBadHeader = -611;         // header other than SOH, STX, EOT
inline constexpr int kXferSendBufferFailed = -612;  // byte block not sent (error or 60 s busy)
inline constexpr int kXferSendCharFailed = -615;    // character not sent, or IdleHook failed
inline constexpr int kXferCarrierLost = -618;       // carrier dropped with the carrier watch on

// Option list tags (each list ends with kOptEnd).
inline constexpr std::int32_t kOptEnd = 0;
inline constexpr std::int32_t kOptAccepted = 1001;      // no effect
inline constexpr std::int32_t kOptCarrierWatch = 1006;  // abort when carrier detect drops
inline constexpr std::int32_t kOpt1007 = 1007;          // takes a value; stored only
inline constexpr std::int32_t kOptChecksum = 1008;      // checksum blocks from the start
inline constexpr std::int32_t kOpt1027 = 1027;          // takes a value; stored only

// Line control characters.
inline constexpr int kSoh = 0x01;
inline constexpr int kStx = 0x02;
inline constexpr int kEot = 0x04;
inline constexpr int kAck = 0x06;
inline constexpr int kNak = 0x15;
inline constexpr int kCan = 0x18;
inline constexpr int kCrcRequest = 'C';

inline constexpr int kXferBufferSize = 1024;

struct XferSession;

using MessageSink = std::function<void(const char* text)>;
using PassCallback = std::function<void(XferSession& session)>;

// The state of one receive run; owned by XferReceive for the length of the call.
struct XferSession {
  XferSession() = default;
  XferSession(const XferSession&) = delete;
  XferSession& operator=(const XferSession&) = delete;
  ~XferSession();  // closes a file still open (a run always closes it itself)

  const char* localName = nullptr;
  std::int32_t blockNumber = 1;   // expected next; compared modulo 256
  std::int32_t bytesStored = -1;  // -1 until the file is open
  std::int32_t modTime = -1;      // local seconds since 1970 to stamp on close; -1 none
  MessageSink messageSink;
  PassCallback passCallback;
  std::unique_ptr<std::uint8_t[]> buffer;  // kXferBufferSize bytes while a run is active
  std::FILE* file = nullptr;
  serial::Port* port = nullptr;
  std::int32_t option1007 = 27;
  std::int32_t filesReceived = 0;
  std::int32_t status = 0;
  std::int32_t blockLength = -1;
  std::int32_t checkValue = 0;
  std::int32_t receivedBlock = -1;
  std::int32_t carrierWatch = 0;
  std::int32_t errorCount = 0;  // every error of the run
  std::int32_t retryCount = 0;  // errors since the last stored block
  std::int32_t option1027 = 0;
  std::int8_t protocol = 0;
  std::int32_t header = -1;  // last character taken by the header wait
  std::uint8_t useCrc = 1;
};

// Opens the local file; returns the handle or null. Default: StdFileOpen.
using FileOpenHookFn = std::FILE* (*)(XferSession& session, const char* name, const char* mode);
// Returns 0 to go on, or the status to end the run with. Default: CarrierLostHook.
using AbortHookFn = int (*)(XferSession& session);

FileOpenHookFn FileOpenHook();
void SetFileOpenHook(FileOpenHookFn hook);  // nullptr restores StdFileOpen
AbortHookFn AbortHook();
void SetAbortHook(AbortHookFn hook);  // nullptr restores CarrierLostHook

std::FILE* StdFileOpen(XferSession& session, const char* name, const char* mode);
// kXferCarrierLost when the carrier watch is on and the Port shows no carrier, else 0.
int CarrierLostHook(XferSession& session);

// Receives one file into localName. options: tags ending with kOptEnd (null = empty list).
// Returns 1 after a complete file; -7 (serial::kInvalidArgument) for an unknown tag, before
// anything is opened or sent; otherwise the failing XferStatus, or serial::kNoDevice when the line
// dropped. A failed run leaves the file in place with the blocks stored so far.
int XferReceive(serial::Port& port, const char* localName, MessageSink sink, PassCallback cb,
                const std::int32_t* options);

// --- Steps of a run. Each bool step returns false when the attempt or the run failed (the reason
// in session.status, 0 when only the attempt failed).

// Resets the counters and allocates the buffer. false: kXferNoBuffer or an abort (closed out).
bool XferInit(XferSession& s);
// Creates the local file. false: kXferOpenFailed or an abort (closed out).
bool XferOpenFile(XferSession& s);
// true when the run must stop now: a user abort (-605), an AbortHook result or kXferCarrierLost.
bool XferAbortCheck(XferSession& s);
// Formats into 84 bytes (longer texts are cut) and hands the text to the sink; nothing without one.
void XferMessage(XferSession& s, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The whole run after the options are read; outcome in s.status and s.filesReceived.
void XferRun(XferSession& s);
// One block or EOT into s.buffer / s.header. false: the run failed (-606, -608, -610, -611, -603,
// -604, an abort, serial::kNoDevice).
bool ReceiveBlock(XferSession& s);
// Waits for SOH, STX or EOT. false with status 0: a failed attempt (request sent).
bool WaitHeader(XferSession& s);
bool SendRequest(XferSession& s);  // NAK, or "C" for block 1 in CRC mode; false: -603
bool SendAck(XferSession& s);      // false: -604
bool PurgeLine(XferSession& s);    // discards input until 1000 ms quiet; false only on an abort

std::uint16_t Crc16Xmodem(std::size_t count, std::uint16_t start, const std::uint8_t* bytes);

// Sends one character within 30 s: 0, or the Port's code (status -615, or serial::kNoDevice), the
// IdleHook's code (-615) or the status after an abort.
int XferSendChar(XferSession& s, int c);
// Sends n bytes within 60 s: 0, or a negative code as XferSendChar, with -612 for the Port's
// failures.
int XferSendBuffer(XferSession& s, const void* data, unsigned n);
// Close-out: closes the file; after a failure sends the cancel sequence, waits 1000 ms and drains.
void XferFinish(XferSession& s);
// Flushes and closes the file, stamping modTime when it is not -1.
void XferCloseFile(XferSession& s);

}  // namespace brelin::xfer
