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
  }
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
    EXPECT_EQ(port->WriteChar('x'), kNotSupported);
    EXPECT_EQ(port->Close(), kOk);
  }
  EXPECT_EQ(PortListHead(), nullptr);
}

TEST(MapSystemErrorTest, TranslatesWin32Errors) {
  const std::pair<int, int> cases[] = {{ERROR_FILE_NOT_FOUND, kNoDevice},
                                       {ERROR_ACCESS_DENIED, kPortInUse},
                                       {ERROR_INVALID_PARAMETER, kPlatformFailure},
                                       {-12, kBadBaudRate}};  // our own codes keep their meaning
  for (auto [error, status] : cases) EXPECT_EQ(MapSystemError(error), status) << error;
}

// What a pseudo-terminal under Wine never does, made by fakes around the real calls.
struct Fakes {
  DWORD outQueued = 0, errorsOnce = 0, modemBits = 0;
  bool writeLeftPending = false;  // the real write is done, but reported as still in progress
  const void* writtenFrom = nullptr;
  OVERLAPPED* writeRecord = nullptr;
  int writeResults = 0;  // GetOverlappedResult calls on the write record
  std::vector<std::string> calls;
} fakes;

class FakedComPortTest : public ComPortTest {
 protected:
  void SetUp() override {
    fakes = Fakes{};
    WinCalls& calls = WinSys();
    calls.ClearCommError = [](HANDLE h, LPDWORD errors, LPCOMSTAT stat) {
      BOOL ok = RealWinCalls().ClearCommError(h, errors, stat);
      *errors |= std::exchange(fakes.errorsOnce, 0);
      stat->cbOutQue = fakes.outQueued;
      return ok;
    };
    calls.WriteFile = [](HANDLE h, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED o) {
      fakes.writtenFrom = data;
      fakes.writeRecord = o;
      BOOL ok = RealWinCalls().WriteFile(h, data, n, written, o);
      if (!ok || !fakes.writeLeftPending) return ok;
      *written = 0;
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    };
    calls.GetOverlappedResult = [](HANDLE h, LPOVERLAPPED o, LPDWORD n, BOOL wait) {
      if (o == fakes.writeRecord) ++fakes.writeResults;
      return RealWinCalls().GetOverlappedResult(h, o, n, wait);
    };
    calls.GetCommModemStatus = [](HANDLE, LPDWORD bits) -> BOOL {
      *bits = fakes.modemBits;
      return TRUE;
    };
    calls.EscapeCommFunction = [](HANDLE h, DWORD function) {
      fakes.calls.push_back(function == CLRDTR ? "CLRDTR" : function == CLRRTS ? "CLRRTS" : "?");
      return RealWinCalls().EscapeCommFunction(h, function);
    };
    calls.CreateFileA = [](LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE templateFile) {
      fakes.calls.push_back(std::string(name) + " share " + std::to_string(share));
      return RealWinCalls().CreateFileA(name, access, share, security, disposition, flags,
                                        templateFile);
    };
  }
  void TearDown() override {
    ComPortTest::TearDown();
    WinSys() = RealWinCalls();
  }
};

TEST_F(FakedComPortTest, RoomIsWhatTheTransmitQueueLeaves) {
  Port* port = OpenCom1();
  std::string block(100, 'r');
  fakes.outQueued = 1000;
  EXPECT_EQ(port->WriteBuffer(block.data(), 100), kTxQueueFull);
  EXPECT_EQ(port->count, 50u);
  port->ClearError();
  fakes.outQueued = 2000;  // more than was asked for: no room, not 4 GB of it
  EXPECT_EQ(port->TxFree(), 0);
  EXPECT_EQ(port->WriteBuffer(block.data(), 10), kTxQueueFull);
  EXPECT_EQ(port->count, 0u);
}

TEST_F(FakedComPortTest, PendingWriteCountsAsWrittenAndIsFinishedBeforeTheNext) {
  Port* port = OpenCom1();
  fakes.writeLeftPending = true;
  char text[] = "abc";
  EXPECT_EQ(port->WriteBuffer(text, 3), kOk);
  EXPECT_EQ(port->count, 3u);
  EXPECT_NE(fakes.writtenFrom, static_cast<const void*>(text)) << "the device reads a copy";
  EXPECT_EQ(fakes.writeResults, 0) << "a write in flight is not waited for";
  EXPECT_EQ(port->WriteChar('d'), kOk);
  EXPECT_EQ(fakes.writeResults, 1) << "finished before the record and copy are reused";
  char echoed[5] = {};
  EXPECT_EQ(ReadBlock(*port, echoed, 4, kGenerous), kOk);
  EXPECT_STREQ(echoed, "abcd");
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
}

TEST_F(FakedComPortTest, OpenNamesTheDeviceAndCloseDropsTheLinesFirst) {
  Port* missing = OpenPort(5, 9600, 'N', 8, 1);
  EXPECT_EQ(missing->status, kNoDevice);
  missing->Close();
  Port* port = OpenCom1();
  WinSys().CloseHandle = [](HANDLE h) -> BOOL {
    fakes.calls.push_back("CloseHandle");
    RealWinCalls().CloseHandle(h);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  };
  EXPECT_EQ(port->Close(), kPlatformFailure);
  EXPECT_EQ(PortListHead(), nullptr) << "released all the same";
  EXPECT_EQ(fakes.calls, (std::vector<std::string>{"\\\\.\\COM6 share 0", "\\\\.\\COM1 share 0",
                                                   "CLRDTR", "CLRRTS", "CloseHandle"}));
}

TEST_F(ComPortTest, HangUpEndsTheWaitWithAFailure) {
  Port* port = OpenCom1();
  EXPECT_EQ(port->WriteChar('x'), kOk);  // the peer goes away on the first byte
  std::uint32_t start = TickCount();
  int result = ReadCharTimed(*port, kGenerous);
  EXPECT_LT(result, 0);
  EXPECT_NE(result, kNothingReceived) << "a line that is gone is not a quiet line: " << result;
  EXPECT_FALSE(TimedOut(start, kGenerous, TickCount()));
}

}  // namespace
}  // namespace brelin::serial
