#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port.h"

namespace brelin::serial::testing {

// An in-memory serial line behind the ordinary driver table, for tests of everything built on a
// Port. A TestLine stands for the device at one port number: Ports opened on that number through
// TestDriver() (or through OpenPort(number, ...) while a ScopedTestDriver is active) reach it.
//
//   VirtualClock clock;                        // time, Pause and the IdleHook become virtual
//   TestLine line;                             // port number 0
//   Port* port = line.Open();                  // 9600 N 8 1 through OpenPort
//   line.Feed("OK\n\r");                       // visible at once
//   line.FeedAt(300, "late");                  // visible once TickCount() reaches 300
//   line.SetPeer([](TestLine& l) {             // a scripted sender: reacts to what was written
//     if (l.output().ends_with("DOWNLOAD\n")) { l.TakeOutput(); l.Feed(reply); }
//   });
//   line.FailNext(TestLine::Op::kRead, kNoDevice, 1);   // the next read fails with -14
//   line.SetTxRoom(10);                        // only 10 more bytes fit until SetTxRoom again
//   line.HangUp();                             // reads give -14 from now on
//   ... code under test ...
//   EXPECT_EQ(line.output(), "UNLOCK\n");
//   port->Close();
//
// Exclusive like a real device: a second Open while a Port is open on the line fails with -3. A
// port number without a TestLine opens with -14. Destroying a TestLine while a Port is open on it
// turns that Port's operations into -14 (the line is gone). Not thread-safe.
class TestLine {
 public:
  static constexpr int kQueueSize = 1050;
  enum class Op { kOpen, kRead, kWrite, kRxUsed, kSetLine, kClearTx, kModemStatus, kClose };

  explicit TestLine(int portNumber = 0);
  ~TestLine();
  TestLine(const TestLine&) = delete;
  TestLine& operator=(const TestLine&) = delete;

  int portNumber() const { return portNumber_; }
  Port* Open(int baudRate = 9600, int parity = 'N', int dataBits = 8, int stopBits = 1);

  // Input: bytes become readable now, or once TickCount() reaches tick (wrapping comparison).
  void Feed(std::string_view bytes);
  void FeedAt(std::uint32_t tick, std::string_view bytes);
  void FeedAfter(std::uint32_t milliseconds, std::string_view bytes);
  // At most n bytes per ReadBuffer call (0: no limit), to test reassembly of split input.
  void SetReadChunk(unsigned n) { readChunk_ = n; }
  // Bytes readable now (scheduled ones not yet due are not counted).
  std::size_t pendingInput();

  // Called before each receive query (RxUsed, ReadChar, ReadBuffer) and after each write that took
  // bytes; not re-entered while it runs.
  void SetPeer(std::function<void(TestLine&)> peer) { peer_ = std::move(peer); }

  // Output: every byte the Port queued, in order.
  const std::string& output() const { return output_; }
  std::string TakeOutput();

  // Transmit queue: by default bytes leave at once and the whole 1050-byte queue is free. After
  // SetTxRoom(n) only n more bytes are taken (TxFree shows the rest) until SetTxRoom or
  // SetUnlimitedTx is called again.
  void SetTxRoom(unsigned room);
  void SetUnlimitedTx() { txRoom_ = -1; }

  // The next `times` calls of op fail with code (kOpen: the open step; kClose: the device close,
  // after which the Port is released all the same).
  void FailNext(Op op, int code, int times = 1);
  // The line is gone: receive operations and writes answer -14 and record it in the status word.
  void HangUp() { hungUp_ = true; }
  void SetModemStatus(int bits) { modemStatus_ = bits; }
  void SetLineErrors(int bits) { lineErrors_ |= bits; }

  // What the Port did to the line.
  bool isOpen() const { return open_; }
  int baudRate() const { return baudRate_; }
  int parity() const { return parity_; }
  int dataBits() const { return dataBits_; }
  int stopBits() const { return stopBits_; }
  bool dtr() const { return dtr_; }
  bool rts() const { return rts_; }
  bool xonXoff() const { return xonXoff_; }
  bool rtsCts() const { return rtsCts_; }
  bool dtrDsr() const { return dtrDsr_; }
  int opens() const { return opens_; }
  int closes() const { return closes_; }
  int clearTxCalls() const { return clearTxCalls_; }
  int breaks() const { return breaks_; }
  std::uint64_t rxQueries() const { return rxQueries_; }

  static TestLine* Find(int portNumber);

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

  void Deliver();  // moves due scheduled input into the queue and runs the peer
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
  Failure failures_[8];
  bool hungUp_ = false;
  int modemStatus_ = 0xB0;  // CTS, DSR, carrier detect
  int lineErrors_ = 0;
  bool open_ = false;
  Port* port_ = nullptr;
  int baudRate_ = 0, parity_ = 0, dataBits_ = 0, stopBits_ = 0;
  bool dtr_ = false, rts_ = false, xonXoff_ = false, rtsCts_ = false, dtrDsr_ = false;
  int opens_ = 0, closes_ = 0, clearTxCalls_ = 0, breaks_ = 0;
  std::uint64_t rxQueries_ = 0;
};

// The in-memory driver (driverKind kTestDriverKind, no descriptor).
const Driver& TestDriver();

// Makes TestDriver() the default driver of OpenPort for its lifetime (the platform's afterwards).
class ScopedTestDriver {
 public:
  ScopedTestDriver() { SetDefaultDriver(&TestDriver()); }
  ~ScopedTestDriver() { SetDefaultDriver(nullptr); }
  ScopedTestDriver(const ScopedTestDriver&) = delete;
  ScopedTestDriver& operator=(const ScopedTestDriver&) = delete;
};

}  // namespace brelin::serial::testing
