#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "sim/instrument.h"

namespace brelin::sim {

struct ServerOptions {
  std::string link;  // symlink made to the pseudo-terminal's device; empty: none
  std::uint32_t baudRate =
      9600;  // paces the output as that line would (10 bits a byte); 0: unpaced
};

// Serves the simulated instrument on a pseudo-terminal: clients open the device path (or the
// link), talk, close, and the next one comes. The server keeps its own handle on the device so a
// client closing it is no hang-up, and a transfer that a client walks away from ends on its own.
class PtyServer {
 public:
  using Log = std::function<void(std::string_view)>;

  PtyServer(InstrumentConfig config, ServerOptions options, Log log);
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pseudo-terminal in raw mode and the link. False with the reason in error.
  bool Open(std::string& error);
  const std::string& devicePath() const { return devicePath_; }

  // Serves until stop becomes true (it is checked at least every 20 ms).
  void Run(const std::atomic<bool>& stop);

 private:
  void RemoveLink();

  Instrument instrument_;
  ServerOptions options_;
  Log log_;
  int master_ = -1;
  int slave_ = -1;
  std::string devicePath_;
  bool linked_ = false;
};

}  // namespace brelin::sim
