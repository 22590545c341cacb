// Arbitrary sender bytes through the in-memory line into the receiver, in virtual time. The first
// byte picks the options; the rest is cut into chunks (a length byte, then that many bytes), and
// each chunk is put on the line when the receiver writes something, like a sender that reacts.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "serial/testing/test_driver.h"
#include "serial/testing/virtual_clock.h"
#include "xfer/xfer.h"

namespace {

std::FILE* OpenNull(const brelin::xfer::XferView&, const char*, const char* mode) {
  return std::fopen("/dev/null", mode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brelin;
  if (size == 0) return 0;
  std::vector<std::string> chunks;
  for (std::size_t i = 1; i < size;) {
    const std::size_t n = std::min<std::size_t>(data[i], size - i - 1);
    chunks.emplace_back(reinterpret_cast<const char*>(data + i + 1), n);
    i += n + 1;
  }
  serial::testing::VirtualClock clock(0, 100);  // 100 ms per idle pass keeps the waits short
  serial::testing::TestLine line;
  serial::Port* port = line.Open();
  if (data[0] & 4) line.SetModemStatus(0);
  std::size_t next = 0;
  line.SetPeer([&](serial::testing::TestLine& l) {
    if (l.TakeOutput().empty()) return;
    if (next < chunks.size()) l.Feed(chunks[next++]);
  });
  if (!chunks.empty()) line.Feed(chunks[next++]);
  xfer::SetFileOpenHook(OpenNull);
  std::vector<std::int32_t> options;
  if (data[0] & 1) options.push_back(xfer::kOptChecksum);
  if (data[0] & 2) options.push_back(xfer::kOptCarrierWatch);
  options.push_back(xfer::kOptEnd);
  const int result = xfer::XferReceive(*port, "fuzz.bin", nullptr, nullptr, options.data());
  // 1, a serial code or one of the receiver's, which end with kXferCarrierLost.
  if (result != 1 && (result >= 0 || result < xfer::kXferCarrierLost)) __builtin_trap();
  port->Close();
  return 0;
}
