// ReadLine, ReadBlock and ReadCharTimed over the in-memory line with input arriving in arbitrary
// chunks at arbitrary times: nothing may be written past the buffer, the text is always closed, the
// count stays below the capacity and every result is one the callers know.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "serial/testing/test_driver.h"
#include "serial/testing/virtual_clock.h"
#include "serial/timed_io.h"

namespace s = brelin::serial;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const unsigned capacity = data[0] % 24;  // 0 and 1 are rejected, the rest are tiny on purpose
  const int terminators[] = {'\n', '\r', 0, 255, -1, -2, -3, 256};
  const int terminator = terminators[data[1] % 8];
  const unsigned chunk = data[2] % 5;
  const int timeout = (data[3] % 4 == 0) ? 0 : 100 * (data[3] % 4);
  data += 4;
  size -= 4;

  s::testing::VirtualClock clock;
  s::testing::TestLine line;
  // The rest: pairs of (delay, length) headers followed by that many bytes.
  std::uint32_t at = 0;
  while (size >= 2) {
    at += data[0];
    std::size_t n = std::min<std::size_t>(data[1] % 16, size - 2);
    line.FeedAt(at, std::string_view(reinterpret_cast<const char*>(data + 2), n));
    data += 2 + n;
    size -= 2 + n;
  }
  line.SetReadChunk(chunk);
  s::Port* port = line.Open();

  std::vector<char> buffer(capacity + 1, '#');  // one guard byte past the capacity
  for (int round = 0; round < 8; ++round) {
    int result = s::ReadLine(*port, buffer.data(), capacity, terminator, timeout);
    if (result == s::kInvalidArgument) break;
    if (result != s::kOk && result != s::kNothingReceived && result != s::kLineTooLong) abort();
    if (port->count >= capacity || buffer[port->count] != '\0') abort();
    if (buffer[capacity] != '#') abort();
    port->ClearError();
  }
  port->ClearError();  // a rejected ReadLine leaves kInvalidArgument for ReadBlock to report
  unsigned char block[8];
  int result = s::ReadBlock(*port, block, sizeof block, timeout);
  if ((result != s::kOk && result != s::kNothingReceived) || port->count > sizeof block) abort();
  int c = s::ReadCharTimed(*port, timeout);
  if (c < s::kNothingReceived || c > 255) abort();
  port->Close();
  return 0;
}
