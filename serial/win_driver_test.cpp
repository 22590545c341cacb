// The Windows driver against a real COM port: under Wine, COM1 is a pseudo-terminal whose far end
// (serial/testing/pty_peer) echoes what it receives. scripts/wine-tests.sh starts a fresh peer for
// every test; tests named HangUp* get a peer that goes away after the first byte.
#include "serial/win_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "serial/clock.h"
#include "serial/discovery.h"
#include "serial/timed_io.h"
#include "serial/win_sys.h"

namespace brelin::serial {
namespace {

constexpr int kCom1 = 0;
constexpr int kMissingCom = 199;  // COM200
constexpr int kGenerous = 5000;   // ms; only reached when something is broken

// Wine cannot refuse a second open or report modem lines; the runner says when it is the host.
bool UnderWine() {
  const char* value = std::getenv("BRELIN_UNDER_WINE");
  return value != nullptr && std::string(value) == "1";
}

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
  Port* OpenCom1() {
    Port* port = OpenPort(kCom1, 9600, 'N', 8, 1);
    EXPECT_EQ(port->driverKind, kWindowsDriverKind);
    return port;
  }
  // Polls until n bytes are queued or the time is up; the bytes stay queued.
  static bool WaitQueued(Port& port, int n) {
    std::uint32_t start = TickCount();
    while (port.RxUsed() < n) {
      if (TimedOut(start, kGenerous, TickCount())) return false;
      CallIdleHook(port);
    }
    return port.RxUsed() == n;
  }
  static std::string DumpLine(Port& port, size_t index) { return DumpLines(port).at(index); }
};

TEST_F(ComPortTest, FreshPortHasTheDefaultSettingsAndTenDumpLines) {
  Port* port = OpenCom1();
  ASSERT_EQ(port->status, kOk);
  EXPECT_EQ(port->portNumber, 0);
  std::vector<std::string> lines = DumpLines(*port);
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "Port type:  MS Windows  DCB BaudRate: 9600    ByteSize: 8  Parity: 0");
  EXPECT_EQ(lines[2], "StopBits: 0 fBinary: 1  fRtsControl: 1");
  EXPECT_EQ(lines[3].substr(0, 54), "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1")
      << "XON/XOFF keep what the device had";
  EXPECT_EQ(lines[4], "Null: 0  DtrControl: 1  RtsControl: 1  XonChar: 11  XoffChar: 13");
  EXPECT_EQ(lines[5], "XonLim: 262   XoffLim: 262   EofChr: 00  EvtChr: 00");
  EXPECT_EQ(lines[6],
            "RX count/free:     0/1050   TX count/free:     0/1050   BREAK/FE/OE/PE: 0000");
  EXPECT_EQ(lines[7], "CE_BREAK:0  CE_FRAME:0  CE_MODE:0 CE_OVERRUN:0");
  EXPECT_EQ(lines[8].substr(0, lines[8].size() - 4),
            "CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:0  CTS/DSR/RI/CD: ");
  EXPECT_EQ(lines[9], "8250:0000");
  EXPECT_EQ(port->status, kOk) << "a dump leaves the status word alone";
  EXPECT_EQ(port->LineStatus(), 0);
  EXPECT_EQ(port->Close(), kOk);
  EXPECT_EQ(PortListHead(), nullptr);
}

