// The Windows driver against a real COM port: under Wine, COM1 is a pseudo-terminal whose far end
// (serial/testing/pty_peer) echoes what it receives. scripts/wine-tests.sh starts a fresh peer for
// every test; tests named HangUp* get a peer that goes away after the first byte.
#include "serial/win_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "serial/clock.h"
#include "serial/discovery.h"
#include "serial/driver.h"
#include "serial/timed_io.h"
#include "serial/win_sys.h"

namespace brelin::serial {
namespace {

constexpr int kGenerous = 5000;  // ms; only reached when something is broken

std::vector<std::string> DumpLines(Port& port) {
  std::vector<std::string> lines;
  EXPECT_EQ(port.Dump([&](std::string_view line) { lines.emplace_back(line); }), kOk);
  return lines;
}

class ComPortTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CloseAllPorts();
    SetVersionSource(nullptr);
    SetTickSource(nullptr);
    SetIdleHook(nullptr);
  }
  static Port* OpenCom1() {
    Port* port = OpenPort(0, 9600, 'N', 8, 1);
    EXPECT_EQ(port->driverKind, kWindowsDriverKind);
    EXPECT_EQ(port->status, kOk);
    return port;
  }
};

TEST_F(ComPortTest, OpenSetsTheDefaultsAndDumpShowsTenLines) {
  Port* port = OpenCom1();
  std::vector<std::string> lines = DumpLines(*port);
  ASSERT_EQ(lines.size(), 10u);
  // Lines 3 and 8 end in what the device keeps (XON/XOFF flow) or reports (modem lines).
  lines[3].resize(54);
  lines[8].resize(lines[8].size() - 4);
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "",
                "Port type:  MS Windows  DCB BaudRate: 9600    ByteSize: 8  Parity: 0",
                "StopBits: 0 fBinary: 1  fRtsControl: 1",
                "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1",
                "Null: 0  DtrControl: 1  RtsControl: 1  XonChar: 11  XoffChar: 13",
                "XonLim: 262   XoffLim: 262   EofChr: 00  EvtChr: 00",
                "RX count/free:     0/1050   TX count/free:     0/1050   BREAK/FE/OE/PE: 0000",
                "CE_BREAK:0  CE_FRAME:0  CE_MODE:0 CE_OVERRUN:0",
                "CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:0  CTS/DSR/RI/CD: ",
                "8250:0000",
            }));
  EXPECT_EQ(port->status, kOk) << "a dump leaves the status word alone";
  EXPECT_EQ(port->Close(), kOk);
  EXPECT_EQ(PortListHead(), nullptr);
  EXPECT_EQ(OpenCom1()->Close(), kOk) << "a closed port opens again";
}

TEST_F(ComPortTest, SetLineChecksBaudParityAndStopBitsInThatOrder) {
  // A rejected value keeps the fields set before it; they reach the device with the next change.
  struct Case {
    int baud, parity, dataBits, stopBits, result;
    const char* line1;
  } cases[] = {
      {115200, 'N', 8, 1, kOk, "115200  ByteSize: 8  Parity: 0"},
      {115201, 'N', 8, 1, kBadBaudRate, "115200  ByteSize: 8  Parity: 0"},
      {9600, 'e', 7, 2, kOk, "9600    ByteSize: 7  Parity: 2"},
      {19200, 'X', 8, 1, kBadParity, "19200   ByteSize: 8  Parity: 2"},
      {9600, 'M', 8, 0, kBadStopBits, "9600    ByteSize: 8  Parity: 3"},
      {9600, 'M', 8, 3, kBadStopBits, "9600    ByteSize: 8  Parity: 3"},
  };
  Port* port = OpenCom1();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.baud);
    EXPECT_EQ(port->SetLine(c.baud, c.parity, c.dataBits, c.stopBits), c.result);
    EXPECT_EQ(port->status, c.result);
    EXPECT_EQ(DumpLines(*port)[1], std::string("Port type:  MS Windows  DCB BaudRate: ") + c.line1);
    port->ClearError();
  }
  EXPECT_EQ(DumpLines(*port)[2], "StopBits: 2 fBinary: 1  fRtsControl: 1");
  EXPECT_LT(port->SetLine(9600, 'N', 9, 1), 0) << "data bits are the device's to judge";
}

