#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "serial/port_status.h"

namespace brelin::serial {

struct Port;
struct Driver;

// Receives one line of a Dump, without a line end.
using DumpSink = std::function<void(std::string_view line)>;

// The 24 driver operations, in slot order. OpenPort fills every slot with its default ("not
// supported": status word and result -24; Close and ClearError have their own defaults) and then
// installs the driver's non-null entries. Each operation's contract is in the comment of its slot.
struct PortOps {
  int (*ReadChar)(Port&);          // next byte 0..255 without waiting; -8 when nothing is queued
  int (*SpareOp1)(Port&);          // unused
  int (*WriteChar)(Port&, int c);  // 0 queued; -9 no room
  int (*Close)(Port&);             // closes, unlinks from PortList, releases the Port
  int (*SetLine)(Port&, int baudRate, int parity, int dataBits, int stopBits);  // status word
  int (*UseXonXoff)(Port&, int on);
  int (*UseRtsCts)(Port&, int on);
  int (*UseDtrDsr)(Port&, int on);
  int (*SetDtr)(Port&, int on);
  int (*SetRts)(Port&, int on);
  int (*TxFree)(Port&);
  int (*TxUsed)(Port&);
  int (*RxFree)(Port&);
  int (*RxUsed)(Port&);
  int (*ClearTx)(Port&);
  // Queues what fits without waiting; count = bytes taken; 0 when all n were taken, else -9.
  int (*WriteBuffer)(Port&, const void* data, unsigned n);
  // Reads what is queued, at most n; count = bytes read; 0 when something was read, else -8.
  int (*ReadBuffer)(Port&, void* buffer, unsigned n);
  int (*Dump)(Port&, const DumpSink& out);
  int (*SendBreak)(Port&, int milliseconds);
  int (*ModemStatus)(Port&);  // 0x10 CTS, 0x20 DSR, 0x40 RI, 0x80 CD
  int (*LineStatus)(Port&);   // 0x02 overrun, 0x04 parity, 0x08 framing, 0x10 break
  int (*ClearLineStatus)(Port&);
  int (*SpareOp2)(Port&);     // unused
  void (*ClearError)(Port&);  // status word = 0; never replaced by a driver
};

// A serial port as the rest of the system sees it. Created by OpenPort (never null) and ended by
// its Close operation, whether or not the device opened.
struct Port {
  void* driverData = nullptr;  // the driver's private record
  Port* next = nullptr;        // PortList link
  std::int32_t portNumber = 0;
  std::int32_t status = 0;  // sticky: the code of the last recorded failure, until ClearError
  std::int32_t driverKind = 0;
  std::uint32_t count =
      0;  // bytes moved by the last ReadBuffer/WriteBuffer, chars stored by ReadLine
  PortOps ops{};
  const Driver* driver = nullptr;  // the driver whose operations are installed; null when unopened

  int ReadChar() { return ops.ReadChar(*this); }
  int WriteChar(int c) { return ops.WriteChar(*this, c); }
  int Close() { return ops.Close(*this); }
  int SetLine(int baudRate, int parity, int dataBits, int stopBits) {
    return ops.SetLine(*this, baudRate, parity, dataBits, stopBits);
  }
  int UseXonXoff(int on) { return ops.UseXonXoff(*this, on); }
  int UseRtsCts(int on) { return ops.UseRtsCts(*this, on); }
  int UseDtrDsr(int on) { return ops.UseDtrDsr(*this, on); }
  int SetDtr(int on) { return ops.SetDtr(*this, on); }
  int SetRts(int on) { return ops.SetRts(*this, on); }
  int TxFree() { return ops.TxFree(*this); }
  int TxUsed() { return ops.TxUsed(*this); }
  int RxFree() { return ops.RxFree(*this); }
  int RxUsed() { return ops.RxUsed(*this); }
  int ClearTx() { return ops.ClearTx(*this); }
  int WriteBuffer(const void* data, unsigned n) { return ops.WriteBuffer(*this, data, n); }
  int ReadBuffer(void* buffer, unsigned n) { return ops.ReadBuffer(*this, buffer, n); }
  int Dump(const DumpSink& out) { return ops.Dump(*this, out); }
  int SendBreak(int milliseconds) { return ops.SendBreak(*this, milliseconds); }
  int ModemStatus() { return ops.ModemStatus(*this); }
  int LineStatus() { return ops.LineStatus(*this); }
  int ClearLineStatus() { return ops.ClearLineStatus(*this); }
  void ClearError() { ops.ClearError(*this); }
};

// What a driver contributes to OpenPort. Null operations keep their defaults.
struct Driver {
  std::int32_t kind;               // stored in Port::driverKind
  int (*PlatformCheck)();          // 0 when the platform can be served; null = always
  void* (*NewData)();              // zero-filled private record, or null when out of memory
  void (*DeleteData)(void* data);  // releases what NewData made (used by Close paths)
  int (*OpenDevice)(Port&,
                    int portNumber);  // 0, or a negative PortStatus (also in the status word)
  // Descriptor that becomes readable when input arrives, for idle hooks that wait in poll();
  // -1 when there is none (the in-memory test driver).
  int (*Descriptor)(const Port&);
  PortOps ops;
};

inline constexpr std::int32_t kPosixDriverKind = 16;
inline constexpr std::int32_t kTestDriverKind = 17;
inline constexpr std::int32_t kWindowsDriverKind = 15;

// The driver OpenPort uses: the platform's own unless replaced (tests install the in-memory one).
const Driver& DefaultDriver();
void SetDefaultDriver(const Driver* driver);  // nullptr restores the platform driver

// Opens portNumber with the given line settings through the default driver. Never null: on failure
// the returned Port carries the reason in its status word (-14 no such port, -3 in use or denied,
// -5 out of memory, -24 platform not served) and its operations answer -24. Every Port returned is
// closed by its caller with Close().
Port* OpenPort(int portNumber, int baudRate, int parity, int dataBits, int stopBits);
Port* OpenPort(const Driver& driver, int portNumber, int baudRate, int parity, int dataBits,
               int stopBits);

// Closes every Port still open, newest first. Registered with atexit at the first initialisation.
void CloseAllPorts();

// Head of the list of open Ports (newest first); for tests and diagnostics.
Port* PortListHead();

// 0x80 when the modem status shows carrier detect, 0 when not, ModemStatus's own result when that
// is 0 or negative (a failing query is not a lost carrier).
int CarrierDetect(Port& port);

// Unlinks the Port from PortList and releases it (the FailurePort is only unlinked): the last step
// of every driver's Close, whatever failed before it.
void UnlinkAndRelease(Port& port);

// Zero-filled memory for Ports and driver records (released with std::free); null when out of
// memory. Tests replace the allocator to reach the out-of-memory paths; nullptr restores calloc.
using Allocator = void* (*)(std::size_t size);
void SetAllocator(Allocator allocator);
void* AllocateZeroed(std::size_t size);

// Translates the platform's error code (errno, or GetLastError on Windows) into a PortStatus.
int MapSystemError(int error);

// errno: ENOENT/ENODEV/ENXIO -14; EBUSY/EWOULDBLOCK/EACCES/EPERM -3; ENOMEM -5; anything else -1.
int MapPosixError(int error);

// Win32 error: file or path not found -14; access denied -3; the 16-bit open errors -1 -> -2,
// -2 -> -3, -4 -> -5, -10 -> -14, -11 -> -27, -12 -> -25; anything else -1.
int MapWindowsError(int error);

// The descriptor of an open Port for waiting in poll(), or -1.
int PortDescriptor(const Port& port);

}  // namespace brelin::serial
