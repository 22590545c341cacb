#include "serial/testing/test_driver.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "serial/clock.h"
#include "serial/driver.h"

namespace brelin::serial::testing {
namespace {

std::map<int, TestLine*>& Lines() {
  static std::map<int, TestLine*> lines;
  return lines;
}

int Fail(Port& port, int code) {
  port.status = code;
  return code;
}

}  // namespace

// The driver's operations; the record in Port::driverData is the TestLine* (null once it is gone).
struct TestDriverOps {
  static TestLine*& LineOf(const Port& port) { return *static_cast<TestLine**>(port.driverData); }

  // The line for a receive or transmit operation, or null with the failure code in *code.
  static TestLine* Usable(Port& port, TestLine::Op op, int* code) {
    TestLine* line = LineOf(port);
    *code = kNoDevice;
    if (line == nullptr) return nullptr;
    if (op != TestLine::Op::kWrite) line->Deliver();
    int failure = line->TakeFailure(op);
    if (failure != 0) *code = failure;
    return failure == 0 && !line->hungUp_ ? line : nullptr;
  }

  static void* NewData() { return AllocateZeroed(sizeof(TestLine*)); }
  static void DeleteData(void* data) { std::free(data); }

  static int OpenDevice(Port& port, int portNumber) {
    auto it = Lines().find(portNumber);
    if (it == Lines().end()) return Fail(port, kNoDevice);
    TestLine* line = it->second;
    if (int failure = line->TakeFailure(TestLine::Op::kOpen); failure != 0) {
      return Fail(port, failure);
    }
    if (line->port_ != nullptr) return Fail(port, kPortInUse);
    LineOf(port) = line;
    line->port_ = &port;
    line->opens_++;
    return kOk;
  }

  static int ReadBuffer(Port& port, void* buffer, unsigned n) {
    int code = 0;
    TestLine* line = Usable(port, TestLine::Op::kRead, &code);
    if (code ==
        kNothingReceived) {  // queued bytes not handed over yet: no failure, as a driver does
      port.count = 0;
      return code;
    }
    if (line == nullptr) return Fail(port, code);  // count untouched, as some drivers leave it
    std::size_t k = std::min<std::size_t>(n, line->input_.size());
    if (line->readChunk_ != 0) k = std::min<std::size_t>(k, line->readChunk_);
    std::copy_n(line->input_.begin(), k, static_cast<unsigned char*>(buffer));
    line->input_.erase(line->input_.begin(), line->input_.begin() + static_cast<long>(k));
    port.count = static_cast<std::uint32_t>(k);
    return k == 0 ? kNothingReceived : kOk;
  }

  static int ReadChar(Port& port) {
    unsigned char byte = 0;
    int result = ReadBuffer(port, &byte, 1);
    return result != kOk ? result : byte;
  }

  static int RxUsed(Port& port) {
    int code = 0;
    TestLine* line = Usable(port, TestLine::Op::kRxUsed, &code);
    return line == nullptr ? Fail(port, code) : static_cast<int>(line->input_.size());
  }

  static int WriteBuffer(Port& port, const void* data, unsigned n) {
    int code = 0;
    TestLine* line = Usable(port, TestLine::Op::kWrite, &code);
    port.count = 0;
    if (line == nullptr) return Fail(port, code);
    unsigned room = line->txRoom_ < 0 ? TestLine::kQueueSize : static_cast<unsigned>(line->txRoom_);
    unsigned k = std::min(n, room);
    line->output_.append(static_cast<const char*>(data), k);
    if (line->txRoom_ >= 0) line->txRoom_ -= static_cast<int>(k);
    port.count = k;
    if (k > 0) line->RunPeer();
    return k >= n ? kOk : Fail(port, kTxQueueFull);
  }

  static int WriteChar(Port& port, int c) {
    unsigned char byte = static_cast<unsigned char>(c & 0xFF);
    return WriteBuffer(port, &byte, 1);
  }

  static int ClearTx(Port& port) { return LineOf(port) != nullptr ? kOk : Fail(port, kNoDevice); }