TEST_F(ComPortTest, ReadsNeverWaitAndWritesTakeWhatFits) {
  Port* port = OpenCom1();
  char buffer[8] = {};
  EXPECT_EQ(port->ReadBuffer(buffer, 5), kNothingReceived);
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(port->ReadChar(), kNothingReceived);
  EXPECT_EQ(port->status, kOk) << "nothing received is not a failure";
  EXPECT_EQ(port->WriteChar(0x141), kOk);
  EXPECT_EQ(ReadCharTimed(*port, kGenerous), 0x41) << "only the low byte is sent";

  std::string block(2000, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('A' + i % 26);
  EXPECT_EQ(port->WriteBuffer(block.data(), 2000), kTxQueueFull);
  EXPECT_EQ(port->count, 1050u);
  port->ClearError();
  std::string echoed(1050, '\0');
  ASSERT_EQ(ReadBlock(*port, echoed.data(), 1050, kGenerous), kOk);
  EXPECT_EQ(echoed, block.substr(0, 1050)) << "exactly the bytes that fitted went out";
  EXPECT_EQ(port->WriteChar(0), kOk);
  EXPECT_EQ(ReadCharTimed(*port, kGenerous), 0) << "a NUL is data, and nothing more came";
}

TEST_F(ComPortTest, BreakIsHeldInVirtualTime) {
  static std::uint32_t now = 0;
  SetTickSource([] { return now; });
  SetIdleHook([](Port&) {
    now += 10;
    return 0;
  });
  Port* port = OpenCom1();
  std::uint32_t before = now;
  EXPECT_EQ(port->SendBreak(250), kOk);
  EXPECT_GE(now - before, 250u);
  EXPECT_EQ(port->LineStatus(), 0);
  if (const char* wine = std::getenv("BRELIN_UNDER_WINE"); wine && std::string(wine) == "1") {
    EXPECT_EQ(CarrierDetect(*port), kNotSupported) << "a pseudo-terminal has no modem lines";
    EXPECT_EQ(port->status, kOk) << "which is not a failure of the Port";
  }
}

TEST_F(ComPortTest, ArrivalEventIsSignalledWhenInputArrives) {
  Port* port = OpenCom1();
  auto event = static_cast<HANDLE>(PortArrivalEvent(*port));
  if (event == nullptr) GTEST_SKIP() << "the device refuses the arrival wait";
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "nothing came";
  EXPECT_EQ(port->WriteChar('e'), kOk);  // echoed by the peer
  EXPECT_EQ(WaitForSingleObject(event, kGenerous), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(port->ReadChar(), 'e');
  EXPECT_EQ(PortArrivalEvent(*port), event);
  EXPECT_EQ(PortArrivalEvent(*port), event);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "armed again";
  EXPECT_EQ(port->WriteChar('f'), kOk);
  EXPECT_EQ(WaitForSingleObject(event, kGenerous), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(port->ReadChar(), 'f');
  EXPECT_EQ(port->Close(), kOk) << "with the wait in flight";
}

TEST_F(ComPortTest, PortsThatCannotOpenAnswerNotSupported) {
  // Only Win32s (top bit and major 3) is refused: not Windows 95 (top bit, major 4) nor NT 3.x.
  static std::uint32_t version;
  SetVersionSource([] { return version; });
  const std::int64_t cases[][3] = {{199, 0x80000004, kNoDevice},  // a missing COM200
                                   {199, 0x00000003, kNoDevice},
                                   {300, 0x00000004, kNoDevice},  // an index above 255
                                   {0, 0x80000a03, kNotSupported}};
  for (auto [index, versionWord, status] : cases) {
    SCOPED_TRACE(index);
    version = static_cast<std::uint32_t>(versionWord);
    Port* port = OpenPort(static_cast<int>(index), 9600, 'N', 8, 1);
    EXPECT_EQ(port->status, status);
    const std::string text = OpenFailureText(*port);
    if (status == kNoDevice) {
      EXPECT_TRUE(
          text.starts_with("Cannot open serial port COM" + std::to_string(index + 1) + ": "))
          << text;
      EXPECT_TRUE(text.ends_with(std::string("\n") + kNoSuchPortHint)) << text;
    } else {
      EXPECT_EQ(text,
                "Cannot open serial port COM1: serial ports are not supported on this system");
    }
    EXPECT_EQ(port->WriteChar('x'), kNotSupported);
    EXPECT_EQ(port->Close(), kOk);
  }
  EXPECT_EQ(PortListHead(), nullptr);
}

TEST(MapSystemErrorTest, TranslatesWin32Errors) {
  // Negative: the open errors of the 16-bit interface, which keep their meaning.
  const std::pair<int, int> cases[] = {{ERROR_FILE_NOT_FOUND, kNoDevice},
                                       {ERROR_PATH_NOT_FOUND, kNoDevice},
                                       {ERROR_NOT_READY, kNoDevice},
                                       {ERROR_BAD_COMMAND, kNoDevice},
                                       {ERROR_GEN_FAILURE, kNoDevice},
                                       {ERROR_DEVICE_NOT_CONNECTED, kNoDevice},
                                       {ERROR_ACCESS_DENIED, kPortInUse},
                                       {ERROR_INVALID_PARAMETER, kPlatformFailure},
                                       {-1, kInvalidPort},
                                       {-2, kPortInUse},
                                       {-4, kOutOfMemory},
                                       {-10, kNoDevice},
                                       {-11, kBadDataBits},
                                       {-12, kBadBaudRate},
                                       {-3, kPlatformFailure}};
  for (auto [error, status] : cases) EXPECT_EQ(MapSystemError(error), status) << error;
}

TEST(ComDiscoveryTest, PortsAreCom1To256IndexedByNumber) {
  // The runner maps COM1 to the pseudo-terminal; the host may add others after it.
  std::vector<PortEntry> found = DiscoverPorts();
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0].path, "COM1") << "in COM number order";
  EXPECT_EQ(found[0].byId, "\\\\.\\COM1");
  EXPECT_FALSE(found[0].description.empty()) << "the system's name of the device";
  ASSERT_FALSE(PortTable().empty()) << "filled by discovery";
  EXPECT_EQ(PortTable()[0].path, "COM1");

  const std::pair<const char*, int> texts[] = {
      {"COM1", 0},        {"com12", 11}, {"\\\\.\\COM256", 255},
      {"7", 7},           {"255", 255},  {"COM0", -1},
      {"COM257", -1},     {"256", -1},   {"-1", -1},
      {"", -1},           {"COM", -1},   {"COM1x", -1},
      {"/dev/ttyS0", -1}, {"COMx", -1},  {"\\\\.\\7", 7}};
  for (auto [text, index] : texts) EXPECT_EQ(ResolvePort(text), index) << text;
  EXPECT_EQ(AddPortPath("\\\\.\\COM5"), 4);
  const std::pair<int, const char*> paths[] = {
      {0, "\\\\.\\COM1"}, {255, "\\\\.\\COM256"}, {256, ""}, {-1, ""}};
  for (auto [index, path] : paths) EXPECT_EQ(PortPath(index), path) << index;

  SetPortTable({{"COM3", "", "third"},
                {"COM1", "", "first"},
                {"LPT1", "", "not a COM port"},
                {"COM0", "", "no such number"}});
  const std::vector<PortEntry>& table = PortTable();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].description, "first");
  EXPECT_EQ(table[1].path, "") << "COM2 is absent";
  EXPECT_EQ(table[2].description, "third");
}

// What a pseudo-terminal under Wine never does, made by fakes around the real calls, and what the
// driver asked of the device.

// A write the line holds: its bytes go out, from the driver's copy, only at ReleaseWrites.
struct HeldWrite {
  OVERLAPPED* record;
  const void* data;
  DWORD n;
  bool done = false, cancelled = false;
  bool cancelling = false;  // cancelled, but only a waiting GetOverlappedResult sees it end
};

