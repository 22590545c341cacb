#pragma once

namespace brelin::serial {

// Results of the serial layer's operations. kOk (or a byte, or a count) is success; a failing
// operation also writes its code into the Port's sticky status word, except kNothingReceived.
inline constexpr int kOk = 0;
inline constexpr int kPlatformFailure = -1;  // any other system failure
inline constexpr int kInvalidPort = -2;      // invalid port identifier
inline constexpr int kPortInUse = -3;        // in use, or access denied
inline constexpr int kOutOfMemory = -5;
inline constexpr int kInvalidArgument = -7;
inline constexpr int kNothingReceived = -8;  // nothing queued, or a timed wait ran out
inline constexpr int kTxQueueFull = -9;      // fewer bytes taken than asked
inline constexpr int kNoDevice = -14;        // no such port, hardware failure, line gone
inline constexpr int kNotSupported = -24;
inline constexpr int kBadBaudRate = -25;
inline constexpr int kBadParity = -26;
inline constexpr int kBadDataBits = -27;
inline constexpr int kBadStopBits = -28;
inline constexpr int kLineTooLong = -31;  // ReadLine: line longer than the buffer
inline constexpr int kTxBusy = -36;       // transmitter cannot take data: as kTxQueueFull

}  // namespace brelin::serial
