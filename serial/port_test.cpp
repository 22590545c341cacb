#include "serial/port.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "serial/driver.h"
#include "serial/testing/test_driver.h"
#include "serial/testing/virtual_clock.h"

namespace brelin::serial {
namespace {

using testing::TestDriver;
using testing::TestLine;

// Fails the allocation with the given 1-based number, counting from installation.
int failAllocation = 0;
int allocations = 0;
void* FailingAllocator(std::size_t size) {
  return ++allocations == failAllocation ? nullptr : std::calloc(1, size);
}

int ListLength() {
  int n = 0;
  for (Port* p = PortListHead(); p != nullptr; p = p->next) n++;
  return n;
}

void ExpectEveryOperationUnsupported(Port& p) {
  char b[4];
  int i = 0;
  std::vector<int> results = {p.ReadChar(),    p.WriteChar('A'), p.SetLine(9600, 'N', 8, 1),
                              p.UseXonXoff(1), p.UseRtsCts(1),   p.UseDtrDsr(1),
                              p.SetDtr(1)};
  results.insert(results.end(), {p.SetRts(1), p.TxFree(), p.TxUsed(), p.RxFree(), p.RxUsed(),
                                 p.ClearTx(), p.WriteBuffer("x", 1)});
  results.insert(results.end(),
                 {p.ReadBuffer(b, 4), p.SendBreak(10), p.ModemStatus(), p.LineStatus(),
                  p.ClearLineStatus(), p.ops.SpareOp1(p), p.ops.SpareOp2(p)});
  for (int result : results) EXPECT_EQ(result, kNotSupported) << "operation " << i++;
  std::vector<std::string> lines;
  EXPECT_EQ(p.Dump([&](std::string_view l) { lines.emplace_back(l); }), kNotSupported);
  EXPECT_EQ(lines, (std::vector<std::string>{"Port dump not supported for this driver", ""}));
  EXPECT_EQ(p.status, kNotSupported);
  p.ClearError();
  EXPECT_EQ(p.status, kOk);
}

class PortTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetAllocator(nullptr);
    CloseAllPorts();
    EXPECT_EQ(PortListHead(), nullptr);
  }
  testing::VirtualClock clock_;
  TestLine line_{3};
};

TEST_F(PortTest, OpenInstallsDriverAndRejectedSettingsStillOpen) {
  Port* port = line_.Open(115200, 'e', 7, 2);
  EXPECT_EQ(port->status, kOk);
  EXPECT_EQ(port->portNumber, 3);
  EXPECT_EQ(port->driverKind, kTestDriverKind);
  EXPECT_EQ(PortListHead(), port);
  EXPECT_EQ(line_.baudRate(), 115200);
  EXPECT_EQ(PortDescriptor(*port), -1);
  EXPECT_EQ(PortArrivalEvent(*port), nullptr);
  EXPECT_EQ(port->Close(), kOk);
  EXPECT_FALSE(line_.isOpen());
  for (auto [baud, parity, stop, code] :
       {std::tuple{115201, 'N', 1, kBadBaudRate}, std::tuple{9600, 'X', 1, kBadParity},
        std::tuple{9600, 'N', 3, kBadStopBits}}) {
    port = line_.Open(baud, parity, 8, stop);
    EXPECT_EQ(port->status, code);
    EXPECT_EQ(port->WriteChar('A'), kOk);  // opened all the same
    port->Close();
  }
}

// A driver without its own explanation (the in-memory one) gets the status word's.
TEST_F(PortTest, FailedOpenKeepsReasonAndAnswersWithDefaults) {
  const std::pair<int, std::string> cases[] = {
      {kPortInUse, "Cannot open serial port 3: in use by another program, or not allowed"},
      {kNoDevice, std::string("Cannot open serial port 3: no such port\n") + kNoSuchPortHint},
      {kPlatformFailure, "Cannot open serial port 3: error -1"}};
  for (const auto& [code, text] : cases) {
    line_.FailNext(TestLine::Op::kOpen, code);
    Port* port = line_.Open();
    EXPECT_EQ(port->status, code);
    EXPECT_EQ(OpenFailureText(*port), text);
    EXPECT_EQ(port->driverData, nullptr);  // the record went with the failed open
    ExpectEveryOperationUnsupported(*port);
    EXPECT_EQ(port->Close(), kOk);
  }
  EXPECT_EQ(OpenPort(TestDriver(), 42, 9600, 'N', 8, 1)->status, kNoDevice);  // no such line

  Port* first = line_.Open();
  EXPECT_EQ(line_.Open()->status, kPortInUse);
  first->Close();

  Driver refusing = TestDriver();
  refusing.PlatformCheck = [] { return kNotSupported; };
  Port* port = OpenPort(refusing, 3, 9600, 'N', 8, 1);
  EXPECT_EQ(port->status, kNotSupported);
  EXPECT_EQ(OpenFailureText(*port),
            "Cannot open serial port 3: serial ports are not supported on this system");
  EXPECT_EQ(OpenFailureText(*OpenPort(refusing, 0, 9600, 'N', 8, 1)),
            "Cannot open serial port 0: serial ports are not supported on this system");
  EXPECT_FALSE(line_.isOpen());
  EXPECT_EQ(port->RxUsed(), kNotSupported);
}