enum class CommEvent { kReal, kPending, kAtOnce, kRefused };

struct Fakes {
  DWORD openFailure = 0;  // CreateFileA fails with this error
  DWORD outQueued = 0, errorsOnce = 0, modemBits = 0;
  int inQueued = -1;  // cbInQue to report; -1: what the device holds
  DWORD clearCommFailure = 0, readFailure = 0, writeFailure = 0;  // these calls fail so
  DWORD modemFailure = 0;        // GetCommModemStatus fails with this error
  bool holdWrites = false;       // writes stay in flight until ReleaseWrites or a cancel
  bool releaseInGrace = false;   // the held writes finish while Close waits for them
  bool readLeftPending = false;  // the real read is done, but reported as still in progress
  DWORD readEndFailure = 0;      // a read left pending ends with this error
  bool closeFails = false;
  int failingEvent = 0;  // the CreateEventA call (1-based) that fails
  int events = 0;
  int clears = 0;  // ClearCommError calls
  CommEvent commEvent = CommEvent::kReal;
  int commEvents = 0;  // WaitCommEvent calls
  OVERLAPPED* eventRecord = nullptr;
  bool eventFired = false, eventCancelled = false;
  DWORD commMask = 0xFFFFFFFF;  // the last SetCommMask
  HANDLE device = nullptr;
  std::vector<HeldWrite> held;
  const void* writtenFrom = nullptr;
  OVERLAPPED* readRecord = nullptr;
  std::string flow;  // the flow control fields of the last DCB applied
  std::string mode;  // the other fields of the last DCB applied that open sets
  DWORD purged = 0;  // PurgeComm's flags
  std::vector<std::string> calls;
  std::vector<HANDLE> made, closed;
} fakes;

std::string Flow(const DCB& d) {
  auto n = [](unsigned v) { return std::to_string(v); };
  return "CTS " + n(d.fOutxCtsFlow) + " RTS " + n(d.fRtsControl) + " DSR " + n(d.fOutxDsrFlow) +
         " DTR " + n(d.fDtrControl) + " X " + n(d.fOutX) + n(d.fInX);
}

// The latest write made on a record; records are reused once a write has ended.
HeldWrite* HeldOn(const OVERLAPPED* record) {
  for (auto w = fakes.held.rbegin(); w != fakes.held.rend(); ++w) {
    if (w->record == record) return &*w;
  }
  return nullptr;
}

bool Holding() {
  return std::any_of(fakes.held.begin(), fakes.held.end(),
                     [](const HeldWrite& w) { return !w.done && !w.cancelled; });
}

// The line takes the first `count` held writes, in order, reading what the driver's copy holds now.
void ReleaseWrites(int count = 1000) {
  for (HeldWrite& w : fakes.held) {
    if (count == 0) return;
    if (w.done || w.cancelled) continue;
    OVERLAPPED o{};
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    if (!RealWinCalls().WriteFile(fakes.device, w.data, w.n, &n, &o)) {
      RealWinCalls().GetOverlappedResult(fakes.device, &o, &n, TRUE);
    }
    CloseHandle(o.hEvent);
    EXPECT_EQ(n, w.n);
    w.done = true;
    SetEvent(w.record->hEvent);
    --count;
  }
}

// A purge ends the writes at once; CancelIo only asks, and the system ends them a little later.
void CancelHeldWrites(bool atOnce) {
  for (HeldWrite& w : fakes.held) {
    if (w.done || w.cancelled) continue;
    w.cancelled = true;
    w.cancelling = !atOnce;
    if (atOnce) SetEvent(w.record->hEvent);
  }
}

void FireArrival() {
  fakes.eventFired = true;
  SetEvent(fakes.eventRecord->hEvent);
}