TEST_F(ComPortTest, SetLineChecksBaudParityAndStopBitsInThatOrder) {
  Port* port = OpenCom1();
  ASSERT_EQ(port->status, kOk);
  EXPECT_EQ(port->SetLine(115200, 'N', 8, 1), kOk);
  EXPECT_EQ(DumpLine(*port, 1),
            "Port type:  MS Windows  DCB BaudRate: 115200  ByteSize: 8  Parity: 0");

  EXPECT_EQ(port->SetLine(115201, 'N', 8, 1), kBadBaudRate);
  EXPECT_EQ(port->status, kBadBaudRate);
  port->ClearError();

  EXPECT_EQ(port->SetLine(9600, 'e', 7, 2), kOk);
  EXPECT_EQ(DumpLine(*port, 1),
            "Port type:  MS Windows  DCB BaudRate: 9600    ByteSize: 7  Parity: 2");
  EXPECT_EQ(DumpLine(*port, 2), "StopBits: 2 fBinary: 1  fRtsControl: 1");

  // A rejected letter keeps the fields set before it (and the old parity); they reach the device
  // with the next change.
  EXPECT_EQ(port->SetLine(19200, 'X', 8, 1), kBadParity);
  EXPECT_EQ(port->status, kBadParity);
  EXPECT_EQ(DumpLine(*port, 1),
            "Port type:  MS Windows  DCB BaudRate: 19200   ByteSize: 8  Parity: 2");
  port->ClearError();
  for (int stopBits : {0, 3}) {
    EXPECT_EQ(port->SetLine(9600, 'M', 8, stopBits), kBadStopBits);
    EXPECT_EQ(port->status, kBadStopBits);
  }
  EXPECT_EQ(DumpLine(*port, 1),
            "Port type:  MS Windows  DCB BaudRate: 9600    ByteSize: 8  Parity: 3");
  port->ClearError();

  // Data bits are the device's to judge.
  EXPECT_LT(port->SetLine(9600, 'N', 9, 1), 0);
  EXPECT_LT(port->status, 0);
}

TEST_F(ComPortTest, LineControlChangesTheSettingsCopy) {
  Port* port = OpenCom1();
  ASSERT_EQ(port->status, kOk);
  auto flowLine = [&] { return DumpLine(*port, 3); };
  auto controlLine = [&] { return DumpLine(*port, 4).substr(0, 37); };

  EXPECT_EQ(port->UseRtsCts(0), kOk);
  EXPECT_EQ(controlLine(), "Null: 0  DtrControl: 1  RtsControl: 0");
  EXPECT_EQ(port->SetRts(1), kOk);
  EXPECT_EQ(controlLine(), "Null: 0  DtrControl: 1  RtsControl: 1");
  EXPECT_EQ(port->UseDtrDsr(0), kOk);
  EXPECT_EQ(controlLine(), "Null: 0  DtrControl: 0  RtsControl: 1");
  EXPECT_EQ(port->SetDtr(1), kOk);
  EXPECT_EQ(controlLine(), "Null: 0  DtrControl: 1  RtsControl: 1");

  EXPECT_EQ(port->UseXonXoff(1), kOk);
  EXPECT_EQ(port->UseRtsCts(1), kOk);
  EXPECT_EQ(flowLine(), "Parity: 0  OutCtsFlow: 1  OutDsrFlow: 0  DtrControl: 1  OutX: 1  InX: 1");
  EXPECT_EQ(port->status, kOk);
}