  static int SetLine(Port& port, int baudRate, int parity, int dataBits, int stopBits) {
    if (LineOf(port) == nullptr) return Fail(port, kNoDevice);
    if (int check = CheckLineSettings(baudRate, parity, dataBits, stopBits); check != kOk) {
      return Fail(port, check);
    }
    LineOf(port)->baudRate_ = baudRate;
    return port.status;
  }

  static int ModemStatus(Port& port) {
    TestLine* line = LineOf(port);
    if (line == nullptr) return Fail(port, kNoDevice);
    int failure = line->TakeFailure(TestLine::Op::kModemStatus);
    if (failure == kNotSupported) return failure;  // no modem lines: the status word stays
    return failure != 0 ? Fail(port, failure) : line->modemStatus_ & 0xFF;
  }

  static int Close(Port& port) {
    int result = kOk;
    if (TestLine* line = LineOf(port); line != nullptr) {
      line->port_ = nullptr;
      if (int failure = line->TakeFailure(TestLine::Op::kClose); failure != 0) result = failure;
    }
    DeleteData(port.driverData);
    port.driverData = nullptr;
    UnlinkAndRelease(port);
    return result;
  }
};

Port* TestLine::Open(int baudRate, int parity, int dataBits, int stopBits) {
  return OpenPort(TestDriver(), portNumber_, baudRate, parity, dataBits, stopBits);
}

ScopedTestDriver::ScopedTestDriver() {
  SetDefaultDriver(&TestDriver());
}

ScopedTestDriver::~ScopedTestDriver() {
  SetDefaultDriver(nullptr);
}

TestLine::TestLine(int portNumber) : portNumber_(portNumber) {
  Lines()[portNumber] = this;
}

TestLine::~TestLine() {
  if (port_ != nullptr) TestDriverOps::LineOf(*port_) = nullptr;
  auto it = Lines().find(portNumber_);
  if (it != Lines().end() && it->second == this) Lines().erase(it);
}

void TestLine::FeedAt(std::uint32_t tick, std::string_view bytes) {
  // Kept in tick order; equal ticks keep the order they were given in.
  auto later = std::find_if(scheduled_.begin(), scheduled_.end(), [tick](const Scheduled& s) {
    return static_cast<std::int32_t>(s.tick - tick) > 0;
  });
  scheduled_.insert(later, Scheduled{tick, std::string(bytes)});
}

int TestLine::TakeFailure(Op op) {
  Failure& f = failures_[static_cast<int>(op)];
  if (f.times <= 0) return 0;
  f.times--;
  return f.code;
}

void TestLine::Deliver() {
  auto moveDue = [this] {
    while (!scheduled_.empty() && TimedOut(scheduled_.front().tick, 0, TickCount())) {
      Feed(scheduled_.front().bytes);
      scheduled_.erase(scheduled_.begin());
    }
  };
  moveDue();
  RunPeer();
  moveDue();
}

void TestLine::RunPeer() {
  if (!peer_ || inPeer_) return;
  inPeer_ = true;
  peer_(*this);
  inPeer_ = false;
}

const Driver& TestDriver() {
  using O = TestDriverOps;
  static const Driver driver = [] {
    Driver d{};  // operations left null keep their defaults
    d.kind = kTestDriverKind;
    d.NewData = O::NewData;
    d.DeleteData = O::DeleteData;
    d.OpenDevice = O::OpenDevice;
    d.ops.ReadChar = O::ReadChar;
    d.ops.WriteChar = O::WriteChar;
    d.ops.Close = O::Close;
    d.ops.SetLine = O::SetLine;
    d.ops.RxUsed = O::RxUsed;
    d.ops.ClearTx = O::ClearTx;
    d.ops.WriteBuffer = O::WriteBuffer;
    d.ops.ReadBuffer = O::ReadBuffer;
    d.ops.ModemStatus = O::ModemStatus;
    return d;
  }();
  return driver;
}

}  // namespace brelin::serial::testing