class FakedComPortTest : public ComPortTest {
 protected:
  void SetUp() override {
    fakes = Fakes{};
    WinCalls& calls = WinSys();
    calls.CreateFileA = [](LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE templateFile) {
      fakes.calls.push_back(std::string(name) + " share " + std::to_string(share) +
                            ((flags & FILE_FLAG_OVERLAPPED) != 0 ? " overlapped" : ""));
      if (fakes.openFailure != 0) {
        SetLastError(fakes.openFailure);
        return INVALID_HANDLE_VALUE;
      }
      HANDLE h = RealWinCalls().CreateFileA(name, access, share, security, disposition, flags,
                                            templateFile);
      if (h != INVALID_HANDLE_VALUE) fakes.made.push_back(fakes.device = h);
      return h;
    };
    calls.CreateEventA = [](LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL initial,
                            LPCSTR name) -> HANDLE {
      if (++fakes.events == fakes.failingEvent) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
      }
      HANDLE h = RealWinCalls().CreateEventA(security, manual, initial, name);
      fakes.made.push_back(h);
      return h;
    };
    calls.CloseHandle = [](HANDLE h) -> BOOL {
      fakes.calls.push_back("CloseHandle");
      fakes.closed.push_back(h);
      BOOL ok = RealWinCalls().CloseHandle(h);
      if (!fakes.closeFails) return ok;
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    };
    calls.ClearCommError = [](HANDLE h, LPDWORD errors, LPCOMSTAT stat) -> BOOL {
      ++fakes.clears;
      if (fakes.clearCommFailure != 0) {
        SetLastError(fakes.clearCommFailure);
        return FALSE;
      }
      BOOL ok = RealWinCalls().ClearCommError(h, errors, stat);
      *errors |= std::exchange(fakes.errorsOnce, 0);
      stat->cbOutQue = fakes.outQueued;
      if (fakes.inQueued >= 0) stat->cbInQue = static_cast<DWORD>(fakes.inQueued);
      return ok;
    };
    calls.ReadFile = [](HANDLE h, LPVOID buffer, DWORD n, LPDWORD got, LPOVERLAPPED o) -> BOOL {
      fakes.readRecord = o;
      if (fakes.readFailure != 0) {
        SetLastError(fakes.readFailure);
        return FALSE;
      }
      BOOL ok = RealWinCalls().ReadFile(h, buffer, n, got, o);
      if (!ok || !fakes.readLeftPending) return ok;
      *got = 0;
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    };
    calls.WriteFile = [](HANDLE h, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED o) {
      fakes.writtenFrom = data;
      if (fakes.writeFailure != 0) {
        SetLastError(fakes.writeFailure);
        return FALSE;
      }
      std::erase_if(fakes.held, [o](const HeldWrite& w) { return w.record == o; });
      if (!fakes.holdWrites) return RealWinCalls().WriteFile(h, data, n, written, o);
      ResetEvent(o->hEvent);
      fakes.held.push_back({o, data, n});
      *written = 0;
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    };
    calls.GetOverlappedResult = [](HANDLE h, LPOVERLAPPED o, LPDWORD n, BOOL wait) -> BOOL {
      if (HeldWrite* w = HeldOn(o); w != nullptr) {
        if (w->done) {
          fakes.calls.push_back("write finished");
          *n = w->n;
          return TRUE;
        }
        if (w->cancelled && (!w->cancelling || wait)) {
          fakes.calls.push_back("write cancelled");
          SetLastError(ERROR_OPERATION_ABORTED);
          return FALSE;
        }
        if (wait) ADD_FAILURE() << "waited without limit for a write the line holds";
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
      }
      if (o == fakes.eventRecord && fakes.commEvent == CommEvent::kAtOnce) return TRUE;
      if (o == fakes.eventRecord && fakes.commEvent == CommEvent::kPending) {
        if (fakes.eventFired) return TRUE;
        if (fakes.eventCancelled && wait) {
          fakes.calls.push_back("arrival wait cancelled");
          SetLastError(ERROR_OPERATION_ABORTED);
          return FALSE;
        }
        if (wait) ADD_FAILURE() << "waited without limit for input";
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
      }
      if (o == fakes.readRecord && fakes.readLeftPending) {
        if (!wait) {
          SetLastError(ERROR_IO_INCOMPLETE);
          return FALSE;
        }
        BOOL ok = RealWinCalls().GetOverlappedResult(h, o, n, wait);
        if (fakes.readEndFailure == 0) return ok;
        SetLastError(fakes.readEndFailure);
        return FALSE;
      }
      return RealWinCalls().GetOverlappedResult(h, o, n, wait);
    };
    calls.GetCommState = [](HANDLE h, LPDCB dcb) {
      BOOL ok = RealWinCalls().GetCommState(h, dcb);
      // As a device set up by another program may be.
      dcb->fAbortOnError = dcb->fParity = dcb->fNull = 1;
      dcb->fBinary = 0;
      dcb->fOutxCtsFlow = dcb->fOutxDsrFlow = 1;
      dcb->fRtsControl = RTS_CONTROL_HANDSHAKE;
      dcb->fDtrControl = DTR_CONTROL_HANDSHAKE;
      dcb->fOutX = dcb->fInX = 0;
      return ok;
    };
    calls.SetCommState = [](HANDLE h, LPDCB dcb) {
      fakes.flow = Flow(*dcb);
      fakes.mode = "binary " + std::to_string(dcb->fBinary) + " parity " +
                   std::to_string(dcb->fParity) + " null " + std::to_string(dcb->fNull) +
                   " abort " + std::to_string(dcb->fAbortOnError);
      return RealWinCalls().SetCommState(h, dcb);
    };
    calls.SetCommTimeouts = [](HANDLE h, LPCOMMTIMEOUTS t) {
      fakes.calls.push_back("timeouts " + std::to_string(t->ReadIntervalTimeout) + " " +
                            std::to_string(t->ReadTotalTimeoutMultiplier) + " " +
                            std::to_string(t->ReadTotalTimeoutConstant) + " " +
                            std::to_string(t->WriteTotalTimeoutMultiplier) + " " +
                            std::to_string(t->WriteTotalTimeoutConstant));
      return RealWinCalls().SetCommTimeouts(h, t);
    };
    calls.PurgeComm = [](HANDLE h, DWORD flags) {
      fakes.purged = flags;
      if ((flags & PURGE_TXABORT) != 0) CancelHeldWrites(true);
      return RealWinCalls().PurgeComm(h, flags);
    };
    calls.GetCommModemStatus = [](HANDLE, LPDWORD bits) -> BOOL {
      if (fakes.modemFailure != 0) {
        SetLastError(fakes.modemFailure);
        return FALSE;
      }
      *bits = fakes.modemBits;
      return TRUE;
    };
    calls.EscapeCommFunction = [](HANDLE h, DWORD function) {
      fakes.calls.push_back(function == CLRDTR ? "CLRDTR" : function == CLRRTS ? "CLRRTS" : "?");
      return RealWinCalls().EscapeCommFunction(h, function);
    };
    calls.SetCommMask = [](HANDLE h, DWORD mask) {
      fakes.commMask = mask;
      return RealWinCalls().SetCommMask(h, mask);
    };
    calls.WaitCommEvent = [](HANDLE h, LPDWORD mask, LPOVERLAPPED o) -> BOOL {
      ++fakes.commEvents;
      fakes.eventRecord = o;
      switch (fakes.commEvent) {
        case CommEvent::kReal:
          return RealWinCalls().WaitCommEvent(h, mask, o);
        case CommEvent::kRefused:
          SetLastError(ERROR_INVALID_PARAMETER);
          return FALSE;
        case CommEvent::kAtOnce:
          ResetEvent(o->hEvent);  // left to the caller, as a call that ends at once may
          *mask = EV_RXCHAR;
          return TRUE;
        case CommEvent::kPending:
          break;
      }
      ResetEvent(o->hEvent);
      fakes.eventFired = fakes.eventCancelled = false;
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    };
    calls.SetCommBreak = [](HANDLE h) {
      fakes.calls.push_back("break set at " + std::to_string(TickCount()));
      return RealWinCalls().SetCommBreak(h);
    };
    calls.ClearCommBreak = [](HANDLE h) {
      fakes.calls.push_back("break cleared at " + std::to_string(TickCount()));
      return RealWinCalls().ClearCommBreak(h);
    };
    calls.CancelIo = [](HANDLE h) {
      fakes.calls.push_back("cancel");
      CancelHeldWrites(false);
      if (fakes.commEvent == CommEvent::kPending && fakes.eventRecord != nullptr &&
          !fakes.eventFired) {
        fakes.eventCancelled = true;
      }
      return RealWinCalls().CancelIo(h);
    };
    calls.WaitForMultipleObjects = [](DWORD count, const HANDLE* handles, BOOL all,
                                      DWORD ms) -> DWORD {
      // Names the writes in flight it was given.
      auto pending = std::count_if(handles, handles + count, [](HANDLE h) {
        return std::any_of(fakes.held.begin(), fakes.held.end(), [h](const HeldWrite& w) {
          return !w.done && !w.cancelled && w.record->hEvent == h;
        });
      });
      fakes.calls.push_back("grace " + std::to_string(ms) + " ms for " + std::to_string(pending));
      if (fakes.releaseInGrace) ReleaseWrites();
      // What the line still holds never finishes: the wait ends without the real time passing.
      return RealWinCalls().WaitForMultipleObjects(count, handles, all, Holding() ? 0 : ms);
    };
  }
  void TearDown() override {
    ComPortTest::TearDown();
    WinSys() = RealWinCalls();
  }
};

