// Arbitrary instrument replies through the system reply parser and the DOWNLOAD reply checks. The
// bytes sit in a buffer of exactly their size, so a read past what was received is caught; the
// integer scanner is checked against strtoll.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "device/command.h"
#include "device/device_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brelin;
  auto reply = std::make_unique<std::uint8_t[]>(size);
  if (size > 0) std::memcpy(reply.get(), data, size);

  device::DeviceInfo info;
  device::ParseSystemInfo(info, reply.get(), size);
  device::ScanDownloadReply(info, reply.get(), size);
  device::DownloadRefused(reply.get(), size);

  // Up to the first NUL, the scanner reads what strtoll reads.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string prefix = text.substr(0, text.find('\0'));
  std::size_t pos = 0;
  std::int64_t value = 0;
  const bool scanned = device::ScanInteger(prefix, pos, 0, value);
  char* end = nullptr;
  const long long expected = std::strtoll(prefix.c_str(), &end, 0);
  if (scanned != (end != prefix.c_str())) std::abort();
  if (scanned && value != expected) std::abort();
  if (pos > prefix.size()) std::abort();
  return 0;
}
