#include "serial/port.h"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>

#include "serial/driver.h"

// The one place that picks the platform's driver and the meaning of its error codes.
#ifdef _WIN32
#include "serial/win_driver.h"
#define BRELIN_PLATFORM_DRIVER WindowsDriver
#define BRELIN_PLATFORM_ERRORS MapWindowsError
#else
#include "serial/posix_driver.h"
#define BRELIN_PLATFORM_DRIVER PosixDriver
#define BRELIN_PLATFORM_ERRORS MapPosixError
#endif

namespace brelin::serial {
namespace {

Port* portList = nullptr;
bool closeAllRegistered = false;
Port failurePort;  // handed out when memory runs out; never released
const Driver* defaultDriver = nullptr;
Allocator allocator = nullptr;

int Unsupported(Port& port) {
  port.status = kNotSupported;
  return kNotSupported;
}
template <typename... Args>
int UnsupportedWith(Port& port, Args...) {
  return Unsupported(port);
}

int DumpUnsupported(Port& port, const DumpSink& out) {
  out("Port dump not supported for this driver");
  out("");
  return Unsupported(port);
}

void Unlink(Port& port) {
  for (Port** link = &portList; *link != nullptr; link = &(*link)->next) {
    if (*link == &port) {
      *link = port.next;
      break;
    }
  }
  port.next = nullptr;
}

void Release(Port& port) {
  if (&port == &failurePort) return;
  port.~Port();
  std::free(&port);
}

int DefaultClose(Port& port) {
  UnlinkAndRelease(port);
  return kOk;
}

void DefaultClearError(Port& port) {
  port.status = kOk;
}

constexpr PortOps kDefaultOps = {
    .ReadChar = Unsupported,
    .SpareOp1 = Unsupported,
    .WriteChar = UnsupportedWith<int>,
    .Close = DefaultClose,
    .SetLine = UnsupportedWith<int, int, int, int>,
    .UseXonXoff = UnsupportedWith<int>,
    .UseRtsCts = UnsupportedWith<int>,
    .UseDtrDsr = UnsupportedWith<int>,
    .SetDtr = UnsupportedWith<int>,
    .SetRts = UnsupportedWith<int>,
    .TxFree = Unsupported,
    .TxUsed = Unsupported,
    .RxFree = Unsupported,
    .RxUsed = Unsupported,
    .ClearTx = Unsupported,
    .WriteBuffer = UnsupportedWith<const void*, unsigned>,
    .ReadBuffer = UnsupportedWith<void*, unsigned>,
    .Dump = DumpUnsupported,
    .SendBreak = UnsupportedWith<int>,
    .ModemStatus = Unsupported,
    .LineStatus = Unsupported,
    .ClearLineStatus = Unsupported,
    .SpareOp2 = Unsupported,
    .ClearError = DefaultClearError,
};

// Registration, list membership and default operations; no other field is touched.
void Initialise(Port& port) {
  if (!closeAllRegistered) {
    closeAllRegistered = true;
    std::atexit(CloseAllPorts);
  }
  Unlink(port);  // the FailurePort may still be listed from an earlier hand-out
  port.next = portList;
  portList = &port;
  port.ops = kDefaultOps;
}

Port* HandOutFailurePort() {
  Initialise(failurePort);
  failurePort.driverData = nullptr;
  failurePort.driver = nullptr;
  failurePort.portNumber = -1;
  failurePort.driverKind = -1;
  failurePort.status = kOutOfMemory;
  failurePort.systemError = 0;
  return &failurePort;
}

template <typename Slot>
void Install(Slot& slot, Slot op) {
  if (op != nullptr) slot = op;
}

void InstallDriverOps(PortOps& ops, const PortOps& from) {
  Install(ops.ReadChar, from.ReadChar);
  Install(ops.SpareOp1, from.SpareOp1);
  Install(ops.WriteChar, from.WriteChar);
  Install(ops.Close, from.Close);
  Install(ops.SetLine, from.SetLine);
  Install(ops.UseXonXoff, from.UseXonXoff);
  Install(ops.UseRtsCts, from.UseRtsCts);
  Install(ops.UseDtrDsr, from.UseDtrDsr);
  Install(ops.SetDtr, from.SetDtr);
  Install(ops.SetRts, from.SetRts);
  Install(ops.TxFree, from.TxFree);
  Install(ops.TxUsed, from.TxUsed);
  Install(ops.RxFree, from.RxFree);
  Install(ops.RxUsed, from.RxUsed);
  Install(ops.ClearTx, from.ClearTx);
  Install(ops.WriteBuffer, from.WriteBuffer);
  Install(ops.ReadBuffer, from.ReadBuffer);
  Install(ops.Dump, from.Dump);
  Install(ops.SendBreak, from.SendBreak);
  Install(ops.ModemStatus, from.ModemStatus);
  Install(ops.LineStatus, from.LineStatus);
  Install(ops.ClearLineStatus, from.ClearLineStatus);
  Install(ops.SpareOp2, from.SpareOp2);
  // ClearError is the same in every Port.
}

}  // namespace

void UnlinkAndRelease(Port& port) {
  Unlink(port);
  Release(port);
}

void SetAllocator(Allocator a) {
  allocator = a;
}

void* AllocateZeroed(std::size_t size) {
  return allocator != nullptr ? allocator(size) : std::calloc(1, size);
}

const Driver& DefaultDriver() {
  return defaultDriver != nullptr ? *defaultDriver : BRELIN_PLATFORM_DRIVER();
}

void SetDefaultDriver(const Driver* driver) {
  defaultDriver = driver;
}

Port* OpenPort(int portNumber, int baudRate, int parity, int dataBits, int stopBits) {
  return OpenPort(DefaultDriver(), portNumber, baudRate, parity, dataBits, stopBits);
}

Port* OpenPort(const Driver& driver, int portNumber, int baudRate, int parity, int dataBits,
               int stopBits) {
  void* memory = AllocateZeroed(sizeof(Port));
  if (memory == nullptr) return HandOutFailurePort();
  Port* port = new (memory) Port{};
  Initialise(*port);
  port->portNumber = portNumber;
  port->driverKind = driver.kind;
  port->driver = &driver;  // also when the open fails: the driver explains why

  if (driver.PlatformCheck != nullptr && driver.PlatformCheck() != kOk) {
    port->status = kNotSupported;
    return port;
  }
  void* data = driver.NewData();
  if (data == nullptr) {
    DefaultClose(*port);
    return HandOutFailurePort();
  }
  port->driverData = data;

  if (int result = driver.OpenDevice(*port, portNumber); result < 0) {
    // The unopened Port only has the default Close, which knows nothing of the record.
    driver.DeleteData(data);
    port->driverData = nullptr;
    port->status = result;
    return port;
  }
  if (driver.ops.SetLine != nullptr)
    driver.ops.SetLine(*port, baudRate, parity, dataBits, stopBits);
  InstallDriverOps(port->ops, driver.ops);
  return port;
}

std::string OpenFailureText(const Port& port) {
  if (port.driver != nullptr && port.driver->ExplainOpenFailure != nullptr) {
    return port.driver->ExplainOpenFailure(port);
  }
  return StatusOpenFailure(port.portNumber < 0 ? "" : std::to_string(port.portNumber), port.status);
}

std::string OpenFailureMessage(std::string_view port, std::string_view reason,
                               std::string_view hint) {
  std::string text = "Cannot open serial port";
  if (!port.empty()) (text += ' ') += port;
  (text += ": ") += reason;
  if (!hint.empty()) (text += '\n') += hint;
  return text;
}

std::string StatusOpenFailure(std::string_view port, int status) {
  switch (status) {
    case kNoDevice:
      return OpenFailureMessage(port, "no such port", kNoSuchPortHint);
    case kPortInUse:
      return OpenFailureMessage(port, "in use by another program, or not allowed", "");
    case kOutOfMemory:
      return OpenFailureMessage(port, "out of memory", "");
    case kNotSupported:
      return OpenFailureMessage(port, "serial ports are not supported on this system", "");
    case kBadBaudRate:
    case kBadParity:
    case kBadDataBits:
    case kBadStopBits:
      return OpenFailureMessage(port, "the line settings were refused", "");
    default:
      return OpenFailureMessage(port, "error " + std::to_string(status), "");
  }
}

void CloseAllPorts() {
  while (portList != nullptr) portList->Close();
}

Port* PortListHead() {
  return portList;
}

int CarrierDetect(Port& port) {
  int modem = port.ModemStatus();
  return modem <= 0 ? modem : (modem & 0x80);
}

int MapSystemError(int error) {
  return BRELIN_PLATFORM_ERRORS(error);
}

int MapWindowsError(int error) {
  switch (error) {
    case 2:  // ERROR_FILE_NOT_FOUND
    case 3:  // ERROR_PATH_NOT_FOUND
      return kNoDevice;
    // What a device that is unplugged or whose line is gone answers, depending on its driver.
    case 21:    // ERROR_NOT_READY (Wine, when the pty behind a COM port hangs up)
    case 22:    // ERROR_BAD_COMMAND
    case 31:    // ERROR_GEN_FAILURE
    case 1167:  // ERROR_DEVICE_NOT_CONNECTED
      return kNoDevice;
    case 5:  // ERROR_ACCESS_DENIED
      return kPortInUse;
    // The open errors of the 16-bit communications interface.
    case -1:
      return kInvalidPort;
    case -2:
      return kPortInUse;
    case -4:
      return kOutOfMemory;
    case -10:
      return kNoDevice;
    case -11:
      return kBadDataBits;
    case -12:
      return kBadBaudRate;
    default:
      return kPlatformFailure;
  }
}

int MapPosixError(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return kNoDevice;
    case EBUSY:
    case EWOULDBLOCK:
    case EACCES:
    case EPERM:
      return kPortInUse;
    case ENOMEM:
      return kOutOfMemory;
    default:
      return kPlatformFailure;
  }
}

int PortDescriptor(const Port& port) {
  if (port.driver == nullptr || port.driver->Descriptor == nullptr) return -1;
  return port.driver->Descriptor(port);
}

void* PortArrivalEvent(Port& port) {
  if (port.driver == nullptr || port.driver->ArrivalEvent == nullptr) return nullptr;
  return port.driver->ArrivalEvent(port);
}

void RestoreStatus(Port& port, std::int32_t saved) {
  port.status = saved;
}

void SetCount(Port& port, std::uint32_t count) {
  port.count = count;
}

}  // namespace brelin::serial
