#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serial/clock.h"
#include "serial/port.h"

namespace brelin::serial::testing {

// An in-memory serial line behind the ordinary driver table. A TestLine stands for the device at
// one port number: Ports opened on it through TestDriver() (or OpenPort while a ScopedTestDriver
// lives) reach it. Exclusive like a device (a second open gets kPortInUse); a number without a line
// opens with kNoDevice; destroying the line under an open Port turns its operations into kNoDevice.
// Operations the layers above never call keep the driver table's defaults (kNotSupported). Not
// thread-safe.
const Driver& TestDriver();  // the in-memory driver (driverKind kTestDriverKind, no descriptor)

class TestLine {
 public:
  static constexpr int kQueueSize = 1050;
  enum class Op { kOpen, kRead, kWrite, kRxUsed, kModemStatus, kClose };

  explicit TestLine(int portNumber = 0);
  ~TestLine();
  TestLine(const TestLine&) = delete;
  TestLine& operator=(const TestLine&) = delete;

  // OpenPort on this line through TestDriver(), whatever the default driver is.
  Port* Open(int baudRate = 9600, int parity = 'N', int dataBits = 8, int stopBits = 1);

  // Input becomes readable now, or once TickCount() reaches tick (wrapping comparison).
  void Feed(std::string_view bytes) { input_.insert(input_.end(), bytes.begin(), bytes.end()); }
  void FeedAt(std::uint32_t tick, std::string_view bytes);
  void FeedAfter(std::uint32_t ms, std::string_view bytes) { FeedAt(TickCount() + ms, bytes); }
  void SetReadChunk(unsigned n) { readChunk_ = n; }  // at most n bytes per read; 0: no limit
  std::size_t pendingInput() {                       // readable now
    Deliver();
    return input_.size();
  }

  // Runs before each receive query and after each write that took bytes; never re-entered.
  void SetPeer(std::function<void(TestLine&)> peer) { peer_ = std::move(peer); }

  const std::string& output() const { return output_; }  // every byte written, in order
  std::string TakeOutput() { return std::exchange(output_, {}); }

  // After SetTxRoom(n) only n more bytes are taken until SetTxRoom or SetUnlimitedTx.
  void SetTxRoom(unsigned room) {
    txRoom_ = static_cast<int>(std::min<unsigned>(room, kQueueSize));
  }
  void SetUnlimitedTx() { txRoom_ = -1; }

  // The next `times` calls of op fail with code (kClose: the Port is released all the same; a read
  // with kNothingReceived delivers nothing and leaves the status word alone).
  void FailNext(Op op, int code, int times = 1) { failures_[static_cast<int>(op)] = {code, times}; }
  void HangUp() { hungUp_ = true; }  // reads and writes answer kNoDevice from now on
  void SetModemStatus(int bits) { modemStatus_ = bits; }

  bool isOpen() const { return port_ != nullptr; }
  int baudRate() const { return baudRate_; }
  int opens() const { return opens_; }

 private:
  friend struct TestDriverOps;
  struct Scheduled {
    std::uint32_t tick;
    std::string bytes;
  };
  struct Failure {
    int code = 0;
    int times = 0;
  };

  void Deliver();  // due scheduled input into the queue, then the peer
  void RunPeer();
  int TakeFailure(Op op);

  int portNumber_;
  std::deque<unsigned char> input_;
  std::vector<Scheduled> scheduled_;
  unsigned readChunk_ = 0;
  std::function<void(TestLine&)> peer_;
  bool inPeer_ = false;
  std::string output_;
  int txRoom_ = -1;
  Failure failures_[6];
  bool hungUp_ = false;
  int modemStatus_ = 0xB0;  // CTS, DSR, carrier detect
  Port* port_ = nullptr;
  int baudRate_ = 0;
  int opens_ = 0;
};

// Makes TestDriver() the default driver of OpenPort for its lifetime.
struct ScopedTestDriver {
  ScopedTestDriver();
  ~ScopedTestDriver();
  ScopedTestDriver(const ScopedTestDriver&) = delete;
  ScopedTestDriver& operator=(const ScopedTestDriver&) = delete;
};

}  // namespace brelin::serial::testing
