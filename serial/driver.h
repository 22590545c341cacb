#pragma once

// What a driver author needs: the Driver table, the helpers every driver's open and close use,
// error mapping and the line-setting checks. Callers of a Port include serial/port.h instead.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "serial/port.h"
#include "serial/port_status.h"

namespace brelin::serial {

// What a driver contributes to OpenPort. Null operations keep their defaults.
struct Driver {
  std::int32_t kind;               // stored in Port::driverKind
  int (*PlatformCheck)();          // kOk when the platform can be served; null = always
  void* (*NewData)();              // zero-filled private record, or null when out of memory
  void (*DeleteData)(void* data);  // releases what NewData made (used by Close paths)
  // kOk, or a negative PortStatus (also in the status word).
  int (*OpenDevice)(Port&, int portNumber);
  // Descriptor that becomes readable when input arrives, for idle hooks that wait in poll();
  // -1 when there is none (the in-memory test driver).
  int (*Descriptor)(const Port&);
  // The Windows counterpart: an event handle that is signalled when input arrives, for idle hooks
  // that wait in WaitForMultipleObjects; null when there is none. Called once per wait slice: an
  // event that has fired is handed out once more (still signalled), then the wait is armed again.
  void* (*ArrivalEvent)(Port&);
  // OpenFailureText for one of its Ports; null: the text the status word alone gives.
  std::string (*ExplainOpenFailure)(const Port&);
  PortOps ops;
};

inline constexpr std::int32_t kWindowsDriverKind = 15;
inline constexpr std::int32_t kPosixDriverKind = 16;
inline constexpr std::int32_t kTestDriverKind = 17;

// The driver OpenPort uses: the platform's own unless replaced (tests install the in-memory one).
const Driver& DefaultDriver();
void SetDefaultDriver(const Driver* driver);  // nullptr restores the platform driver

// OpenPort through the given driver instead of the default one; the same results.
Port* OpenPort(const Driver& driver, int portNumber, int baudRate, int parity, int dataBits,
               int stopBits);

// Unlinks the Port from PortList and releases it (the FailurePort is only unlinked): the last step
// of every driver's Close, whatever failed before it.
void UnlinkAndRelease(Port& port);

// Zero-filled memory for Ports and driver records (released with std::free); null when out of
// memory. Tests replace the allocator to reach the out-of-memory paths; nullptr restores calloc.
using Allocator = void* (*)(std::size_t size);
void SetAllocator(Allocator allocator);
void* AllocateZeroed(std::size_t size);

// "Cannot open serial port <port>: <reason>", then the hint on a line of its own when there is
// one: the form of every OpenFailureText.
std::string OpenFailureMessage(std::string_view port, std::string_view reason,
                               std::string_view hint);

// OpenFailureMessage from the status word alone, for an open that failed without a system error.
std::string StatusOpenFailure(std::string_view port, int status);

// The hint for a port that does not exist, the same in every front end.
inline constexpr char kNoSuchPortHint[] =
    "There is no such port: list the ports with 'brelin-cli ports', or choose one in COM Port "
    "Setup.";

// Translates the platform's error code (errno, or GetLastError on Windows) into a PortStatus.
int MapSystemError(int error);

// errno: ENOENT/ENODEV/ENXIO kNoDevice; EBUSY/EWOULDBLOCK/EACCES/EPERM kPortInUse; ENOMEM
// kOutOfMemory; anything else kPlatformFailure.
int MapPosixError(int error);

// Win32 error: file or path not found kNoDevice; access denied kPortInUse; the open errors of the
// 16-bit interface -1 kInvalidPort, -2 kPortInUse, -4 kOutOfMemory, -10 kNoDevice, -11
// kBadDataBits, -12 kBadBaudRate; anything else kPlatformFailure.
int MapWindowsError(int error);

inline constexpr int kMaxBaudRate = 115200;

// Parity letters as drivers accept them: the low byte with bit 0x20 cleared, so either case works.
enum class Parity { kNone, kOdd, kEven, kMark, kSpace };

// kOk and the parity in *out, or kBadParity for a letter other than E, M, N, O, S.
inline int DecodeParity(int letter, Parity* out) {
  switch ((letter & 0xFF) & ~0x20) {
    case 'E':
      *out = Parity::kEven;
      return kOk;
    case 'M':
      *out = Parity::kMark;
      return kOk;
    case 'N':
      *out = Parity::kNone;
      return kOk;
    case 'O':
      *out = Parity::kOdd;
      return kOk;
    case 'S':
      *out = Parity::kSpace;
      return kOk;
    default:
      return kBadParity;
  }
}

// The checks every driver's SetLine makes, in this order: kBadBaudRate above kMaxBaudRate (or not
// positive), kBadParity, kBadStopBits other than 1 or 2, kBadDataBits outside 5..8; else kOk.
inline int CheckLineSettings(int baudRate, int parity, int dataBits, int stopBits) {
  Parity p;
  if (baudRate > kMaxBaudRate || baudRate <= 0) return kBadBaudRate;
  if (DecodeParity(parity, &p) != kOk) return kBadParity;
  if (stopBits != 1 && stopBits != 2) return kBadStopBits;
  if (dataBits < 5 || dataBits > 8) return kBadDataBits;
  return kOk;
}

}  // namespace brelin::serial
