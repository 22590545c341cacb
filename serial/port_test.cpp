#include "serial/port.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

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
struct ScopedAllocationFailure {
  explicit ScopedAllocationFailure(int which) {
    failAllocation = which;
    allocations = 0;
    SetAllocator(FailingAllocator);
  }
  ~ScopedAllocationFailure() { SetAllocator(nullptr); }
};

int ListLength() {
  int n = 0;
  for (Port* p = PortListHead(); p != nullptr; p = p->next) n++;
  return n;
}

void ExpectEveryOperationUnsupported(Port& port) {
  char buffer[4];
  EXPECT_EQ(port.ReadChar(), kNotSupported);
  EXPECT_EQ(port.WriteChar('A'), kNotSupported);
  EXPECT_EQ(port.SetLine(9600, 'N', 8, 1), kNotSupported);
  EXPECT_EQ(port.UseXonXoff(1), kNotSupported);
  EXPECT_EQ(port.UseRtsCts(1), kNotSupported);
  EXPECT_EQ(port.UseDtrDsr(1), kNotSupported);
  EXPECT_EQ(port.SetDtr(1), kNotSupported);
  EXPECT_EQ(port.SetRts(1), kNotSupported);
  EXPECT_EQ(port.TxFree(), kNotSupported);
  EXPECT_EQ(port.TxUsed(), kNotSupported);
  EXPECT_EQ(port.RxFree(), kNotSupported);
  EXPECT_EQ(port.RxUsed(), kNotSupported);
  EXPECT_EQ(port.ClearTx(), kNotSupported);
  EXPECT_EQ(port.WriteBuffer("x", 1), kNotSupported);
  EXPECT_EQ(port.ReadBuffer(buffer, 4), kNotSupported);
  EXPECT_EQ(port.SendBreak(10), kNotSupported);
  EXPECT_EQ(port.ModemStatus(), kNotSupported);
  EXPECT_EQ(port.LineStatus(), kNotSupported);
  EXPECT_EQ(port.ClearLineStatus(), kNotSupported);
  EXPECT_EQ(port.ops.SpareOp1(port), kNotSupported);
  EXPECT_EQ(port.ops.SpareOp2(port), kNotSupported);
  std::vector<std::string> lines;
  EXPECT_EQ(port.Dump([&](std::string_view l) { lines.emplace_back(l); }), kNotSupported);
  EXPECT_EQ(lines, (std::vector<std::string>{"Port dump not supported for this driver", ""}));
  EXPECT_EQ(port.status, kNotSupported);
  port.ClearError();
  EXPECT_EQ(port.status, kOk);
}

class PortTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CloseAllPorts();
    EXPECT_EQ(PortListHead(), nullptr);
  }
  testing::VirtualClock clock_;
};

TEST_F(PortTest, OpenInstallsDriverAndAppliesLine) {
  TestLine line(3);
  Port* port = line.Open(9600, 'n', 8, 1);
  EXPECT_EQ(port->status, kOk);
  EXPECT_EQ(port->portNumber, 3);
  EXPECT_EQ(port->driverKind, kTestDriverKind);
  EXPECT_EQ(PortListHead(), port);
  EXPECT_EQ(line.baudRate(), 9600);
  EXPECT_TRUE(line.dtr() && line.rts());
  EXPECT_EQ(PortDescriptor(*port), -1);
  EXPECT_EQ(port->Close(), kOk);
  EXPECT_FALSE(line.isOpen());
  EXPECT_EQ(PortListHead(), nullptr);
}

TEST_F(PortTest, RejectedLineSettingsStillOpenThePort) {
  TestLine line;
  for (auto [baud, parity, stop, code] :
       {std::tuple{115201, 'N', 1, kBadBaudRate}, std::tuple{9600, 'X', 1, kBadParity},
        std::tuple{9600, 'N', 3, kBadStopBits}}) {
    Port* port = line.Open(baud, parity, 8, stop);
    EXPECT_EQ(port->status, code);
    EXPECT_EQ(port->WriteChar('A'), kOk);  // opened all the same
    port->Close();
  }
  Port* port = line.Open(115200, 'e', 7, 2);
  EXPECT_EQ(port->status, kOk);
  EXPECT_EQ(line.dataBits(), 7);
  port->Close();
}

TEST_F(PortTest, FailedOpenKeepsReasonUntilFirstOperation) {
  TestLine line;
  for (int code : {kPortInUse, kNoDevice, kPlatformFailure}) {
    line.FailNext(TestLine::Op::kOpen, code);
    Port* port = line.Open();
    EXPECT_EQ(port->status, code);
    EXPECT_EQ(port->driverData, nullptr);  // the record went with the failed open
    EXPECT_EQ(PortDescriptor(*port), -1);
    ExpectEveryOperationUnsupported(*port);
    EXPECT_EQ(port->Close(), kOk);
  }
  EXPECT_EQ(OpenPort(TestDriver(), 42, 9600, 'N', 8, 1)->status, kNoDevice);  // no such line
}

