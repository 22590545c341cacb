#include "serial/win_driver.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial/driver.h"
#include "serial/timed_io.h"
#include "serial/win_sys.h"

namespace brelin::serial {
namespace {

constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;
constexpr std::uint32_t kReportedLineErrors = 0x1E;  // overrun, parity, framing, break
// How long Close lets the writes still in flight finish before cancelling them: 1050 bytes at
// 9600 baud take about 1.1 s.
constexpr DWORD kCloseWriteGraceMs = 2000;
// Writes that may be in flight at once. A line held by CTS or XOFF keeps them all; then the
// transmit queue is full as far as callers are concerned.
constexpr int kWriteSlots = 16;
constexpr DWORD kTxRing = kDefaultOutQueueSize;

// One write handed to the device: its record (with its own event) and its slice of the copy ring.
struct WriteSlot {
  OVERLAPPED overlapped;
  DWORD length;
};

// The wait for input behind ArrivalEvent.
enum class Arrival {
  kOff,      // not armed yet
  kWaiting,  // WaitCommEvent in flight
  kFired,    // it ended; handed out once more, armed again at the next request
  kRefused,  // the device refused the wait or the event mask: no event for this Port
};

struct WindowsPortData {
  std::int32_t inQueueSize;
  std::uint32_t outQueueSize;
  DCB dcb;                  // the driver's copy; every change is made here, then applied
  std::uint32_t errorBits;  // every ClearCommError error word since ClearLineStatus, ORed
  std::uint32_t savedMask;
  std::uint32_t uartWord;  // never set by this driver; shown by Dump
  HANDLE handle;
  COMMTIMEOUTS savedTimeouts;
  // Every record has its own event: a write left in flight must not satisfy the wait of a read
  // that follows it.
  OVERLAPPED readOverlapped;
  // Writes in flight, oldest first: writes[(firstWrite + i) % kWriteSlots] for i below
  // writesInFlight. Their bytes lie in that order round txCopy from txStart, txHeld of them: the
  // device reads them after WriteBuffer has returned, when the caller's buffer may be gone.
  WriteSlot writes[kWriteSlots];
  int firstWrite;
  int writesInFlight;
  DWORD txStart;
  DWORD txHeld;
  unsigned char txCopy[kTxRing];
  OVERLAPPED arrivalOverlapped;
  DWORD arrivalMask;  // what WaitCommEvent reports
  Arrival arrival;
};

VersionSource versionSource = nullptr;

const WinCalls kReal{
    .CreateFileA = ::CreateFileA,
    .CloseHandle = ::CloseHandle,
    .CreateEventA = ::CreateEventA,
    .ClearCommError = ::ClearCommError,
    .ReadFile = ::ReadFile,
    .WriteFile = ::WriteFile,
    .GetOverlappedResult = ::GetOverlappedResult,
    .GetCommState = ::GetCommState,
    .SetCommState = ::SetCommState,
    .SetCommTimeouts = ::SetCommTimeouts,
    .PurgeComm = ::PurgeComm,
    .GetCommModemStatus = ::GetCommModemStatus,
    .EscapeCommFunction = ::EscapeCommFunction,
    .SetCommMask = ::SetCommMask,
    .WaitCommEvent = ::WaitCommEvent,
    .SetCommBreak = ::SetCommBreak,
    .ClearCommBreak = ::ClearCommBreak,
    .CancelIo = ::CancelIo,
    .WaitForMultipleObjects = ::WaitForMultipleObjects,
};
WinCalls sys = kReal;

WindowsPortData& Data(Port& port) {
  return *static_cast<WindowsPortData*>(port.driverData);
}

int Fail(Port& port, int code) {
  port.status = code;
  return code;
}

int LastError() {
  return MapSystemError(static_cast<int>(GetLastError()));
}

// A failed open keeps the system's error code for OpenFailureText.
int FailOpen(Port& port) {
  port.systemError = static_cast<std::int32_t>(GetLastError());
  return Fail(port, MapSystemError(port.systemError));
}

// The system's own words for an error code, without the closing period and line end.
std::string SystemWords(DWORD error) {
  char text[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, text, sizeof text, nullptr);
  while (n > 0 &&
         (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' || text[n - 1] == '.')) {
    n--;
  }
  return n > 0 ? std::string(text, n) : "error " + std::to_string(error);
}

std::string ExplainOpenFailure(const Port& port) {
  const std::string where = "COM" + std::to_string(port.portNumber + 1);
  const auto error = static_cast<DWORD>(port.systemError);
  if (error == 0) return StatusOpenFailure(where, port.status);
  const char* hint = "";
  switch (error) {
    case ERROR_ACCESS_DENIED:  // what a COM port another program holds answers
      hint =
          "Another program has the port open (a terminal program, another Brelin): close it "
          "and try again.";
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      hint = kNoSuchPortHint;
      break;
  }
  return OpenFailureMessage(where, SystemWords(error), hint);
}

// ClearCommError: collects the line-error bits and fills stat. False, with the failure in the
// status word, when the device does not answer (an adapter that was pulled).
bool QueryQueues(Port& port, COMSTAT& stat) {
  WindowsPortData& d = Data(port);
  DWORD errors = 0;
  stat = COMSTAT{};
  if (!sys.ClearCommError(d.handle, &errors, &stat)) {
    Fail(port, LastError());
    return false;
  }
  d.errorBits |= errors;
  return true;
}

// Free room below a size; a device that reports more queued than was asked for has none.
int Room(std::uint32_t size, DWORD used) {
  return used >= size ? 0 : static_cast<int>(size - used);
}

int ApplyDcb(Port& port) {
  WindowsPortData& d = Data(port);
  return sys.SetCommState(d.handle, &d.dcb) ? kOk : Fail(port, LastError());
}

// A record ready for its next operation; its event stays.
void Rearm(OVERLAPPED& overlapped) {
  HANDLE event = overlapped.hEvent;
  overlapped = OVERLAPPED{};
  overlapped.hEvent = event;
}

// True when the operation of the record has ended, well or not; never waits.
bool Ended(HANDLE handle, OVERLAPPED& overlapped) {
  DWORD n = 0;
  return sys.GetOverlappedResult(handle, &overlapped, &n, FALSE) ||
         GetLastError() != ERROR_IO_INCOMPLETE;
}

WriteSlot& OldestWrite(WindowsPortData& d) {
  return d.writes[d.firstWrite];
}

void RetireOldestWrite(WindowsPortData& d) {
  WriteSlot& w = OldestWrite(d);
  d.txStart = (d.txStart + w.length) % kTxRing;
  d.txHeld -= w.length;
  d.firstWrite = (d.firstWrite + 1) % kWriteSlots;
  d.writesInFlight--;
}

// Retires the writes the device has finished. A port sends in order, so the first one still in
// flight ends the search.
void ReapWrites(WindowsPortData& d) {
  while (d.writesInFlight > 0 && Ended(d.handle, OldestWrite(d).overlapped)) RetireOldestWrite(d);
}

// Bytes a write may take now: the room in the device's queue, in the copy ring and in the slots
// (the last free slot can only take the ring up to its end).
unsigned WriteRoom(const WindowsPortData& d, DWORD outQueued) {
  if (d.writesInFlight == kWriteSlots) return 0;
  DWORD room =
      std::min<DWORD>(static_cast<DWORD>(Room(d.outQueueSize, outQueued)), kTxRing - d.txHeld);
  if (d.writesInFlight == kWriteSlots - 1) {
    room = std::min(room, kTxRing - (d.txStart + d.txHeld) % kTxRing);
  }
  return room;
}

// Copies up to n bytes to where the ring ends (not past its end) and hands them to the device;
// the number taken, or 0 when the device refused them.
DWORD StartWrite(WindowsPortData& d, const unsigned char* bytes, DWORD n) {
  const DWORD at = (d.txStart + d.txHeld) % kTxRing;
  const DWORD length = std::min(n, kTxRing - at);
  WriteSlot& w = d.writes[(d.firstWrite + d.writesInFlight) % kWriteSlots];
  std::memcpy(d.txCopy + at, bytes, length);
  Rearm(w.overlapped);
  DWORD written = 0;
  if (!sys.WriteFile(d.handle, d.txCopy + at, length, &written, &w.overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return 0;
  }
  // Done at once or in flight: the slice is held until the record says the write has ended.
  w.length = length;
  d.txHeld += length;
  d.writesInFlight++;
  return length;
}

// Starts the wait for input; a device that refuses it gives this Port no arrival event.
void ArmArrival(WindowsPortData& d) {
  Rearm(d.arrivalOverlapped);
  if (sys.WaitCommEvent(d.handle, &d.arrivalMask, &d.arrivalOverlapped)) {
    SetEvent(d.arrivalOverlapped.hEvent);  // ended at once: the waiter must not sleep
    d.arrival = Arrival::kWaiting;
  } else {
    d.arrival = GetLastError() == ERROR_IO_PENDING ? Arrival::kWaiting : Arrival::kRefused;
  }
}

// Lets the writes in flight reach the line for a while, cancels what is left (the arrival wait
// too), and waits until the system has let go of every record and of the copy ring.
void StopIo(WindowsPortData& d) {
  ReapWrites(d);
  if (d.writesInFlight > 0) {
    HANDLE events[kWriteSlots];
    for (int i = 0; i < d.writesInFlight; ++i) {
      events[i] = d.writes[(d.firstWrite + i) % kWriteSlots].overlapped.hEvent;
    }
    sys.WaitForMultipleObjects(static_cast<DWORD>(d.writesInFlight), events, TRUE,
                               kCloseWriteGraceMs);
    ReapWrites(d);
  }
  const bool waiting = d.arrival == Arrival::kWaiting;
  if (d.writesInFlight > 0 || waiting) sys.CancelIo(d.handle);
  DWORD n = 0;
  for (; d.writesInFlight > 0; RetireOldestWrite(d)) {
    sys.GetOverlappedResult(d.handle, &OldestWrite(d).overlapped, &n, TRUE);
  }
  if (waiting) sys.GetOverlappedResult(d.handle, &d.arrivalOverlapped, &n, TRUE);
  d.arrival = Arrival::kOff;
}

int PlatformCheck() {
  return CheckPlatformVersion(versionSource != nullptr ? versionSource() : GetVersion());
}

void* NewData() {
  return AllocateZeroed(sizeof(WindowsPortData));
}

void DeleteData(void* data) {
  auto* d = static_cast<WindowsPortData*>(data);
  if (d != nullptr) {
    if (d->readOverlapped.hEvent != nullptr) sys.CloseHandle(d->readOverlapped.hEvent);
    for (WriteSlot& w : d->writes) {
      if (w.overlapped.hEvent != nullptr) sys.CloseHandle(w.overlapped.hEvent);
    }
    if (d->arrivalOverlapped.hEvent != nullptr) sys.CloseHandle(d->arrivalOverlapped.hEvent);
  }
  std::free(data);
}

int OpenDevice(Port& port, int portNumber) {
  WindowsPortData& d = Data(port);
  d.inQueueSize = kDefaultInQueueSize;
  d.outQueueSize = kDefaultOutQueueSize;
  d.errorBits = 0;

  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", portNumber + 1);
  HANDLE handle = sys.CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
  port.status = kOk;
  if (handle == INVALID_HANDLE_VALUE) return FailOpen(port);
  d.handle = handle;

  OVERLAPPED* records[kWriteSlots + 2] = {&d.readOverlapped, &d.arrivalOverlapped};
  for (int i = 0; i < kWriteSlots; ++i) records[i + 2] = &d.writes[i].overlapped;
  for (OVERLAPPED* record : records) {
    record->hEvent = sys.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (record->hEvent == nullptr) {
      FailOpen(port);
      sys.CloseHandle(handle);
      d.handle = nullptr;
      return port.status;
    }
  }

  SetupComm(handle, static_cast<DWORD>(d.inQueueSize), d.outQueueSize);
  DWORD mask = 0;
  GetCommMask(handle, &mask);
  d.savedMask = mask;
  // Only the arrival of input is waited for, and only once ArrivalEvent is asked for.
  d.arrival = sys.SetCommMask(handle, EV_RXCHAR) ? Arrival::kOff : Arrival::kRefused;

  DCB& dcb = d.dcb;
  dcb.DCBlength = sizeof(DCB);
  sys.GetCommState(handle, &dcb);
  dcb.fBinary = 1;
  // A line error must not turn every read and write into a failure until ClearCommError: the
  // errors are collected for LineStatus instead.
  dcb.fAbortOnError = 0;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fNull = 0;
  dcb.XonChar = kXon;
  dcb.XoffChar = kXoff;
  dcb.XonLim = static_cast<WORD>(d.inQueueSize / 4);
  dcb.XoffLim = static_cast<WORD>(d.inQueueSize / 4);
  dcb.EofChar = 0;
  dcb.EvtChar = 0;

  GetCommTimeouts(handle, &d.savedTimeouts);
  // Reads return at once with what is queued; writes have no time limit.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  sys.SetCommTimeouts(handle, &timeouts);
  return port.status;
}

int SetLine(Port& port, int baudRate, int parity, int dataBits, int stopBits) {
  DCB& dcb = Data(port).dcb;
  if (baudRate > kMaxBaudRate) return Fail(port, kBadBaudRate);
  dcb.BaudRate = static_cast<DWORD>(baudRate);
  dcb.ByteSize = static_cast<BYTE>(dataBits & 0xFF);  // the device judges it
  Parity letter = Parity::kNone;
  if (DecodeParity(parity, &letter) != kOk) return Fail(port, kBadParity);
  static constexpr BYTE kParity[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
  dcb.Parity = kParity[static_cast<int>(letter)];
  if (stopBits == 1) {
    dcb.StopBits = ONESTOPBIT;
  } else if (stopBits == 2) {
    dcb.StopBits = TWOSTOPBITS;
  } else {
    return Fail(port, kBadStopBits);
  }
  ApplyDcb(port);
  return port.status;
}

int UseXonXoff(Port& port, int on) {
  DCB& dcb = Data(port).dcb;
  dcb.fOutX = on != 0;
  dcb.fInX = on != 0;
  return ApplyDcb(port);
}

int UseRtsCts(Port& port, int on) {
  DCB& dcb = Data(port).dcb;
  dcb.fOutxCtsFlow = on != 0;
  dcb.fRtsControl = on != 0 ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
  return ApplyDcb(port);
}

int UseDtrDsr(Port& port, int on) {
  DCB& dcb = Data(port).dcb;
  dcb.fOutxDsrFlow = on != 0;
  dcb.fDtrControl = on != 0 ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
  return ApplyDcb(port);
}

int SetDtr(Port& port, int on) {
  WindowsPortData& d = Data(port);
  d.dcb.fDtrControl = on != 0 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  sys.SetCommState(d.handle, &d.dcb);
  return kOk;
}

int SetRts(Port& port, int on) {
  WindowsPortData& d = Data(port);
  d.dcb.fRtsControl = on != 0 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  sys.SetCommState(d.handle, &d.dcb);
  return kOk;
}

int TxFree(Port& port) {
  COMSTAT stat;
  if (!QueryQueues(port, stat)) return port.status;
  ReapWrites(Data(port));
  return static_cast<int>(WriteRoom(Data(port), stat.cbOutQue));
}

// What the device has queued, or the bytes still held in flight when it says less.
int TxUsed(Port& port) {
  COMSTAT stat;
  if (!QueryQueues(port, stat)) return port.status;
  ReapWrites(Data(port));
  return static_cast<int>(std::max(stat.cbOutQue, Data(port).txHeld));
}

int RxFree(Port& port) {
  COMSTAT stat;
  if (!QueryQueues(port, stat)) return port.status;
  return Room(static_cast<std::uint32_t>(Data(port).inQueueSize), stat.cbInQue);
}

int RxUsed(Port& port) {
  COMSTAT stat;
  if (!QueryQueues(port, stat)) return port.status;
  return static_cast<int>(stat.cbInQue);
}

// The writes in flight are ended too: their bytes are what is being discarded.
int ClearTx(Port& port) {
  return sys.PurgeComm(Data(port).handle, PURGE_TXABORT | PURGE_TXCLEAR) ? kOk
                                                                         : Fail(port, LastError());
}

// Never waits: takes what the room left allows (WriteRoom) and leaves it in flight.
int WriteBuffer(Port& port, const void* data, unsigned n) {
  WindowsPortData& d = Data(port);
  port.count = 0;
  COMSTAT stat;
  if (!QueryQueues(port, stat)) return port.status;
  ReapWrites(d);
  const unsigned k = std::min(n, WriteRoom(d, stat.cbOutQue));
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (port.count < k) {
    DWORD taken = StartWrite(d, bytes + port.count, k - port.count);
    if (taken == 0) {
      // A refusal may be a line error to clear, or a device that is gone.
      if (!QueryQueues(port, stat)) return port.status;
      break;
    }
    port.count += taken;
  }
  return port.count >= n ? kOk : Fail(port, kTxQueueFull);
}

int WriteChar(Port& port, int c) {
  unsigned char byte = static_cast<unsigned char>(c & 0xFF);
  return WriteBuffer(port, &byte, 1);
}

int ReadBuffer(Port& port, void* buffer, unsigned n) {
  WindowsPortData& d = Data(port);
  port.count = 0;
  COMSTAT stat;
  if (!QueryQueues(port, stat)) return port.status;
  if (stat.cbInQue == 0) return kNothingReceived;
  DWORD got = 0;
  BOOL done =
      sys.ReadFile(d.handle, buffer, std::min<DWORD>(stat.cbInQue, n), &got, &d.readOverlapped);
  // Only what is queued is asked for, so a read in flight ends at once.
  if (!done && GetLastError() == ERROR_IO_PENDING) {
    done = sys.GetOverlappedResult(d.handle, &d.readOverlapped, &got, TRUE);
  }
  if (done) {
    port.count = got;
    return kOk;
  }
  DWORD error = GetLastError();
  // A line error aborts reads (a device that keeps abort-on-error despite the setting) until it
  // is cleared: clear it, and the bytes are read next time.
  if (!QueryQueues(port, stat)) return port.status;
  if (error == ERROR_OPERATION_ABORTED) return kNothingReceived;
  return Fail(port, MapSystemError(static_cast<int>(error)));
}

int ReadChar(Port& port) {
  unsigned char byte = 0;
  if (int result = ReadBuffer(port, &byte, 1); result != kOk) return result;
  return port.count == 0 ? kNothingReceived : byte;
}

int Close(Port& port) {
  int result = kOk;
  if (auto* d = static_cast<WindowsPortData*>(port.driverData); d != nullptr) {
    StopIo(*d);  // the last command sent should reach the line before DTR and RTS drop
    sys.EscapeCommFunction(d->handle, CLRDTR);
    sys.EscapeCommFunction(d->handle, CLRRTS);
    if (!sys.CloseHandle(d->handle)) result = LastError();
    DeleteData(d);
    port.driverData = nullptr;
  }
  UnlinkAndRelease(port);
  return result;
}

int SendBreak(Port& port, int milliseconds) {
  HANDLE handle = Data(port).handle;
  sys.SetCommBreak(handle);
  IdleWait(port, milliseconds);  // a negative IdleHook result only shortens the break
  sys.ClearCommBreak(handle);
  return kOk;
}

// Devices without modem lines (or Wine on a pseudo-terminal) refuse the query: not supported.
// That is an answer, not a failure: the status word is left alone.
int ModemStatus(Port& port) {
  DWORD bits = 0;
  if (!sys.GetCommModemStatus(Data(port).handle, &bits)) {
    DWORD error = GetLastError();
    if (error == ERROR_NOT_SUPPORTED) return kNotSupported;
    return Fail(port, MapSystemError(static_cast<int>(error)));
  }
  return static_cast<int>(bits & 0xFF);
}

int LineStatus(Port& port) {
  COMSTAT stat;
  QueryQueues(port, stat);
  return static_cast<int>(Data(port).errorBits & kReportedLineErrors);
}

int ClearLineStatus(Port& port) {
  Data(port).errorBits = 0;
  return kOk;
}

int Dump(Port& port, const DumpSink& out) {
  WindowsPortData& d = Data(port);
  const DCB& b = d.dcb;
  const std::int32_t savedStatus = port.status;  // looking must not change the Port
  char line[160];
  auto emit = [&](auto... args) {
    std::snprintf(line, sizeof line, args...);
    out(line);
  };
  auto bit = [](std::uint32_t word, std::uint32_t mask) { return (word & mask) != 0 ? 1 : 0; };

  out("");
  emit("Port type:  MS Windows  DCB BaudRate: %-6d  ByteSize: %1d  Parity: %1d",
       static_cast<int>(b.BaudRate), b.ByteSize, b.Parity);
  emit("StopBits: %1d fBinary: %1d  fRtsControl: %1d", b.StopBits, b.fBinary, b.fRtsControl);
  emit("Parity: %1d  OutCtsFlow: %1d  OutDsrFlow: %1d  DtrControl: %1d  OutX: %1d  InX: %1d",
       b.fParity, b.fOutxCtsFlow, b.fOutxDsrFlow, b.fDtrControl, b.fOutX, b.fInX);
  emit("Null: %1d  DtrControl: %1d  RtsControl: %1d  XonChar: %02x  XoffChar: %02x", b.fNull,
       b.fDtrControl, b.fRtsControl, static_cast<unsigned char>(b.XonChar),
       static_cast<unsigned char>(b.XoffChar));
  emit("XonLim: %-5u XoffLim: %-5u EofChr: %02x  EvtChr: %02x", b.XonLim, b.XoffLim,
       static_cast<unsigned char>(b.EofChar), static_cast<unsigned char>(b.EvtChar));
  auto errors = static_cast<std::uint32_t>(LineStatus(port));
  COMSTAT stat;
  QueryQueues(port, stat);
  emit("RX count/free: %5d/%-5d  TX count/free: %5d/%-5d  BREAK/FE/OE/PE: %d%d%d%d",
       static_cast<int>(stat.cbInQue), d.inQueueSize - static_cast<int>(stat.cbInQue),
       static_cast<int>(stat.cbOutQue),
       static_cast<int>(d.outQueueSize) - static_cast<int>(stat.cbOutQue), bit(errors, 0x10),
       bit(errors, 0x08), bit(errors, 0x02), bit(errors, 0x04));
  emit("CE_BREAK:%d  CE_FRAME:%d  CE_MODE:%d CE_OVERRUN:%d", bit(d.errorBits, CE_BREAK),
       bit(d.errorBits, CE_FRAME), bit(d.errorBits, CE_MODE), bit(d.errorBits, CE_OVERRUN));
  int modem = std::max(0, ModemStatus(port));
  auto modemBits = static_cast<std::uint32_t>(modem);
  emit("CE_RXOVER:%d CE_RXPARITY:%d CE_TXFULL:%d  CTS/DSR/RI/CD: %d%d%d%d",
       bit(d.errorBits, CE_RXOVER), bit(d.errorBits, CE_RXPARITY), bit(d.errorBits, CE_TXFULL),
       bit(modemBits, MS_CTS_ON), bit(modemBits, MS_DSR_ON), bit(modemBits, MS_RING_ON),
       bit(modemBits, MS_RLSD_ON));
  emit("8250:%04.4x", d.uartWord);
  port.status = savedStatus;
  return kOk;
}

void* ArrivalEvent(Port& port) {
  auto* d = static_cast<WindowsPortData*>(port.driverData);
  if (d == nullptr) return nullptr;
  if (d->arrival == Arrival::kWaiting && Ended(d->handle, d->arrivalOverlapped)) {
    d->arrival = Arrival::kFired;
    return d->arrivalOverlapped.hEvent;  // still signalled: the wait of this slice ends at once
  }
  if (d->arrival == Arrival::kOff || d->arrival == Arrival::kFired) ArmArrival(*d);
  return d->arrival == Arrival::kRefused ? nullptr : d->arrivalOverlapped.hEvent;
}

const Driver kWindowsDriver{
    .kind = kWindowsDriverKind,
    .PlatformCheck = PlatformCheck,
    .NewData = NewData,
    .DeleteData = DeleteData,
    .OpenDevice = OpenDevice,
    .Descriptor = nullptr,
    .ArrivalEvent = ArrivalEvent,
    .ExplainOpenFailure = ExplainOpenFailure,
    .ops =
        {
            .ReadChar = ReadChar,
            .SpareOp1 = nullptr,
            .WriteChar = WriteChar,
            .Close = Close,
            .SetLine = SetLine,
            .UseXonXoff = UseXonXoff,
            .UseRtsCts = UseRtsCts,
            .UseDtrDsr = UseDtrDsr,
            .SetDtr = SetDtr,
            .SetRts = SetRts,
            .TxFree = TxFree,
            .TxUsed = TxUsed,
            .RxFree = RxFree,
            .RxUsed = RxUsed,
            .ClearTx = ClearTx,
            .WriteBuffer = WriteBuffer,
            .ReadBuffer = ReadBuffer,
            .Dump = Dump,
            .SendBreak = SendBreak,
            .ModemStatus = ModemStatus,
            .LineStatus = LineStatus,
            .ClearLineStatus = ClearLineStatus,
            .SpareOp2 = nullptr,
            .ClearError = nullptr,
        },
};

}  // namespace

int CheckPlatformVersion(std::uint32_t versionWord) {
  constexpr std::uint32_t kWin32sHost = 0x80000000u;
  constexpr std::uint32_t kWindows3 = 3;
  bool win32s = (versionWord & kWin32sHost) != 0 && (versionWord & 0xFF) == kWindows3;
  return win32s ? kNotSupported : kOk;
}

void SetVersionSource(VersionSource source) {
  versionSource = source;
}

WinCalls& WinSys() {
  return sys;
}

const WinCalls& RealWinCalls() {
  return kReal;
}

const Driver& WindowsDriver() {
  return kWindowsDriver;
}

}  // namespace brelin::serial
