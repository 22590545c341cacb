#include "device/command.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "serial/timed_io.h"

namespace brelin::device {
namespace {

constexpr std::string_view kSerialMarker = "KLV480 - ";
constexpr std::string_view kPcbMarker = "PCB: ";
constexpr std::size_t kNumberWindow = 9;  // characters after a marker that may hold its number

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The reply as text: its received bytes up to the first NUL.
std::string_view ReplyText(const std::uint8_t* reply, std::size_t length) {
  if (reply == nullptr) return {};
  const auto* begin = reinterpret_cast<const char*>(reply);
  const void* nul = std::memchr(begin, 0, length);
  return {begin, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - begin) : length};
}

void ParseNumberAfter(std::string_view text, std::string_view marker, std::int32_t& field) {
  const std::size_t at = text.find(marker);
  if (at == std::string_view::npos) return;
  const std::string_view window = text.substr(at + marker.size(), kNumberWindow);
  std::size_t pos = 0;
  std::int64_t value = 0;
  if (ScanInteger(window, pos, 0, value)) field = static_cast<std::int32_t>(value);
}

}  // namespace

std::string SendCommand(serial::Port& port, const char* command, int terminator) {
  serial::WriteString(port, command, terminator);
  if (port.status < 0) return kErrorReply;
  char line[kReplyLineSize] = {};
  serial::SetCount(port, 0);
  serial::ReadLine(port, line, sizeof line, terminator, kReplyTimeoutMs);
  if (port.status < 0) return kErrorReply;
  const std::size_t stored = std::min<std::size_t>(port.count, sizeof line - 1);
  serial::ReadCharTimed(port, kReplyTimeoutMs);  // the CR after the LF, if it comes
  return std::string(line, stored);
}

bool ReplyAccepted(std::string_view reply) {
  return reply == kAcceptedReply;
}

void ParseSystemInfo(DeviceInfo& info, const std::uint8_t* reply, std::size_t length) {
  const std::string_view text = ReplyText(reply, length);
  ParseNumberAfter(text, kSerialMarker, info.serialNumber);
  ParseNumberAfter(text, kPcbMarker, info.pcbNumber);
}

bool DownloadRefused(const std::uint8_t* reply, std::size_t length) {
  return reply != nullptr && length >= kRefusalReply.size() &&
         std::memcmp(reply, kRefusalReply.data(), kRefusalReply.size()) == 0;
}

void ScanDownloadReply(DeviceInfo& info, const std::uint8_t* reply, std::size_t length) {
  const std::string_view text = ReplyText(reply, length);
  std::size_t pos = 0;
  std::int64_t value = 0;
  if (!ScanInteger(text, pos, 0, value)) return;
  info.downloadNumber = static_cast<std::int32_t>(value);
  if (!ScanInteger(text, pos, 16, value)) return;
  info.downloadWord1 = static_cast<std::uint32_t>(value);
  if (!ScanInteger(text, pos, 16, value)) return;
  info.downloadWord2 = static_cast<std::uint32_t>(value);
}

bool ScanInteger(std::string_view text, std::size_t& pos, int base, std::int64_t& value) {
  std::size_t i = pos;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  bool digits = false;
  if ((base == 0 || base == 16) && i < text.size() && text[i] == '0') {
    ++i;
    digits = true;  // "0x" with no hexadecimal digit after it still reads as 0
    if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
      ++i;
      base = 16;
    } else if (base == 0) {
      base = 8;
    }
  }
  if (base == 0) base = 10;

  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit < 0 || digit >= base) break;
    digits = true;
    const auto d = static_cast<std::uint64_t>(digit);
    magnitude = magnitude > (limit - d) / static_cast<std::uint64_t>(base)
                    ? limit
                    : magnitude * static_cast<std::uint64_t>(base) + d;
  }
  if (!digits) return false;
  value =
      negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  pos = i;
  return true;
}

}  // namespace brelin::device