// What the operator reads when COM1 does not open: the port, the system's own words (in the
// system's language, so only their form is checked) and what to do.
TEST_F(FakedComPortTest, OpenFailuresSayWhatHappenedWhereAndWhatToDo) {
  const struct {
    DWORD error;
    int status;
    std::string hint;
  } cases[] = {
      {ERROR_ACCESS_DENIED, kPortInUse,
       "Another program has the port open (a terminal program, another Brelin): close it and try "
       "again."},
      {ERROR_FILE_NOT_FOUND, kNoDevice, kNoSuchPortHint},
      {ERROR_PATH_NOT_FOUND, kNoDevice, kNoSuchPortHint},
      {ERROR_INVALID_FUNCTION, kPlatformFailure, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    fakes.openFailure = c.error;
    Port* port = OpenPort(0, 9600, 'N', 8, 1);
    EXPECT_EQ(port->status, c.status);
    EXPECT_EQ(port->systemError, static_cast<std::int32_t>(c.error));
    const std::string text = OpenFailureText(*port);
    const std::string start = "Cannot open serial port COM1: ";
    const std::string end = c.hint.empty() ? "" : "\n" + c.hint;
    ASSERT_TRUE(text.starts_with(start) && text.ends_with(end)) << text;
    const std::string words = text.substr(start.size(), text.size() - start.size() - end.size());
    EXPECT_FALSE(words.empty());
    EXPECT_FALSE(words.starts_with("error ")) << "the system has words for " << c.error;
    EXPECT_EQ(words.find_first_of("\r\n"), std::string::npos) << words;
    EXPECT_EQ(std::string(". ").find(words.back()), std::string::npos) << words;
    EXPECT_EQ(port->Close(), kOk);
  }
  EXPECT_TRUE(fakes.made.empty()) << "nothing was opened";
}

TEST_F(FakedComPortTest, QueuesAreWhatTheDeviceReports) {
  Port* port = OpenCom1();
  fakes.outQueued = 100;
  fakes.inQueued = 1000;
  EXPECT_EQ(port->TxUsed(), 100);
  EXPECT_EQ(port->TxFree(), 950);
  EXPECT_EQ(port->RxUsed(), 1000);
  EXPECT_EQ(port->RxFree(), 50);
  fakes.outQueued = 1000;
  std::string block(100, 'r');
  EXPECT_EQ(port->WriteBuffer(block.data(), 100), kTxQueueFull);
  EXPECT_EQ(port->count, 50u);
  EXPECT_EQ(port->status, kTxQueueFull);
  port->ClearError();
  fakes.outQueued = fakes.inQueued = 2000;  // more than was asked for: no room, not 4 GB of it
  EXPECT_EQ(port->TxFree(), 0);
  EXPECT_EQ(port->RxFree(), 0);
  EXPECT_EQ(port->WriteBuffer(block.data(), 10), kTxQueueFull);
  EXPECT_EQ(port->count, 0u);
}

// A line held by CTS or XOFF keeps every write in flight: the caller is answered with the room
// that is left and never waits; the line later gets the bytes as they were when written.
TEST_F(FakedComPortTest, WritesNeverWaitForTheLine) {
  Port* port = OpenCom1();
  fakes.holdWrites = true;
  EXPECT_EQ(WriteString(*port, "UNLOCK", '\n'), kOk);
  EXPECT_EQ(WriteString(*port, "SYSTEM", '\n'), kOk) << "while the first is still held";
  EXPECT_EQ(port->TxUsed(), 14);
  EXPECT_EQ(port->TxFree(), 1036);
  std::string block(1100, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(port->WriteBuffer(block.data(), 1100), kTxQueueFull);
  EXPECT_EQ(port->count, 1036u) << "the room that was left";
  EXPECT_NE(fakes.writtenFrom, static_cast<const void*>(block.data())) << "the device reads a copy";
  const std::string sent = "UNLOCK\nSYSTEM\n" + block.substr(0, 1036);
  block.assign(block.size(), '#');  // the caller's buffer is used again at once
  port->ClearError();
  EXPECT_EQ(port->WriteChar('z'), kTxQueueFull);
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(port->TxFree(), 0);
  port->ClearError();

  ReleaseWrites();
  EXPECT_EQ(port->TxFree(), 1050) << "finished writes give their room back";
  EXPECT_EQ(port->TxUsed(), 0);
  std::string echoed(sent.size(), '\0');
  ASSERT_EQ(ReadBlock(*port, echoed.data(), static_cast<unsigned>(echoed.size()), kGenerous), kOk);
  EXPECT_EQ(echoed, sent);
  EXPECT_EQ(port->status, kOk);
}

TEST_F(FakedComPortTest, WritesInFlightKeepTheirBytesRoundTheCopyAndTheirRecords) {
  Port* port = OpenCom1();
  fakes.holdWrites = true;
  auto text = [](size_t n, char first) {
    std::string t(n, '\0');
    for (size_t i = 0; i < n; ++i) t[i] = static_cast<char>(first + i % 20);
    return t;
  };
  std::string a = text(600, 'A'), b = text(300, 'a'), c = text(400, '0');
  EXPECT_EQ(port->WriteBuffer(a.data(), 600), kOk);
  EXPECT_EQ(port->WriteBuffer(b.data(), 300), kOk);
  ReleaseWrites(1);
  EXPECT_EQ(port->TxFree(), 750);
  EXPECT_EQ(port->WriteBuffer(c.data(), 400), kOk) << "round the end of the copy";
  const std::string sent = a + b + c;
  c.assign(c.size(), '#');
  ReleaseWrites();
  std::string echoed(sent.size(), '\0');
  ASSERT_EQ(ReadBlock(*port, echoed.data(), static_cast<unsigned>(echoed.size()), kGenerous), kOk);
  EXPECT_EQ(echoed, sent) << "no write overwrote the bytes of another still in flight";

  // Single bytes each take a record of their own; when all are in flight there is no room.
  std::string bytes;
  for (char ch = 'a'; port->WriteChar(ch) == kOk; ++ch) bytes += ch;
  EXPECT_GE(bytes.size(), 8u) << "several writes may be in flight";
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(port->TxFree(), 0);
  port->ClearError();
  ReleaseWrites(1);
  EXPECT_EQ(port->WriteChar('!'), kOk) << "a finished write gives its record back";
  ReleaseWrites();
  bytes += '!';
  echoed.assign(bytes.size(), '\0');
  ASSERT_EQ(ReadBlock(*port, echoed.data(), static_cast<unsigned>(echoed.size()), kGenerous), kOk);
  EXPECT_EQ(echoed, bytes);

  // The last free record takes the copy only up to its end: with 15 writes in flight, a write that
  // would run past the end takes what fits, and no record still in flight is used again.
  const unsigned at = static_cast<unsigned>(sent.size() + bytes.size()) % kDefaultOutQueueSize;
  std::string more(
      kDefaultOutQueueSize - 20 - at + (at > kDefaultOutQueueSize - 20 ? kDefaultOutQueueSize : 0),
      '.');
  if (!more.empty()) {
    ASSERT_EQ(port->WriteBuffer(more.data(), static_cast<unsigned>(more.size())), kOk);
  }
  ReleaseWrites();
  for (char ch = 'A'; ch < 'A' + 15; ++ch) {
    ASSERT_EQ(port->WriteChar(ch), kOk);
    more += ch;
  }
  EXPECT_EQ(port->WriteBuffer("0123456789", 10), kTxQueueFull);
  EXPECT_EQ(port->count, 5u) << "up to the end of the copy";
  more += "01234";
  ReleaseWrites();
  echoed.assign(more.size(), '\0');
  ASSERT_EQ(ReadBlock(*port, echoed.data(), static_cast<unsigned>(echoed.size()), kGenerous), kOk);
  EXPECT_EQ(echoed, more);
}

// A line error aborts reads on a device that keeps abort-on-error: cleared, and read as nothing.
TEST_F(FakedComPortTest, ReadsEndedByALineErrorAreClearedAndReadAsNothing) {
  Port* port = OpenCom1();
  fakes.inQueued = 1;
  fakes.readFailure = ERROR_OPERATION_ABORTED;
  int clears = fakes.clears;
  EXPECT_EQ(port->ReadChar(), kNothingReceived);
  EXPECT_EQ(fakes.clears - clears, 2) << "cleared after the refusal, so that reads work again";
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(port->status, kOk) << "not a failure of the Port";
  fakes.readFailure = 0;
  fakes.inQueued = -1;

  // A read left in flight is waited for on its own record, then ends as the device says.
  fakes.holdWrites = true;
  EXPECT_EQ(port->WriteChar('w'), kOk);  // held: its event must not end the wait of the read
  fakes.holdWrites = false;
  fakes.readLeftPending = true;
  const struct {
    char sent;
    DWORD end;
    int result;
  } reads[] = {{'a', 0, 'a'},
               {'b', ERROR_OPERATION_ABORTED, kNothingReceived},
               {'c', ERROR_GEN_FAILURE, kNoDevice}};
  for (const auto& r : reads) {
    SCOPED_TRACE(r.sent);
    fakes.readEndFailure = r.end;
    EXPECT_EQ(port->WriteChar(r.sent), kOk);
    EXPECT_EQ(ReadCharTimed(*port, kGenerous), r.result);
    EXPECT_EQ(port->status, r.result < 0 && r.result != kNothingReceived ? r.result : kOk);
  }
  ASSERT_NE(fakes.readRecord, nullptr);
  EXPECT_NE(fakes.readRecord->hEvent, fakes.held.at(0).record->hEvent);
}

TEST_F(FakedComPortTest, DeviceFailuresAreReportedNotTakenForData) {
  Port* port = OpenCom1();
  fakes.inQueued = 1;
  fakes.readFailure = ERROR_ACCESS_DENIED;  // a read that never started has no result to take
  EXPECT_EQ(port->ReadChar(), kPortInUse);
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(port->status, kPortInUse);
  port->ClearError();
  fakes.writeFailure = ERROR_OPERATION_ABORTED;  // refused after a line error
  int clears = fakes.clears;
  EXPECT_EQ(port->WriteChar('w'), kTxQueueFull) << "nothing was taken";
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(fakes.clears - clears, 2) << "cleared, so that the next write can go";
  fakes.writeFailure = 0;
  port->ClearError();
  fakes.clearCommFailure = ERROR_GEN_FAILURE;  // an adapter that was pulled
  EXPECT_EQ(port->RxUsed(), kNoDevice);
  char byte = 0;
  EXPECT_EQ(port->ReadBuffer(&byte, 1), kNoDevice);
  EXPECT_EQ(port->WriteChar('y'), kNoDevice);
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(port->status, kNoDevice);
  fakes.clearCommFailure = ERROR_INVALID_FUNCTION;  // anything else stays a failure of its own
  port->ClearError();
  EXPECT_EQ(port->RxUsed(), kPlatformFailure);
}

TEST_F(FakedComPortTest, LineControlReachesTheDevice) {
  // RTS and DTR: 0 dropped, 1 raised, 2 handshake.
  const struct {
    const char* name;
    int (*change)(Port&);
    const char* flow;
  } steps[] = {
      {"XON/XOFF on", [](Port& p) { return p.UseXonXoff(1); }, "CTS 0 RTS 1 DSR 0 DTR 1 X 11"},
      {"RTS/CTS on", [](Port& p) { return p.UseRtsCts(1); }, "CTS 1 RTS 2 DSR 0 DTR 1 X 11"},
      {"DTR/DSR on", [](Port& p) { return p.UseDtrDsr(1); }, "CTS 1 RTS 2 DSR 1 DTR 2 X 11"},
      {"XON/XOFF off", [](Port& p) { return p.UseXonXoff(0); }, "CTS 1 RTS 2 DSR 1 DTR 2 X 00"},
      {"RTS/CTS off", [](Port& p) { return p.UseRtsCts(0); }, "CTS 0 RTS 0 DSR 1 DTR 2 X 00"},
      {"DTR/DSR off", [](Port& p) { return p.UseDtrDsr(0); }, "CTS 0 RTS 0 DSR 0 DTR 0 X 00"},
      {"RTS raised", [](Port& p) { return p.SetRts(1); }, "CTS 0 RTS 1 DSR 0 DTR 0 X 00"},
      {"DTR raised", [](Port& p) { return p.SetDtr(1); }, "CTS 0 RTS 1 DSR 0 DTR 1 X 00"},
      {"RTS dropped", [](Port& p) { return p.SetRts(0); }, "CTS 0 RTS 0 DSR 0 DTR 1 X 00"},
      {"DTR dropped", [](Port& p) { return p.SetDtr(0); }, "CTS 0 RTS 0 DSR 0 DTR 0 X 00"},
  };
  Port* port = OpenCom1();
  EXPECT_EQ(fakes.flow, "CTS 0 RTS 1 DSR 0 DTR 1 X 00") << "whatever the device had before";
  EXPECT_EQ(fakes.mode, "binary 1 parity 0 null 0 abort 0") << "and abort-on-error off";
  for (const auto& step : steps) {
    fakes.flow.clear();
    EXPECT_EQ(step.change(*port), kOk) << step.name;
    EXPECT_EQ(fakes.flow, step.flow) << step.name;
  }
  fakes.holdWrites = true;
  EXPECT_EQ(WriteString(*port, "DOWNLOAD", '\n'), kOk);
  EXPECT_EQ(port->TxFree(), 1041);
  EXPECT_EQ(port->ClearTx(), kOk);
  EXPECT_EQ(fakes.purged, static_cast<DWORD>(PURGE_TXABORT | PURGE_TXCLEAR))
      << "the receive queue is left alone";
  EXPECT_EQ(port->TxFree(), 1050) << "writes in flight are discarded too";
}

TEST_F(FakedComPortTest, BreakIsSetForItsTimeThenCleared) {
  static std::uint32_t now = 1000;
  SetTickSource([] { return now; });
  SetIdleHook([](Port&) {
    now += 10;
    return 0;
  });
  Port* port = OpenCom1();
  fakes.calls.clear();
  EXPECT_EQ(port->SendBreak(250), kOk);
  EXPECT_EQ(fakes.calls, (std::vector<std::string>{"break set at 1000", "break cleared at 1250"}));
}

TEST_F(FakedComPortTest, LineErrorsAndModemLinesShowUntilCleared) {
  Port* port = OpenCom1();
  fakes.errorsOnce = CE_OVERRUN | CE_RXOVER | CE_BREAK;
  fakes.modemBits = 0xB0;
  EXPECT_EQ(port->LineStatus(), 0x12);
  EXPECT_EQ(port->LineStatus(), 0x12) << "kept after the device has forgotten them";
  std::vector<std::string> lines = DumpLines(*port);
  EXPECT_EQ(lines[6].substr(lines[6].size() - 4), "1010");
  EXPECT_EQ(lines[7], "CE_BREAK:1  CE_FRAME:0  CE_MODE:0 CE_OVERRUN:1");
  EXPECT_EQ(lines[8], "CE_RXOVER:1 CE_RXPARITY:0 CE_TXFULL:0  CTS/DSR/RI/CD: 1101");
  EXPECT_EQ(CarrierDetect(*port), 0x80);
  fakes.modemBits = 0x30;
  EXPECT_EQ(CarrierDetect(*port), 0);
  EXPECT_EQ(port->ClearLineStatus(), kOk);
  EXPECT_EQ(port->LineStatus(), 0);

  fakes.modemFailure = ERROR_NOT_SUPPORTED;  // a device without modem lines
  EXPECT_EQ(CarrierDetect(*port), kNotSupported);
  EXPECT_EQ(port->status, kOk);
  EXPECT_EQ(WriteString(*port, "LOCK", '\n'), kOk);
  char echoed[6] = {};
  ASSERT_EQ(ReadBlock(*port, echoed, 5, kGenerous), kOk);
  EXPECT_STREQ(echoed, "LOCK\n") << "the next command keeps its line end";
  fakes.modemFailure = ERROR_GEN_FAILURE;
  EXPECT_EQ(port->ModemStatus(), kNoDevice);
  EXPECT_EQ(port->status, kNoDevice) << "a query that failed is a failure";
}

// Input wakes a waiting idle hook through an event: handed out while the wait is in flight, once
// more when it has fired, then armed again; Close ends it.
TEST_F(FakedComPortTest, ArrivalEventWakesTheIdleHookAndEndsWithClose) {
  fakes.commEvent = CommEvent::kPending;
  Port* port = OpenCom1();
  EXPECT_EQ(fakes.commMask, static_cast<DWORD>(EV_RXCHAR));
  EXPECT_EQ(fakes.commEvents, 0) << "armed only when asked for";
  auto event = static_cast<HANDLE>(PortArrivalEvent(*port));
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(fakes.commEvents, 1);
  EXPECT_EQ(PortArrivalEvent(*port), event);
  EXPECT_EQ(fakes.commEvents, 1) << "a wait in flight is not started again";
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  FireArrival();
  EXPECT_EQ(PortArrivalEvent(*port), event);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0))
      << "the wait of this slice ends at once";
  EXPECT_EQ(fakes.commEvents, 1);
  EXPECT_EQ(PortArrivalEvent(*port), event);
  EXPECT_EQ(fakes.commEvents, 2) << "armed again once it has been handed out";
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  fakes.calls.clear();
  EXPECT_EQ(port->Close(), kOk);
  ASSERT_GE(fakes.calls.size(), 2u);
  EXPECT_EQ(fakes.calls[0], "cancel");
  EXPECT_EQ(fakes.calls[1], "arrival wait cancelled") << "waited for before the record goes";

  fakes.commEvent = CommEvent::kAtOnce;  // input was there already
  port = OpenCom1();
  event = static_cast<HANDLE>(PortArrivalEvent(*port));
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(PortArrivalEvent(*port), event);
  EXPECT_EQ(fakes.commEvents, 3) << "handed out once more as fired before it is armed again";
  EXPECT_EQ(PortArrivalEvent(*port), event);
  EXPECT_EQ(fakes.commEvents, 4);
  EXPECT_EQ(port->Close(), kOk);

  fakes.commEvent = CommEvent::kRefused;
  port = OpenCom1();
  EXPECT_EQ(PortArrivalEvent(*port), nullptr) << "the timed slice instead";
  EXPECT_EQ(PortArrivalEvent(*port), nullptr);
  EXPECT_EQ(fakes.commEvents, 5) << "a refused wait is not tried again every slice";
}

