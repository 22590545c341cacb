#pragma once

// XMODEM receive over a serial::Port: 128-byte (SOH) and 1024-byte (STX) blocks, CRC-16 or 8-bit
// checksum, stored whole in a local file. XferReceive is the entry point; the hooks let a caller
// open the file its own way and end a run early. The receiver's own state and steps are in
// xfer_internal.h.

#include <cstdint>
#include <cstdio>
#include <functional>

#include "serial/port.h"

namespace brelin::xfer {

// Results of a transfer; 0 = no failure.
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

// What the hooks and the pass callback see of the run that calls them. The receiver keeps these
// up to date; a pass callback ends the run by setting status to kXferUserAbort and changes
// nothing else.
struct XferView {
  serial::Port* port = nullptr;   // the line the run receives on
  std::int32_t carrierWatch = 0;  // 1 with kOptCarrierWatch
  std::int32_t blockNumber = 1;   // the block expected next; compared modulo 256
  std::int32_t bytesStored = -1;  // -1 until the file is open
  std::int32_t errorCount = 0;    // every error of the run so far (damage, timeouts, repeats)
  std::int32_t status = 0;        // the failure that ends the run; 0 while it goes on
  std::int32_t fileError = 0;     // errno of the file operation behind kXferOpenFailed or
                                  // kXferWriteFailed; 0 when none failed
};

using MessageSink = std::function<void(const char* text)>;
// Called at every abort check: before each block, and regularly while the run waits.
using PassCallback = std::function<void(XferView& run)>;

// Opens the local file; returns the handle or null. Default: StdFileOpen.
using FileOpenHookFn = std::FILE* (*)(const XferView& run, const char* name, const char* mode);
// Returns 0 to go on, or the status to end the run with (a positive value ends it as
// kXferUserAbort). Default: CarrierLostHook.
using AbortHookFn = int (*)(const XferView& run);

FileOpenHookFn FileOpenHook();
void SetFileOpenHook(FileOpenHookFn hook);  // nullptr restores StdFileOpen
AbortHookFn AbortHook();
void SetAbortHook(AbortHookFn hook);  // nullptr restores CarrierLostHook

// std::fopen(name, mode).
std::FILE* StdFileOpen(const XferView& run, const char* name, const char* mode);
// kXferCarrierLost when the carrier watch is on and the Port shows no carrier, else 0.
int CarrierLostHook(const XferView& run);

// Receives one file into localName. options: tags ending with kOptEnd (null = empty list).
// Returns 1 after a complete file, flushed to disk and closed; serial::kInvalidArgument for an
// unknown tag, before anything is opened or sent; otherwise the failing kXfer code
// (kXferWriteFailed also when the file could not be flushed or closed), or serial::kNoDevice when
// the line dropped. A failed run leaves the file in place with the blocks stored so far. When
// `outcome` is given it receives the run's last view (bytesStored, status, fileError).
int XferReceive(serial::Port& port, const char* localName, MessageSink sink, PassCallback cb,
                const std::int32_t* options, XferView* outcome = nullptr);

}  // namespace brelin::xfer
