#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/device_info.h"
#include "serial/port.h"

namespace brelin::device {

// The instrument's commands; each goes out followed by kCommandTerminator.
inline constexpr char kUnlockCommand[] = "UNLOCK";
inline constexpr char kDownloadCommand[] = "DOWNLOAD";
inline constexpr char kEmptyCommand[] = "";
inline constexpr char kSystemCommand[] = "system";
inline constexpr char kLockCommand[] = "LOCK";
inline constexpr char kEraseCommand[] = "ERASE 47190356";  // the access code is fixed
inline constexpr int kCommandTerminator = '\n';

inline constexpr char kAcceptedReply[] = "OK";
inline constexpr char kErrorReply[] = "ERROR";
inline constexpr std::string_view kRefusalReply{"BAD\n\r", 5};
inline constexpr unsigned kReplyLineSize = 19;  // 18 characters and the NUL
inline constexpr int kReplyTimeoutMs = 500;

// Sends command and terminator, then reads the reply line (at most 18 characters up to the
// terminator, within 500 ms) and one more character within 500 ms, which takes the CR that ends
// the instrument's line. Returns the characters of the line, possibly empty (no answer), or
// "ERROR" when the Port's status word is negative after sending or after reading (a line longer
// than 18 characters sets serial::kLineTooLong).
std::string SendCommand(serial::Port& port, const char* command, int terminator);

// A reply is accepted only when it is "OK" byte for byte.
bool ReplyAccepted(std::string_view reply);

// Reads the serial number after "KLV480 - " and the PCB number after "PCB: " out of the reply to
// "system". Only the `length` bytes received count, and the text ends at a NUL. Each number is
// read from the 9 characters after its marker as scanf's "%li" would (leading white space, a sign,
// 0x hexadecimal, leading 0 octal, else decimal); a missing marker or number keeps the field.
void ParseSystemInfo(DeviceInfo& info, const std::uint8_t* reply, std::size_t length);

// True when the DOWNLOAD reply starts with all five bytes of "BAD\n\r".
bool DownloadRefused(const std::uint8_t* reply, std::size_t length);

// Scans the DOWNLOAD reply as "%i %x %x" into downloadNumber, downloadWord1 and downloadWord2,
// looking only at the `length` bytes received; the fields from the first that fails keep their
// values.
void ScanDownloadReply(DeviceInfo& info, const std::uint8_t* reply, std::size_t length);

// Reads one integer the way scanf does, from text at pos: leading white space, an optional sign,
// then digits of `base` (16 takes an optional 0x prefix; 0 takes the base from the prefix: 0x
// hexadecimal, 0 octal, else decimal). On success stores the value (a magnitude beyond 63 bits
// saturates, as strtol does), moves pos past it and returns true; false when no digit was read.
bool ScanInteger(std::string_view text, std::size_t& pos, int base, std::int64_t& value);

}  // namespace brelin::device
