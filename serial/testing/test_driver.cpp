#include "serial/testing/test_driver.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "serial/clock.h"
#include "serial/line_settings.h"
#include "serial/timed_io.h"

namespace brelin::serial::testing {
namespace {

std::map<int, TestLine*>& Lines() {
  static std::map<int, TestLine*> lines;
  return lines;
}

struct TestPortData {
  TestLine* line;
};

bool Due(std::uint32_t tick) {
  return TimedOut(tick, 0, TickCount());
}

}  // namespace

// The driver's operations; a friend of TestLine.
struct TestDriverOps {
  static TestLine* LineOf(Port& port) {
    auto* data = static_cast<TestPortData*>(port.driverData);
    return data != nullptr ? data->line : nullptr;
  }

  static int Fail(Port& port, int code) {
    port.status = code;
    return code;
  }

  // The line for a receive or transmit operation, or null with the failure code in *code.
  static TestLine* Usable(Port& port, TestLine::Op op, int* code) {
    TestLine* line = LineOf(port);
    if (line == nullptr) {
      *code = kNoDevice;
      return nullptr;
    }
    if (op != TestLine::Op::kWrite) line->Deliver();
    if (int failure = line->TakeFailure(op); failure != 0) {
      *code = failure;
      return nullptr;
    }
    if (line->hungUp_) {
      *code = kNoDevice;
      return nullptr;
    }
    return line;
  }

  static void* NewData() {
    void* memory = AllocateZeroed(sizeof(TestPortData));
    return memory != nullptr ? new (memory) TestPortData{} : nullptr;
  }

  static void DeleteData(void* data) { std::free(data); }

  static int OpenDevice(Port& port, int portNumber) {
    TestLine* line = TestLine::Find(portNumber);
    port.status = kOk;
    if (line == nullptr) return Fail(port, kNoDevice);
    if (int failure = line->TakeFailure(TestLine::Op::kOpen); failure != 0) {
      return Fail(port, failure);
    }
    if (line->open_) return Fail(port, kPortInUse);
    static_cast<TestPortData*>(port.driverData)->line = line;
    line->open_ = true;
    line->port_ = &port;
    line->opens_++;
    line->dtr_ = line->rts_ = true;
    return kOk;
  }

  static int Descriptor(const Port&) { return -1; }

  static int ReadBuffer(Port& port, void* buffer, unsigned n) {
    int code = 0;
    TestLine* line = Usable(port, TestLine::Op::kRead, &code);
    if (line == nullptr) return Fail(port, code);  // count untouched, as some drivers leave it
    port.count = 0;
    line->rxQueries_++;
    std::size_t k = std::min<std::size_t>(n, line->input_.size());
    if (line->readChunk_ != 0) k = std::min<std::size_t>(k, line->readChunk_);
    if (k == 0) return kNothingReceived;
    auto* out = static_cast<unsigned char*>(buffer);
    std::copy_n(line->input_.begin(), k, out);
    line->input_.erase(line->input_.begin(), line->input_.begin() + static_cast<long>(k));
    port.count = static_cast<std::uint32_t>(k);
    return kOk;
  }

  static int ReadChar(Port& port) {
    unsigned char byte = 0;
    int result = ReadBuffer(port, &byte, 1);
    return result != kOk ? result : byte;
  }

  static int RxUsed(Port& port) {
    int code = 0;
    TestLine* line = Usable(port, TestLine::Op::kRxUsed, &code);
    if (line == nullptr) return Fail(port, code);
    line->rxQueries_++;
    return static_cast<int>(line->input_.size());
  }

