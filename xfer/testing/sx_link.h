#pragma once

// Runs lrzsz `sx` against the receiver over pseudo-terminals, for the pty tests and the bench:
//
//   SxLink link({"-k"}, "/tmp/data.bin");          // sx -q -k /tmp/data.bin on a pty master
//   int result = XferReceive(*link.port(), "out.bin", nullptr, nullptr, nullptr);
//   int exitCode = link.WaitSender(5000);          // sx's exit status; -1 after a kill
//
// With a RelayConfig the two ends sit on separate pty pairs and a thread copies between them,
// damaging, delaying or pacing the traffic on the way. With a ReceiverCommand another program
// (lrzsz `rx`, for the bench) receives instead of a Port.

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "serial/port.h"

namespace brelin::xfer::testing {

struct RelayConfig {
  std::size_t corruptEvery = 0;  // sender to receiver: flip the bits of every Nth byte
  std::size_t dropEvery = 0;     // sender to receiver: leave out every Nth byte
  std::size_t stallAfter = 0;    // after this many bytes, hold the sender's bytes once ...
  int stallMs = 0;               // ... for this long
  int swallowAck = -1;           // receiver to sender: leave out this ACK (0-based)
  unsigned seed = 0;             // nonzero: flips and drops fall at random, one in N on average
  int bytesPerSecond = 0;        // pace both directions like a serial line; 0 = unpaced
  int latencyMs = 0;             // hold every byte this long in both directions
};

struct ReceiverCommand {
  std::vector<std::string> argv;
  std::string dir;  // working directory
};

class SxLink {
 public:
  // Starts `sx -q <args> <file>`; a relay sits between the ends when relay is given.
  SxLink(const std::vector<std::string>& args, const std::string& file,
         const RelayConfig* relay = nullptr, const ReceiverCommand* receiver = nullptr);
  ~SxLink();
  SxLink(const SxLink&) = delete;
  SxLink& operator=(const SxLink&) = delete;

  // The receiver's end, opened 9600 8N1 (null when the pty could not be set up).
  serial::Port* port() const { return port_; }
  // Waits up to timeoutMs for sx to end and returns its exit status; kills it and returns -1 when
  // it does not end in time.
  int WaitSender(int timeoutMs);
  // The same for the receiver command; cpuSeconds gets the CPU time it used.
  int WaitReceiver(int timeoutMs, double* cpuSeconds);
  // Stops the relay thread (WaitSender first).
  void StopRelay();
  // The line goes away under the receiver, as when an adapter is pulled out (no relay only).
  void HangUp();
  // Bytes the relay changed, left out or held.
  std::size_t faultsDone() const { return faults_; }
  // Relay only, after WaitSender: seconds from the last byte handed to the receiver to each ACK.
  const std::vector<double>& ackDelays() const { return ackDelays_; }

 private:
  void Relay(RelayConfig config);

  int senderSide_ = -1;     // the pty master that sx uses
  int relaySender_ = -1;    // relay: slave of the sender's pair
  int relayReceiver_ = -1;  // relay: master of the receiver's pair
  int receiverSlave_ = -1;  // keeps the receiver's slave open while the Port opens it
  pid_t pid_ = -1;
  pid_t receiverPid_ = -1;
  serial::Port* port_ = nullptr;
  std::thread relay_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> faults_{0};
  std::vector<double> ackDelays_;  // written by the relay thread until it is joined
};

// Opens a device path through the platform's termios driver.
serial::Port* OpenDevicePath(const std::string& path);

}  // namespace brelin::xfer::testing