TEST_F(PortTest, SecondOpenOfTheSameLineIsRefused) {
  TestLine line;
  Port* first = line.Open();
  Port* second = line.Open();
  EXPECT_EQ(first->status, kOk);
  EXPECT_EQ(second->status, kPortInUse);
  second->Close();
  first->Close();
  Port* third = line.Open();
  EXPECT_EQ(third->status, kOk);
  third->Close();
}

TEST_F(PortTest, PlatformNotServedLeavesDefaults) {
  Driver refusing = TestDriver();
  refusing.PlatformCheck = [] { return kNotSupported; };
  TestLine line;
  Port* port = OpenPort(refusing, 0, 9600, 'N', 8, 1);
  EXPECT_EQ(port->status, kNotSupported);
  EXPECT_EQ(port->driverData, nullptr);
  EXPECT_FALSE(line.isOpen());
  EXPECT_EQ(port->RxUsed(), kNotSupported);
  port->Close();
}

TEST_F(PortTest, OutOfMemoryHandsOutTheFailurePort) {
  TestLine line;
  for (int which : {1, 2}) {  // the Port itself, then the driver record
    ScopedAllocationFailure failure(which);
    Port* port = line.Open();
    EXPECT_EQ(port->status, kOutOfMemory);
    EXPECT_EQ(port->portNumber, -1);
    EXPECT_EQ(port->driverKind, -1);
    EXPECT_EQ(port->driverData, nullptr);
    EXPECT_FALSE(line.isOpen());
    EXPECT_EQ(ListLength(), 1);
    ExpectEveryOperationUnsupported(*port);
    EXPECT_EQ(port->Close(), kOk);  // never released: ASan would report it
    EXPECT_EQ(ListLength(), 0);
  }
}

TEST_F(PortTest, FailurePortHandedOutTwiceStaysSound) {
  TestLine line;
  ScopedAllocationFailure failure(1);
  Port* a = line.Open();
  failAllocation = 2;
  Port* b = line.Open();
  EXPECT_EQ(a, b);
  EXPECT_EQ(ListLength(), 1);
  Port* c = line.Open();  // allocation 3 succeeds
  EXPECT_EQ(c->status, kOk);
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

TEST_F(PortTest, CloseAllPortsClosesNewestFirst) {
  CloseAllPorts();  // nothing open: nothing happens
  Driver recording = TestDriver();
  recording.ops.Close = RecordingClose;
  TestLine l1(1), l2(2), l3(3);
  closeOrder.clear();
  for (int n : {1, 2, 3}) OpenPort(recording, n, 9600, 'N', 8, 1);
  EXPECT_EQ(ListLength(), 3);
  CloseAllPorts();
  EXPECT_EQ(closeOrder, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(PortListHead(), nullptr);
}

TEST_F(PortTest, FailedDeviceCloseStillReleasesThePort) {
  TestLine line;
  Port* port = line.Open();
  line.FailNext(TestLine::Op::kClose, kPlatformFailure);
  EXPECT_EQ(port->Close(), kPlatformFailure);
  EXPECT_EQ(PortListHead(), nullptr);
}

TEST_F(PortTest, CarrierDetectReadsOnlyTheCarrierBit) {
  TestLine line;
  Port* port = line.Open();
  for (auto [modem, carrier] : {std::pair{0xB0, 0x80}, {0x30, 0}, {0, 0}, {0x80, 0x80}}) {
    line.SetModemStatus(modem);
    EXPECT_EQ(CarrierDetect(*port), carrier) << modem;
  }
  line.FailNext(TestLine::Op::kModemStatus, kNotSupported);
  EXPECT_EQ(CarrierDetect(*port), kNotSupported);
  port->Close();
}

TEST(MapSystemErrorTest, TranslatesErrno) {
  for (int e : {ENOENT, ENODEV, ENXIO}) EXPECT_EQ(MapSystemError(e), kNoDevice);
  for (int e : {EBUSY, EWOULDBLOCK, EACCES, EPERM}) EXPECT_EQ(MapSystemError(e), kPortInUse);
  EXPECT_EQ(MapSystemError(ENOMEM), kOutOfMemory);
  for (int e : {EINVAL, EIO, ENOTTY, 0}) EXPECT_EQ(MapSystemError(e), kPlatformFailure);
}

}  // namespace
}  // namespace brelin::serial