  static int RxFree(Port& port) {
    int used = RxUsed(port);
    return used < 0 ? used : std::max(0, TestLine::kQueueSize - used);
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

  static int TxFree(Port& port) {
    TestLine* line = LineOf(port);
    if (line == nullptr) return Fail(port, kNoDevice);
    return line->txRoom_ < 0 ? TestLine::kQueueSize : line->txRoom_;
  }

  static int TxUsed(Port& port) {
    int free = TxFree(port);
    return free < 0 ? free : std::max(0, TestLine::kQueueSize - free);
  }

  static int ClearTx(Port& port) {
    TestLine* line = LineOf(port);
    if (line == nullptr) return Fail(port, kNoDevice);
    if (int failure = line->TakeFailure(TestLine::Op::kClearTx); failure != 0) {
      return Fail(port, failure);
    }
    line->clearTxCalls_++;
    return kOk;
  }

  static int SetLine(Port& port, int baudRate, int parity, int dataBits, int stopBits) {
    TestLine* line = LineOf(port);
    if (line == nullptr) return Fail(port, kNoDevice);
    if (int failure = line->TakeFailure(TestLine::Op::kSetLine); failure != 0) {
      return Fail(port, failure);
    }
    if (int check = CheckLineSettings(baudRate, parity, dataBits, stopBits); check != kOk) {
      return Fail(port, check);
    }
    line->baudRate_ = baudRate;
    line->parity_ = parity;
    line->dataBits_ = dataBits;
    line->stopBits_ = stopBits;
    return port.status;
  }

  template <bool TestLine::*Flag>
  static int Switch(Port& port, int on) {
    TestLine* line = LineOf(port);
    if (line == nullptr) return Fail(port, kNoDevice);
    line->*Flag = on != 0;
    return kOk;
  }

  // Ending a handshake mode leaves its output line low, as on the devices this stands for.
  static int UseRtsCts(Port& port, int on) {
    int result = Switch<&TestLine::rtsCts_>(port, on);
    if (result == kOk && on == 0) LineOf(port)->rts_ = false;
    return result;
  }
  static int UseDtrDsr(Port& port, int on) {
    int result = Switch<&TestLine::dtrDsr_>(port, on);
    if (result == kOk && on == 0) LineOf(port)->dtr_ = false;
    return result;
  }

  static int Dump(Port& port, const DumpSink& out) {
    TestLine* line = LineOf(port);
    if (line == nullptr) return Fail(port, kNoDevice);
    out("");
    out("Port type:  in-memory test line " + std::to_string(line->portNumber_) +
        "  BaudRate: " + std::to_string(line->baudRate_));
    out("RX count: " + std::to_string(line->input_.size()) +
        "  TX written: " + std::to_string(line->output_.size()));
    return kOk;
  }

  static int SendBreak(Port& port, int milliseconds) {
    TestLine* line = LineOf(port);
    if (line == nullptr) return Fail(port, kNoDevice);
    line->breaks_++;
    IdleWait(port, milliseconds);
    return kOk;
  }

  static int ModemStatus(Port& port) {
    TestLine* line = LineOf(port);
    if (line == nullptr) return Fail(port, kNoDevice);
    if (int failure = line->TakeFailure(TestLine::Op::kModemStatus); failure != 0) {
      return Fail(port, failure);
    }
    return line->modemStatus_ & 0xFF;
  }

  static int LineStatus(Port& port) {
    TestLine* line = LineOf(port);
    if (line == nullptr) return Fail(port, kNoDevice);
    return line->lineErrors_ & 0x1E;
  }

  static int ClearLineStatus(Port& port) {
    TestLine* line = LineOf(port);
    if (line == nullptr) return Fail(port, kNoDevice);
    line->lineErrors_ = 0;
    return kOk;
  }

  static int Close(Port& port) {
    int result = kOk;
    if (TestLine* line = LineOf(port); line != nullptr) {
      line->open_ = false;
      line->port_ = nullptr;
      line->closes_++;
      line->dtr_ = line->rts_ = false;
      if (int failure = line->TakeFailure(TestLine::Op::kClose); failure != 0) result = failure;
    }
    DeleteData(port.driverData);
    port.driverData = nullptr;
    UnlinkAndRelease(port);
    return result;
  }

  static const Driver& Get();
};

TestLine::TestLine(int portNumber) : portNumber_(portNumber) {
  TestLine*& slot = Lines()[portNumber];
  slot = this;
}

TestLine::~TestLine() {
  if (port_ != nullptr) static_cast<TestPortData*>(port_->driverData)->line = nullptr;
  auto it = Lines().find(portNumber_);
  if (it != Lines().end() && it->second == this) Lines().erase(it);
}

TestLine* TestLine::Find(int portNumber) {
  auto it = Lines().find(portNumber);
  return it != Lines().end() ? it->second : nullptr;
}

Port* TestLine::Open(int baudRate, int parity, int dataBits, int stopBits) {
  return OpenPort(TestDriver(), portNumber_, baudRate, parity, dataBits, stopBits);
}

void TestLine::Feed(std::string_view bytes) {
  input_.insert(input_.end(), bytes.begin(), bytes.end());
}

void TestLine::FeedAt(std::uint32_t tick, std::string_view bytes) {
  // Kept in tick order; equal ticks keep the order they were given in.
  auto later = std::find_if(scheduled_.begin(), scheduled_.end(), [tick](const Scheduled& s) {
    return static_cast<std::int32_t>(s.tick - tick) > 0;
  });
  scheduled_.insert(later, Scheduled{tick, std::string(bytes)});
}

void TestLine::FeedAfter(std::uint32_t milliseconds, std::string_view bytes) {
  FeedAt(TickCount() + milliseconds, bytes);
}

std::size_t TestLine::pendingInput() {
  Deliver();
  return input_.size();
}

std::string TestLine::TakeOutput() {
  std::string taken;
  taken.swap(output_);
  return taken;
}

void TestLine::SetTxRoom(unsigned room) {
  txRoom_ = static_cast<int>(std::min<unsigned>(room, kQueueSize));
}

void TestLine::FailNext(Op op, int code, int times) {
  failures_[static_cast<int>(op)] = Failure{code, times};
}

int TestLine::TakeFailure(Op op) {
  Failure& f = failures_[static_cast<int>(op)];
  if (f.times <= 0) return 0;
  f.times--;
  return f.code;
}

void TestLine::Deliver() {
  auto moveDue = [this] {
    while (!scheduled_.empty() && Due(scheduled_.front().tick)) {
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
  return TestDriverOps::Get();
}

const Driver& TestDriverOps::Get() {
  using O = TestDriverOps;
  static const Driver driver{
      .kind = kTestDriverKind,
      .PlatformCheck = nullptr,
      .NewData = O::NewData,
      .DeleteData = O::DeleteData,
      .OpenDevice = O::OpenDevice,
      .Descriptor = O::Descriptor,
      .ops =
          {
              .ReadChar = O::ReadChar,
              .SpareOp1 = nullptr,
              .WriteChar = O::WriteChar,
              .Close = O::Close,
              .SetLine = O::SetLine,
              .UseXonXoff = O::Switch<&TestLine::xonXoff_>,
              .UseRtsCts = O::UseRtsCts,
              .UseDtrDsr = O::UseDtrDsr,
              .SetDtr = O::Switch<&TestLine::dtr_>,
              .SetRts = O::Switch<&TestLine::rts_>,
              .TxFree = O::TxFree,
              .TxUsed = O::TxUsed,
              .RxFree = O::RxFree,
              .RxUsed = O::RxUsed,
              .ClearTx = O::ClearTx,
              .WriteBuffer = O::WriteBuffer,
              .ReadBuffer = O::ReadBuffer,
              .Dump = O::Dump,
              .SendBreak = O::SendBreak,
              .ModemStatus = O::ModemStatus,
              .LineStatus = O::LineStatus,
              .ClearLineStatus = O::ClearLineStatus,
              .SpareOp2 = nullptr,
              .ClearError = nullptr,
          },
  };
  return driver;
}

}  // namespace brelin::serial::testing