TEST_F(FakedComPortTest, OpenAndCloseReleaseEveryHandle) {
  EXPECT_EQ(OpenPort(5, 9600, 'N', 8, 1)->status, kNoDevice);
  fakes.failingEvent = 2;
  EXPECT_EQ(OpenPort(0, 9600, 'N', 8, 1)->status, kPortInUse);  // what CreateEventA said
  CloseAllPorts();
  fakes.commEvent = CommEvent::kPending;
  Port* port = OpenCom1();
  ASSERT_NE(PortArrivalEvent(*port), nullptr);
  fakes.holdWrites = true;
  EXPECT_EQ(port->WriteChar('x'), kOk);
  fakes.closeFails = true;
  EXPECT_EQ(port->Close(), kPlatformFailure);
  EXPECT_EQ(PortListHead(), nullptr) << "released all the same";
  const std::string com1 = "\\\\.\\COM1 share 0 overlapped";
  std::vector<std::string> closing = fakes.calls;
  ASSERT_GT(closing.size(), 8u);
  closing.resize(8);
  EXPECT_EQ(closing, (std::vector<std::string>{
                         "\\\\.\\COM6 share 0 overlapped", com1, "CloseHandle", "CloseHandle", com1,
                         "timeouts " + std::to_string(MAXDWORD) + " 0 0 0 0",  // reads never wait
                         "grace 2000 ms for 1", "cancel"}));
  std::sort(fakes.made.begin(), fakes.made.end());
  std::sort(fakes.closed.begin(), fakes.closed.end());
  EXPECT_EQ(fakes.closed, fakes.made);
}