TEST_F(ComPortTest, ReadsTakeWhatIsQueuedAndNeverWait) {
  Port* port = OpenCom1();
  ASSERT_EQ(port->status, kOk);
  char buffer[8] = {};
  EXPECT_EQ(port->ReadBuffer(buffer, 5), kNothingReceived);
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(port->ReadChar(), kNothingReceived);
  EXPECT_EQ(port->status, kOk) << "nothing received is not a failure";

  EXPECT_EQ(port->WriteBuffer("abc", 3), kOk);
  EXPECT_EQ(port->count, 3u);
  ASSERT_TRUE(WaitQueued(*port, 3));
  EXPECT_EQ(port->RxFree(), 1047);
  EXPECT_EQ(port->ReadBuffer(buffer, 5), kOk);
  EXPECT_EQ(port->count, 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(port->RxUsed(), 0);

  // Only the low byte of a character is sent; a NUL comes back as 0.
  EXPECT_EQ(port->WriteChar(0x141), kOk);
  EXPECT_EQ(ReadCharTimed(*port, kGenerous), 0x41);
  EXPECT_EQ(port->WriteChar(0), kOk);
  EXPECT_EQ(ReadCharTimed(*port, kGenerous), 0);
  EXPECT_EQ(port->status, kOk);
}

TEST_F(ComPortTest, WriteQueuesOnlyWhatTheTransmitQueueHasRoomFor) {
  Port* port = OpenCom1();
  ASSERT_EQ(port->status, kOk);
  EXPECT_EQ(port->TxFree(), 1050);
  EXPECT_EQ(port->TxUsed(), 0);
  std::string block(2000, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('A' + i % 26);

  EXPECT_EQ(port->WriteBuffer(block.data(), 2000), kTxQueueFull);
  EXPECT_EQ(port->count, 1050u);
  EXPECT_EQ(port->status, kTxQueueFull);

  // Exactly the bytes that fitted went out: the echo holds them and then the marker.
  port->ClearError();
  std::string echoed(1050, '\0');
  ASSERT_EQ(ReadBlock(*port, echoed.data(), 1050, kGenerous), kOk);
  EXPECT_EQ(echoed, block.substr(0, 1050));
  EXPECT_EQ(port->WriteChar('#'), kOk);
  EXPECT_EQ(ReadCharTimed(*port, kGenerous), '#');
  EXPECT_EQ(port->WriteBuffer(block.data(), 0), kOk);
  EXPECT_EQ(port->ClearTx(), kOk);
  EXPECT_EQ(port->status, kOk);
}

TEST_F(ComPortTest, BreakModemAndLineStatus) {
  static std::uint32_t now = 0;
  SetTickSource([] { return now; });
  SetIdleHook([](Port&) {
    now += 10;
    return 0;
  });
  Port* port = OpenCom1();
  ASSERT_EQ(port->status, kOk);
  std::uint32_t before = now;
  EXPECT_EQ(port->SendBreak(250), kOk);
  EXPECT_GE(now - before, 250u) << "the break is held through the idle hook";

  EXPECT_EQ(port->LineStatus(), 0);
  EXPECT_EQ(port->ClearLineStatus(), kOk);
  EXPECT_EQ(port->status, kOk);
  int modem = port->ModemStatus();
  if (UnderWine()) {
    EXPECT_EQ(modem, kNotSupported) << "a pseudo-terminal has no modem lines";
    EXPECT_EQ(CarrierDetect(*port), kNotSupported);
  } else {
    EXPECT_GE(modem, 0);
    EXPECT_EQ(modem & ~0xF0, 0);
  }
}

TEST_F(ComPortTest, ClosedPortCanBeOpenedAgainAndASecondOpenIsRefused) {
  Port* port = OpenCom1();
  ASSERT_EQ(port->status, kOk);
  Port* second = OpenCom1();
  if (!UnderWine()) {
    EXPECT_EQ(second->status, kPortInUse);
    EXPECT_EQ(second->ReadChar(), kNotSupported);
  }
  EXPECT_EQ(second->Close(), kOk);
  EXPECT_EQ(port->Close(), kOk);
  Port* again = OpenCom1();
  EXPECT_EQ(again->status, kOk);
  EXPECT_EQ(again->Close(), kOk);
  EXPECT_EQ(PortListHead(), nullptr);
  if (UnderWine()) GTEST_SKIP() << "Wine lets a COM port be opened twice";
}

TEST_F(ComPortTest, MissingPortsAreReportedAndAnswerNotSupported) {
  for (int index : {kMissingCom, 300}) {
    Port* port = OpenPort(index, 9600, 'N', 8, 1);
    EXPECT_EQ(port->status, kNoDevice) << index;
    EXPECT_EQ(port->driverData, nullptr);
    EXPECT_EQ(port->ReadChar(), kNotSupported);
    EXPECT_EQ(port->status, kNotSupported);
    EXPECT_EQ(port->Close(), kOk);
  }
  EXPECT_EQ(PortListHead(), nullptr);
}

TEST(PlatformCheckTest, OnlyWin32sIsRefusedAndGetsAnUnopenedPort) {
  EXPECT_EQ(CheckPlatformVersion(0x80281403u), kNotSupported);  // top bit and major 3
  EXPECT_EQ(CheckPlatformVersion(0x80000004u), kOk);            // Windows 95: top bit, major 4
  EXPECT_EQ(CheckPlatformVersion(0x00000003u), kOk);            // Windows NT 3.x

  SetVersionSource([]() -> std::uint32_t { return 0x80000a03u; });
  Port* port = OpenPort(kCom1, 9600, 'N', 8, 1);
  SetVersionSource(nullptr);
  EXPECT_EQ(port->status, kNotSupported);
  EXPECT_EQ(port->driverData, nullptr);
  EXPECT_EQ(port->WriteChar('x'), kNotSupported);
  EXPECT_EQ(port->Close(), kOk);
  EXPECT_EQ(PortListHead(), nullptr);
}

TEST(MapSystemErrorTest, TranslatesWin32Errors) {
  EXPECT_EQ(MapSystemError(ERROR_FILE_NOT_FOUND), kNoDevice);
  EXPECT_EQ(MapSystemError(ERROR_ACCESS_DENIED), kPortInUse);
  EXPECT_EQ(MapSystemError(ERROR_INVALID_PARAMETER), kPlatformFailure);
  EXPECT_EQ(MapSystemError(-12), kBadBaudRate);  // the 16-bit interface's codes keep their meaning
}

TEST(ComDiscoveryTest, PortsAreCom1To256IndexedByNumber) {
  EXPECT_EQ(ResolvePort("com12"), 11);
  EXPECT_EQ(ResolvePort("\\\\.\\COM256"), 255);
  EXPECT_EQ(ResolvePort("7"), 7);
  for (const char* bad : {"COM0", "COM257", "256", "-1", "", "COM1x", "/dev/ttyS0"}) {
    EXPECT_EQ(ResolvePort(bad), -1) << bad;
  }

  SetPortTable({{"COM3", "", "third"}, {"COM1", "", "first"}, {"LPT1", "", "not a COM port"}});
  const std::vector<PortEntry>& table = PortTable();
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].description, "first");
  EXPECT_EQ(table[1].path, "") << "COM2 is absent";
  EXPECT_EQ(table[2].description, "third");

  // The runner maps COM1 to the pseudo-terminal.
  std::vector<PortEntry> found = DiscoverPorts();
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0].path, "COM1");
  EXPECT_EQ(found[0].byId, "\\\\.\\COM1");
}