TEST_F(PortTest, OutOfMemoryHandsOutTheFailurePortAgainAndAgain) {
  SetAllocator(FailingAllocator);
  for (int which : {1, 2}) {  // the Port itself, then the driver record
    failAllocation = which;
    allocations = 0;
    Port* port = line_.Open();
    EXPECT_EQ(port->status, kOutOfMemory);
    EXPECT_EQ(OpenFailureText(*port), "Cannot open serial port: out of memory");
    EXPECT_EQ(port->portNumber, -1);
    EXPECT_EQ(port->driverKind, -1);
    EXPECT_FALSE(line_.isOpen());
    EXPECT_EQ(ListLength(), 1);
    ExpectEveryOperationUnsupported(*port);
    EXPECT_EQ(port->Close(), kOk);  // never released: ASan would report it
    EXPECT_EQ(ListLength(), 0);
  }
  allocations = 0;
  failAllocation = 1;
  Port* a = line_.Open();
  failAllocation = 2;
  Port* b = line_.Open();
  EXPECT_EQ(a, b);
  EXPECT_EQ(ListLength(), 1);
  EXPECT_EQ(line_.Open()->status, kOk);  // allocation 3 succeeds
  a->Close();
  b->Close();  // the second caller closes it too
  EXPECT_EQ(ListLength(), 1);
  CloseAllPorts();
  EXPECT_EQ(ListLength(), 0);
}

std::vector<int> closeOrder;
int RecordingClose(Port& port) {
  closeOrder.push_back(port.portNumber);
  return TestDriver().ops.Close(port);
}

TEST_F(PortTest, CloseAllPortsNewestFirstAndFailedCloseStillReleases) {
  CloseAllPorts();  // nothing open: nothing happens
  Driver recording = TestDriver();
  recording.ops.Close = RecordingClose;
  TestLine l1(1), l2(2);
  for (int n : {1, 2, 3}) OpenPort(recording, n, 9600, 'N', 8, 1);
  EXPECT_EQ(ListLength(), 3);
  CloseAllPorts();
  EXPECT_EQ(closeOrder, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(PortListHead(), nullptr);

  Port* port = line_.Open();
  line_.FailNext(TestLine::Op::kClose, kPlatformFailure);
  EXPECT_EQ(port->Close(), kPlatformFailure);
  EXPECT_EQ(PortListHead(), nullptr);
}

TEST_F(PortTest, CarrierDetectReadsOnlyTheCarrierBit) {
  Port* port = line_.Open();
  for (auto [modem, carrier] :
       {std::pair{0xB0, 0x80}, {0x30, 0}, {0, 0}, {0x80, 0x80}, {0x7F, 0}, {0x81, 0x80}}) {
    line_.SetModemStatus(modem);
    EXPECT_EQ(CarrierDetect(*port), carrier) << modem;
  }
  line_.FailNext(TestLine::Op::kModemStatus, kNotSupported);
  EXPECT_EQ(CarrierDetect(*port), kNotSupported);
  EXPECT_EQ(port->status, kOk);
  line_.FailNext(TestLine::Op::kModemStatus, kNoDevice);
  EXPECT_EQ(CarrierDetect(*port), kNoDevice);
  EXPECT_EQ(port->status, kNoDevice) << "a query that failed is a failure";
}

TEST_F(PortTest, CallersPutTheStatusWordBackAndSetTheCount) {
  Port* port = line_.Open();
  line_.SetTxRoom(0);
  EXPECT_EQ(port->WriteChar('A'), kTxQueueFull);  // a caller that will retry it
  RestoreStatus(*port, kOk);
  EXPECT_EQ(port->status, kOk);
  SetCount(*port, 7);  // the total of several writes
  EXPECT_EQ(port->count, 7u);
}

TEST(MapSystemErrorTest, TranslatesErrno) {
  for (int e : {ENOENT, ENODEV, ENXIO}) EXPECT_EQ(MapSystemError(e), kNoDevice);
  for (int e : {EBUSY, EWOULDBLOCK, EACCES, EPERM}) EXPECT_EQ(MapSystemError(e), kPortInUse);
  EXPECT_EQ(MapSystemError(ENOMEM), kOutOfMemory);
  for (int e : {EINVAL, EIO, ENOTTY, 0}) EXPECT_EQ(MapSystemError(e), kPlatformFailure);
}

}  // namespace
}  // namespace brelin::serial