// The last command sent reaches the line before DTR and RTS drop; what the line still holds after
// the grace wait is cancelled, and waited for, before the records and the copy go.
TEST_F(FakedComPortTest, CloseLetsWritesFinishBeforeTheLinesDrop) {
  enum class Line { kDone, kMovesInGrace, kHeld };
  const std::vector<std::string> dropLines{"CLRDTR", "CLRRTS"};
  const struct {
    Line line;
    std::vector<std::string> closing;
  } cases[] = {
      {Line::kDone, {"write finished", "write finished"}},  // nothing left to wait for
      {Line::kMovesInGrace, {"grace 2000 ms for 2", "write finished", "write finished"}},
      {Line::kHeld, {"grace 2000 ms for 2", "cancel", "write cancelled", "write cancelled"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.line));
    fakes.held.clear();
    fakes.commEvent = CommEvent::kRefused;
    Port* port = OpenCom1();
    fakes.holdWrites = true;
    fakes.releaseInGrace = c.line == Line::kMovesInGrace;
    EXPECT_EQ(WriteString(*port, "LOCK", '\n'), kOk);
    EXPECT_EQ(port->WriteChar('x'), kOk);
    if (c.line == Line::kDone) ReleaseWrites();
    fakes.calls.clear();
    EXPECT_EQ(port->Close(), kOk);
    std::vector<std::string> expected = c.closing;
    expected.insert(expected.end(), dropLines.begin(), dropLines.end());
    ASSERT_GT(fakes.calls.size(), expected.size());
    fakes.calls.resize(expected.size());
    EXPECT_EQ(fakes.calls, expected);
  }
}

TEST_F(ComPortTest, HangUpEndsTheWaitWithAFailure) {
  Port* port = OpenCom1();
  EXPECT_EQ(port->WriteChar('x'), kOk);  // the peer goes away on the first byte
  std::uint32_t start = TickCount();
  int result = ReadCharTimed(*port, kGenerous);
  EXPECT_EQ(result, kNoDevice) << "a line that is gone is neither quiet nor a vague failure";
  port->ClearError();
  EXPECT_EQ(port->WriteChar('y'), kNoDevice);
  EXPECT_FALSE(TimedOut(start, kGenerous, TickCount()));
}

}  // namespace
}  // namespace brelin::serial