// What a pseudo-terminal under Wine never does, made by fakes around the real calls.
struct Fakes {
  DWORD outQueued = 0;            // cbOutQue to report
  DWORD errorsOnce = 0;           // error bits the next ClearCommError adds
  DWORD modemBits = 0;            // modem lines to report
  bool writeLeftPending = false;  // the real write is done, but reported as still in progress
  bool readLeftPending = false;   // the same for reads
  DWORD clearCommFailure = 0;     // ClearCommError fails with this error
  DWORD readFailure = 0;          // ReadFile fails at once with this error
  const void* writtenFrom = nullptr;
  OVERLAPPED* readRecord = nullptr;
  OVERLAPPED* writeRecord = nullptr;
  int writeResults = 0;  // GetOverlappedResult calls on the write record
  std::vector<std::string> calls;
};
Fakes fakes;

BOOL WINAPI FakeClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT stat) {
  if (fakes.clearCommFailure != 0) {
    SetLastError(fakes.clearCommFailure);
    return FALSE;
  }
  BOOL ok = RealWinCalls().ClearCommError(h, errors, stat);
  *errors |= std::exchange(fakes.errorsOnce, 0);
  stat->cbOutQue = fakes.outQueued;
  return ok;
}
BOOL WINAPI FakeWriteFile(HANDLE h, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED o) {
  fakes.writtenFrom = data;
  fakes.writeRecord = o;
  BOOL ok = RealWinCalls().WriteFile(h, data, n, written, o);
  if (!ok || !fakes.writeLeftPending) return ok;
  *written = 0;
  SetLastError(ERROR_IO_PENDING);
  return FALSE;
}
BOOL WINAPI FakeReadFile(HANDLE h, LPVOID buffer, DWORD n, LPDWORD got, LPOVERLAPPED o) {
  fakes.readRecord = o;
  DWORD failure = fakes.readFailure;
  if (failure == 0) {
    BOOL ok = RealWinCalls().ReadFile(h, buffer, n, got, o);
    if (!ok || !fakes.readLeftPending) return ok;
    failure = ERROR_IO_PENDING;
  }
  *got = 0;
  SetLastError(failure);
  return FALSE;
}
BOOL WINAPI FakeGetOverlappedResult(HANDLE h, LPOVERLAPPED o, LPDWORD n, BOOL wait) {
  if (o == fakes.writeRecord) ++fakes.writeResults;
  return RealWinCalls().GetOverlappedResult(h, o, n, wait);
}
BOOL WINAPI FakeGetCommModemStatus(HANDLE, LPDWORD bits) {
  *bits = fakes.modemBits;
  return TRUE;
}
BOOL WINAPI FakeEscapeCommFunction(HANDLE h, DWORD function) {
  fakes.calls.push_back(function == CLRDTR ? "CLRDTR" : function == CLRRTS ? "CLRRTS" : "other");
  RealWinCalls().EscapeCommFunction(h, function);
  return TRUE;
}
BOOL WINAPI FailingCloseHandle(HANDLE h) {
  fakes.calls.push_back("CloseHandle");
  RealWinCalls().CloseHandle(h);
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
HANDLE WINAPI RecordingCreateFileA(LPCSTR name, DWORD access, DWORD share,
                                   LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                   HANDLE templateFile) {
  fakes.calls.push_back(std::string(name) + " share " + std::to_string(share) +
                        ((flags & FILE_FLAG_OVERLAPPED) ? " overlapped" : ""));
  return RealWinCalls().CreateFileA(name, access, share, security, disposition, flags,
                                    templateFile);
}

class FakedComPortTest : public ComPortTest {
 protected:
  void SetUp() override {
    fakes = Fakes{};
    WinCalls& calls = WinSys();
    calls.ClearCommError = FakeClearCommError;
    calls.WriteFile = FakeWriteFile;
    calls.ReadFile = FakeReadFile;
    calls.GetOverlappedResult = FakeGetOverlappedResult;
    calls.GetCommModemStatus = FakeGetCommModemStatus;
    calls.EscapeCommFunction = FakeEscapeCommFunction;
    calls.CreateFileA = RecordingCreateFileA;
    port_ = OpenCom1();
    ASSERT_EQ(port_->status, kOk);
  }
  void TearDown() override {
    ComPortTest::TearDown();
    WinSys() = RealWinCalls();
  }
  Port* port_ = nullptr;
};

TEST_F(FakedComPortTest, RoomIsWhatTheTransmitQueueLeaves) {
  std::string block(100, 'r');
  fakes.outQueued = 1000;
  EXPECT_EQ(port_->TxUsed(), 1000);
  EXPECT_EQ(port_->TxFree(), 50);
  EXPECT_EQ(port_->WriteBuffer(block.data(), 100), kTxQueueFull);
  EXPECT_EQ(port_->count, 50u);
  std::string echoed(50, '\0');
  port_->ClearError();
  EXPECT_EQ(ReadBlock(*port_, echoed.data(), 50, kGenerous), kOk);

  fakes.outQueued = 2000;  // more than was asked for: no room, not 4 GB of it
  EXPECT_EQ(port_->TxFree(), 0);
  EXPECT_EQ(port_->WriteBuffer(block.data(), 10), kTxQueueFull);
  EXPECT_EQ(port_->count, 0u);
}

TEST_F(FakedComPortTest, PendingWriteCountsAsWrittenPendingReadIsWaitedFor) {
  fakes.writeLeftPending = true;
  char text[] = "abc";
  EXPECT_EQ(port_->WriteBuffer(text, 3), kOk);
  EXPECT_EQ(port_->count, 3u);
  EXPECT_NE(fakes.writtenFrom, static_cast<const void*>(text)) << "the device reads a copy";
  EXPECT_EQ(fakes.writeResults, 0) << "a write in flight is not waited for";
  EXPECT_EQ(port_->WriteChar('d'), kOk);
  EXPECT_EQ(fakes.writeResults, 1) << "finished before the record and copy are reused";
  fakes.readLeftPending = true;
  char echoed[5] = {};
  EXPECT_EQ(ReadBlock(*port_, echoed, 4, kGenerous), kOk);
  EXPECT_STREQ(echoed, "abcd");
  ASSERT_NE(fakes.readRecord, nullptr);
  EXPECT_NE(fakes.readRecord, fakes.writeRecord);
  EXPECT_NE(fakes.readRecord->hEvent, fakes.writeRecord->hEvent);
}

TEST_F(FakedComPortTest, LineErrorsAndModemLinesShowUntilCleared) {
  fakes.errorsOnce = CE_OVERRUN | CE_RXOVER | CE_BREAK;
  fakes.modemBits = 0xB0;
  EXPECT_EQ(port_->LineStatus(), 0x12);
  EXPECT_EQ(port_->LineStatus(), 0x12) << "kept after the device has forgotten them";
  std::vector<std::string> lines = DumpLines(*port_);
  EXPECT_EQ(lines[6].substr(lines[6].size() - 4), "1010");
  EXPECT_EQ(lines[7], "CE_BREAK:1  CE_FRAME:0  CE_MODE:0 CE_OVERRUN:1");
  EXPECT_EQ(lines[8], "CE_RXOVER:1 CE_RXPARITY:0 CE_TXFULL:0  CTS/DSR/RI/CD: 1101");
  EXPECT_EQ(port_->ModemStatus(), 0xB0);
  EXPECT_EQ(CarrierDetect(*port_), 0x80);
  fakes.modemBits = 0x30;
  EXPECT_EQ(CarrierDetect(*port_), 0);
  EXPECT_EQ(port_->ClearLineStatus(), kOk);
  EXPECT_EQ(port_->LineStatus(), 0);
}

TEST_F(FakedComPortTest, DeviceFailuresAreReportedNotTakenForData) {
  EXPECT_EQ(port_->WriteChar('x'), kOk);
  ASSERT_TRUE(WaitQueued(*port_, 1));
  fakes.readFailure = ERROR_ACCESS_DENIED;  // a read that never started has no result to take
  EXPECT_EQ(port_->ReadChar(), kPortInUse);
  EXPECT_EQ(port_->count, 0u);
  EXPECT_EQ(port_->status, kPortInUse);

  port_->ClearError();
  fakes.clearCommFailure = ERROR_GEN_FAILURE;  // an adapter that was pulled
  EXPECT_EQ(port_->RxUsed(), kPlatformFailure);
  char byte = 0;
  EXPECT_EQ(port_->ReadBuffer(&byte, 1), kPlatformFailure);
  EXPECT_EQ(port_->WriteChar('y'), kPlatformFailure);
  EXPECT_EQ(port_->count, 0u);
}

TEST_F(FakedComPortTest, OpenNamesTheDeviceAndCloseDropsTheLinesFirst) {
  CloseAllPorts();
  fakes.calls.clear();
  Port* missing = OpenPort(5, 9600, 'N', 8, 1);
  EXPECT_EQ(missing->status, kNoDevice);
  missing->Close();
  Port* port = OpenCom1();
  ASSERT_EQ(port->status, kOk);
  WinSys().CloseHandle = FailingCloseHandle;
  EXPECT_EQ(port->Close(), kPlatformFailure);
  EXPECT_EQ(PortListHead(), nullptr) << "released all the same";
  EXPECT_EQ(fakes.calls, (std::vector<std::string>{"\\\\.\\COM6 share 0 overlapped",
                                                   "\\\\.\\COM1 share 0 overlapped", "CLRDTR",
                                                   "CLRRTS", "CloseHandle"}));
}

TEST_F(ComPortTest, HangUpEndsTheWaitWithAFailure) {
  Port* port = OpenCom1();
  ASSERT_EQ(port->status, kOk);
  EXPECT_EQ(port->WriteChar('x'), kOk);  // the peer goes away on the first byte
  std::uint32_t start = TickCount();
  int result = ReadCharTimed(*port, kGenerous);
  EXPECT_LT(result, 0);
  EXPECT_NE(result, kNothingReceived) << "a line that is gone is not a quiet line: " << result;
  EXPECT_FALSE(TimedOut(start, kGenerous, TickCount()));
}

}  // namespace
}  // namespace brelin::serial
