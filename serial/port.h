#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "serial/port_status.h"

namespace brelin::serial {

struct Port;
struct Driver;

// Receives one line of a Dump, without a line end.
using DumpSink = std::function<void(std::string_view line)>;

// The 24 driver operations, in slot order. OpenPort fills every slot with its default ("not
// supported": status word and result kNotSupported; Close and ClearError have their own defaults)
// and then installs the driver's non-null entries (serial/driver.h). Each operation's contract is
// in the comment of its slot.
struct PortOps {
  int (*ReadChar)(Port&);          // next byte 0..255 without waiting, or kNothingReceived
  int (*SpareOp1)(Port&);          // unused
  int (*WriteChar)(Port&, int c);  // kOk queued; kTxQueueFull no room
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
  // Queues what fits without waiting; count = bytes taken; kOk when all n were taken, else
  // kTxQueueFull.
  int (*WriteBuffer)(Port&, const void* data, unsigned n);
  // Reads what is queued, at most n; count = bytes read; kOk when something was read, else
  // kNothingReceived.
  int (*ReadBuffer)(Port&, void* buffer, unsigned n);
  int (*Dump)(Port&, const DumpSink& out);
  int (*SendBreak)(Port&, int milliseconds);
  // 0x10 CTS, 0x20 DSR, 0x40 RI, 0x80 CD; kNotSupported, with the status word left alone, for a
  // device without modem lines.
  int (*ModemStatus)(Port&);
  int (*LineStatus)(Port&);  // 0x02 overrun, 0x04 parity, 0x08 framing, 0x10 break
  int (*ClearLineStatus)(Port&);
  int (*SpareOp2)(Port&);     // unused
  void (*ClearError)(Port&);  // status word = kOk; never replaced by a driver
};

// A serial port as the rest of the system sees it. Created by OpenPort (never null) and ended by
// its Close operation, whether or not the device opened. Only serial/ writes its fields: the other
// layers read them and change them through the operations and the functions below.
struct Port {
  void* driverData = nullptr;  // the driver's private record
  Port* next = nullptr;        // PortList link
  std::int32_t portNumber = 0;
  std::int32_t status = 0;  // sticky: the code of the last recorded failure, until ClearError
  std::int32_t driverKind = 0;
  // Bytes moved by the last ReadBuffer/WriteBuffer, characters stored by ReadLine.
  std::uint32_t count = 0;
  PortOps ops{};
  // The driver OpenPort went through; its operations are installed only when the device opened.
  // Null for the out-of-memory Port.
  const Driver* driver = nullptr;
  // The platform's own error code (errno, GetLastError) of a failed open, for OpenFailureText;
  // 0 when the open did not fail in a system call.
  std::int32_t systemError = 0;

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

// Opens portNumber with the given line settings through the default driver. Never null: on failure
// the returned Port carries the reason in its status word (kNoDevice no such port, kPortInUse in
// use or denied, kOutOfMemory, kNotSupported platform not served) and its operations answer
// kNotSupported. Every Port returned is closed by its caller with Close().
Port* OpenPort(int portNumber, int baudRate, int parity, int dataBits, int stopBits);

// For a Port whose status word is negative right after OpenPort: what the operator reads, in one
// text for every front end. Names the port (its device path, COMn on Windows), gives the system's
// reason, and on a line of its own what to do for the usual causes (no permission, another program
// holds the port, no such port, not a serial device).
std::string OpenFailureText(const Port& port);

// Closes every Port still open, newest first. Registered with atexit at the first initialisation.
void CloseAllPorts();

// Head of the list of open Ports (newest first); for tests and diagnostics.
Port* PortListHead();

// 0x80 when the modem status shows carrier detect, 0 when not, ModemStatus's own result when that
// is 0 or negative (a failing query is not a lost carrier).
int CarrierDetect(Port& port);

// The descriptor of an open Port for waiting in poll(), or -1.
int PortDescriptor(const Port& port);

// Windows: the event (a HANDLE) of an open Port that is signalled when input arrives, for waiting
// one slice in WaitForMultipleObjects; call it again for every slice. nullptr when the driver or
// device has none: then the slice is slept.
void* PortArrivalEvent(Port& port);

// Puts back a status word read before an attempt the caller retries (a full transmit queue), so
// that a retry that succeeds leaves no failure behind.
void RestoreStatus(Port& port, std::int32_t saved);

// Sets the byte count: to the total of several writes a caller reports as one, or to 0 before a
// call that leaves it alone when it fails early.
void SetCount(Port& port, std::uint32_t count);

}  // namespace brelin::serial
