#include "serial/posix_driver.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial/discovery.h"
#include "serial/driver.h"
#include "serial/posix_sys.h"
#include "serial/timed_io.h"

namespace brelin::serial {
namespace {

// The queue model every driver presents, whatever the kernel's own buffers are.
constexpr int kQueueSize = 1050;
constexpr unsigned char kXon = 0x11;
constexpr unsigned char kXoff = 0x13;

const SysCalls kReal{
    .open = [](const char* path, int flags) { return ::open(path, flags); },
    .close = ::close,
    .read = ::read,
    .write = ::write,
    .ioctl = [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); },
    .tcgetattr = ::tcgetattr,
    .tcsetattr = ::tcsetattr,
    .tcflush = ::tcflush,
    .flock = ::flock,
    .poll = ::poll,
    .stat = [](const char* path, struct stat* info) { return ::stat(path, info); },
};
SysCalls sys = kReal;

// Repeats a call that a signal interrupted.
template <typename Call>
auto Retry(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

struct PosixPortData {
  int fd;
  int baudRate;
  int parity;  // the letter as given
  int dataBits;
  int stopBits;
  termios settings;                 // the driver's copy; every change is made here and then applied
  bool hungUp;                      // EIO or POLLHUP seen: the line is gone for good
  bool haveCounters;                // the device keeps error counters (TIOCGICOUNT)
  serial_icounter_struct counters;  // as of the last LineStatus or ClearLineStatus
  unsigned lineErrors;  // 0x02 overrun, 0x04 parity, 0x08 framing, 0x10 break, since cleared
};

PosixPortData& Data(Port& port) {
  return *static_cast<PosixPortData*>(port.driverData);
}

int Fail(Port& port, int code) {
  port.status = code;
  return code;
}

// EIO is what a device that has gone away (USB adapter pulled, pty master closed) answers to
// everything: the line is marked gone for good.
int FailErrno(Port& port) {
  if (errno == EIO) {
    static_cast<PosixPortData*>(port.driverData)->hungUp = true;
    return Fail(port, kNoDevice);
  }
  return Fail(port, MapSystemError(errno));
}

// A failed open keeps the system's error number for OpenFailureText. A directory, a path through
// a file and a device that is no terminal are no serial port either.
int FailOpen(Port& port, int error) {
  port.systemError = error;
  const bool noDevice = error == EISDIR || error == ENOTDIR || error == ENOTTY;
  return Fail(port, noDevice ? kNoDevice : MapSystemError(error));
}

int Ioctl(int fd, unsigned long request, void* arg) {
  return Retry([&] { return sys.ioctl(fd, request, arg); });
}

int ModemBits(int fd, unsigned long request, int bits) {
  return Ioctl(fd, request, &bits);
}

int Apply(Port& port) {
  PosixPortData& d = Data(port);
  if (Retry([&] { return sys.tcsetattr(d.fd, TCSANOW, &d.settings); }) != 0) return FailErrno(port);
  return kOk;
}

// Hang-up shows as POLLHUP/POLLERR/POLLNVAL before any read fails.
bool LineGone(Port& port) {
  PosixPortData& d = Data(port);
  if (!d.hungUp) {
    pollfd p{d.fd, POLLIN, 0};
    if (Retry([&] { return sys.poll(&p, 1, 0); }) > 0 &&
        (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      d.hungUp = true;
    }
  }
  return d.hungUp;
}

speed_t NearestSpeed(int baud) {
  static constexpr struct {
    int rate;
    speed_t code;
  } kSpeeds[] = {{50, B50},       {75, B75},        {110, B110},   {134, B134},     {150, B150},
                 {200, B200},     {300, B300},      {600, B600},   {1200, B1200},   {1800, B1800},
                 {2400, B2400},   {4800, B4800},    {9600, B9600}, {19200, B19200}, {38400, B38400},
                 {57600, B57600}, {115200, B115200}};
  speed_t best = B9600;
  int bestDistance = -1;
  for (const auto& s : kSpeeds) {
    int distance = std::abs(s.rate - baud);
    if (bestDistance < 0 || distance < bestDistance) {
      best = s.code;
      bestDistance = distance;
    }
  }
  return best;
}

void* NewData() {
  auto* d = static_cast<PosixPortData*>(AllocateZeroed(sizeof(PosixPortData)));
  if (d != nullptr) d->fd = -1;
  return d;
}

void DeleteData(void* data) {
  std::free(data);
}

void ReleaseDevice(PosixPortData& d) {
  if (d.fd < 0) return;
  sys.flock(d.fd, LOCK_UN);
  Ioctl(d.fd, TIOCNXCL, nullptr);
  sys.close(d.fd);  // not retried: Linux releases the descriptor even when interrupted
  d.fd = -1;
}

int OpenDevice(Port& port, int portNumber) {
  PosixPortData& d = Data(port);
  std::string path = PortPath(portNumber);
  if (path.empty()) return FailOpen(port, ENODEV);
  int fd =
      Retry([&] { return sys.open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
  port.status = kOk;
  if (fd < 0) return FailOpen(port, errno);
  d.fd = fd;
  // Root passes TIOCEXCL, and one process may open a path twice: the lock refuses both.
  if (Retry([&] { return sys.flock(fd, LOCK_EX | LOCK_NB); }) != 0) {
    const int error = errno;
    sys.close(fd);
    d.fd = -1;
    return FailOpen(port, error);
  }
  if (Retry([&] { return sys.tcgetattr(fd, &d.settings); }) != 0) {
    const int error = errno;
    ReleaseDevice(d);
    return FailOpen(port, error);
  }
  Ioctl(fd, TIOCEXCL, nullptr);

  termios& t = d.settings;
  cfmakeraw(&t);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  t.c_cflag &= ~(CRTSCTS | HUPCL);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VSTART] = kXon;
  t.c_cc[VSTOP] = kXoff;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  // Raw at once, so that a line setting SetLine refuses does not leave an echoing, line-editing
  // terminal behind; SetLine applies the rest.
  Retry([&] { return sys.tcsetattr(fd, TCSANOW, &t); });
  // Counters before the open are someone else's errors.
  d.haveCounters = Ioctl(fd, TIOCGICOUNT, &d.counters) == 0;
  ModemBits(fd, TIOCMBIS, TIOCM_DTR | TIOCM_RTS);  // a pty has no modem lines: ignored
  return kOk;
}

// Who may use the device at path, for a user the system refused: the group to join when the
// group may read and write it.
std::string NotAllowedHint(const std::string& path) {
  struct stat info {};
  if (sys.stat(path.c_str(), &info) != 0) {
    return "Your user may not use it: ask to join the group that owns the port ('dialout' on "
           "Debian), then log out and in again.";
  }
  constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
  if ((info.st_mode & kGroupReadWrite) != kGroupReadWrite) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return std::string("Your user may not use it: only its owner may (mode ") + mode +
           "). Ask the administrator for access.";
  }
  const group* owner = getgrgid(info.st_gid);
  const std::string name = owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
  return "Your user may not use it. It belongs to the group '" + name + "': join it with 'sudo " +
         "usermod -aG " + name + " $USER', then log out and in again (a new group counts from " +
         "the next login).";
}

std::string ExplainOpenFailure(const Port& port) {
  const std::string path = PortPath(port.portNumber);
  std::string where = path;
  if (path.empty() && port.portNumber >= 0) where = "number " + std::to_string(port.portNumber);
  const int error = port.systemError;
  if (error == 0) return StatusOpenFailure(where, port.status);
  std::string hint;
  switch (error) {
    case EACCES:
    case EPERM:
      hint = NotAllowedHint(path);
      break;
    case EBUSY:        // another holder of TIOCEXCL
    case EWOULDBLOCK:  // the lock of another Port
      hint =
          "Another program has the port open: ModemManager (it probes new USB serial adapters), "
          "a terminal program such as minicom or screen, or another Brelin. Close it and try "
          "again.";
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case EIO:  // a ttyS name without a UART behind it
      hint = kNoSuchPortHint;
      break;
    case ENOTTY:
    case EISDIR:
      hint =
          "It is not a serial device: list the ports with 'brelin-cli ports', or choose one in "
          "COM Port Setup.";
      break;
  }
  return OpenFailureMessage(where, std::strerror(error), hint);
}

int Descriptor(const Port& port) {
  auto* d = static_cast<const PosixPortData*>(port.driverData);
  return d != nullptr ? d->fd : -1;
}

int SetLine(Port& port, int baudRate, int parity, int dataBits, int stopBits) {
  if (int check = CheckLineSettings(baudRate, parity, dataBits, stopBits); check != kOk) {
    return Fail(port, check);
  }
  PosixPortData& d = Data(port);
  Parity p = Parity::kNone;
  DecodeParity(parity, &p);
  termios& t = d.settings;
  cfsetispeed(&t, NearestSpeed(baudRate));
  cfsetospeed(&t, NearestSpeed(baudRate));
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag = (t.c_cflag & ~CSIZE) | kSizes[dataBits - 5];
  t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
  switch (p) {
    case Parity::kNone:
      break;
    case Parity::kEven:
      t.c_cflag |= PARENB;
      break;
    case Parity::kOdd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case Parity::kMark:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case Parity::kSpace:
      t.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (stopBits == 2) {
    t.c_cflag |= CSTOPB;
  } else {
    t.c_cflag &= ~CSTOPB;
  }
  d.baudRate = baudRate;
  d.parity = parity;
  d.dataBits = dataBits;
  d.stopBits = stopBits;
  Apply(port);
  return port.status;
}

int UseXonXoff(Port& port, int on) {
  termios& t = Data(port).settings;
  t.c_iflag = on != 0 ? (t.c_iflag | IXON | IXOFF) : (t.c_iflag & ~(IXON | IXOFF));
  return Apply(port);
}

int UseRtsCts(Port& port, int on) {
  termios& t = Data(port).settings;
  t.c_cflag = on != 0 ? (t.c_cflag | CRTSCTS) : (t.c_cflag & ~CRTSCTS);
  int result = Apply(port);
  if (result == kOk && on == 0) ModemBits(Data(port).fd, TIOCMBIC, TIOCM_RTS);
  return result;
}

// Linux has no DTR/DSR handshake.
int UseDtrDsr(Port& port, int) {
  return Fail(port, kNotSupported);
}

int SetDtr(Port& port, int on) {
  ModemBits(Data(port).fd, on != 0 ? TIOCMBIS : TIOCMBIC, TIOCM_DTR);
  return kOk;
}

int SetRts(Port& port, int on) {
  ModemBits(Data(port).fd, on != 0 ? TIOCMBIS : TIOCMBIC, TIOCM_RTS);
  return kOk;
}

int TxUsed(Port& port) {
  int queued = 0;
  if (Ioctl(Data(port).fd, TIOCOUTQ, &queued) != 0) return FailErrno(port);
  return queued;
}

int TxFree(Port& port) {
  int used = TxUsed(port);
  return used < 0 ? used : std::max(0, kQueueSize - used);
}

int RxUsed(Port& port) {
  if (Data(port).hungUp) return Fail(port, kNoDevice);
  int queued = 0;
  if (Ioctl(Data(port).fd, FIONREAD, &queued) != 0) return FailErrno(port);
  // Input still queued is delivered first; an empty queue may mean the other side has gone.
  if (queued == 0 && LineGone(port)) return Fail(port, kNoDevice);
  return queued;
}

int RxFree(Port& port) {
  int used = RxUsed(port);
  return used < 0 ? used : std::max(0, kQueueSize - used);
}

int ClearTx(Port& port) {
  if (Retry([&] { return sys.tcflush(Data(port).fd, TCOFLUSH); }) != 0) return FailErrno(port);
  return kOk;
}

int WriteBuffer(Port& port, const void* data, unsigned n) {
  PosixPortData& d = Data(port);
  port.count = 0;
  if (d.hungUp) return Fail(port, kNoDevice);
  int used = TxUsed(port);
  if (used < 0) return used;
  unsigned room = static_cast<unsigned>(std::max(0, kQueueSize - used));
  size_t k = std::min<size_t>(n, room);
  if (k > 0) {
    ssize_t written = Retry([&] { return sys.write(d.fd, data, k); });
    if (written < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK) return FailErrno(port);
      written = 0;  // the kernel's buffer is full: no room after all
    }
    port.count = static_cast<std::uint32_t>(written);
  }
  return port.count >= n ? kOk : Fail(port, kTxQueueFull);
}

int WriteChar(Port& port, int c) {
  unsigned char byte = static_cast<unsigned char>(c & 0xFF);
  return WriteBuffer(port, &byte, 1);
}

int ReadBuffer(Port& port, void* buffer, unsigned n) {
  PosixPortData& d = Data(port);
  port.count = 0;
  if (d.hungUp) return Fail(port, kNoDevice);
  if (n == 0) return kNothingReceived;
  ssize_t got = Retry([&] { return sys.read(d.fd, buffer, n); });
  if (got > 0) {
    port.count = static_cast<std::uint32_t>(got);
    return kOk;
  }
  if (got == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
    // End of file on a terminal means the other side has gone.
    return LineGone(port) ? Fail(port, kNoDevice) : kNothingReceived;
  }
  return FailErrno(port);
}

int ReadChar(Port& port) {
  unsigned char byte = 0;
  int result = ReadBuffer(port, &byte, 1);
  return result != kOk ? result : byte;
}

int SendBreak(Port& port, int milliseconds) {
  int fd = Data(port).fd;
  Ioctl(fd, TIOCSBRK, nullptr);  // a pty cannot send a break: the pause is kept all the same
  IdleWait(port, milliseconds);
  Ioctl(fd, TIOCCBRK, nullptr);
  return kOk;
}

// A pty has no modem lines: not supported, which CarrierDetect's callers read as "carrier present".
// That is an answer, not a failure: the status word is left alone.
int ModemStatus(Port& port) {
  int bits = 0;
  if (Ioctl(Data(port).fd, TIOCMGET, &bits) != 0) {
    return errno == ENOTTY || errno == EINVAL ? kNotSupported : Fail(port, MapSystemError(errno));
  }
  return ((bits & TIOCM_CTS) ? 0x10 : 0) | ((bits & TIOCM_DSR) ? 0x20 : 0) |
         ((bits & TIOCM_RNG) ? 0x40 : 0) | ((bits & TIOCM_CAR) ? 0x80 : 0);
}

// Devices without error counters (a pty) report no errors; the status word is left alone.
int LineStatus(Port& port) {
  PosixPortData& d = Data(port);
  serial_icounter_struct now{};
  if (d.haveCounters && Ioctl(d.fd, TIOCGICOUNT, &now) == 0) {
    if (now.overrun != d.counters.overrun || now.buf_overrun != d.counters.buf_overrun) {
      d.lineErrors |= 0x02;
    }
    if (now.parity != d.counters.parity) d.lineErrors |= 0x04;
    if (now.frame != d.counters.frame) d.lineErrors |= 0x08;
    if (now.brk != d.counters.brk) d.lineErrors |= 0x10;
    d.counters = now;
  }
  return static_cast<int>(d.lineErrors & 0x1E);
}

int ClearLineStatus(Port& port) {
  PosixPortData& d = Data(port);
  LineStatus(port);  // move the baseline past what has been counted
  d.lineErrors = 0;
  return kOk;
}

__attribute__((format(printf, 2, 3))) void Emit(const DumpSink& out, const char* format, ...) {
  char line[160];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  out(line);
}

int Dump(Port& port, const DumpSink& out) {
  PosixPortData& d = Data(port);
  const termios& t = d.settings;
  auto bit = [](bool b) { return b ? 1 : 0; };
  int modemLines = 0;
  bool haveModem = Ioctl(d.fd, TIOCMGET, &modemLines) == 0;
  out("");
  Emit(out, "Port type:  POSIX termios  BaudRate: %-6d  DataBits: %1d  Parity: %c", d.baudRate,
       d.dataBits, d.parity & 0xDF);
  Emit(out, "StopBits: %1d Raw: %1d  CLOCAL: %1d  CREAD: %1d", d.stopBits,
       bit((t.c_lflag & ICANON) == 0), bit(t.c_cflag & CLOCAL), bit(t.c_cflag & CREAD));
  Emit(out, "InputCheck: %1d  CRTSCTS: %1d  DtrDsr: 0  IXON: %1d  IXOFF: %1d",
       bit(t.c_iflag & INPCK), bit(t.c_cflag & CRTSCTS), bit(t.c_iflag & IXON),
       bit(t.c_iflag & IXOFF));
  if (haveModem) {
    Emit(out, "DTR: %1d  RTS: %1d  VSTART: %02x  VSTOP: %02x", bit(modemLines & TIOCM_DTR),
         bit(modemLines & TIOCM_RTS), t.c_cc[VSTART], t.c_cc[VSTOP]);
  } else {
    Emit(out, "DTR: -  RTS: -  VSTART: %02x  VSTOP: %02x", t.c_cc[VSTART], t.c_cc[VSTOP]);
  }
  Emit(out, "VMIN: %-3u VTIME: %-3u Descriptor: %d", t.c_cc[VMIN], t.c_cc[VTIME], d.fd);
  int errors = LineStatus(port);
  int rx = 0, tx = 0;
  Ioctl(d.fd, FIONREAD, &rx);
  Ioctl(d.fd, TIOCOUTQ, &tx);
  Emit(out, "RX count/free: %5d/%-5d  TX count/free: %5d/%-5d  BREAK/FE/OE/PE: %d%d%d%d", rx,
       std::max(0, kQueueSize - rx), tx, std::max(0, kQueueSize - tx), bit(errors & 0x10),
       bit(errors & 0x08), bit(errors & 0x02), bit(errors & 0x04));
  const serial_icounter_struct& c = d.counters;
  if (d.haveCounters) {
    Emit(out, "Breaks: %d  Frame: %d  Overrun: %d  Parity: %d", c.brk, c.frame, c.overrun,
         c.parity);
  } else {
    Emit(out, "Line error counters: not kept by this device");
  }
  int modem = haveModem ? ModemStatus(port) : 0;
  Emit(out, "BufOverrun: %d  TX: %d  RX: %d  CTS/DSR/RI/CD: %d%d%d%d", c.buf_overrun, c.tx, c.rx,
       bit(modem & 0x10), bit(modem & 0x20), bit(modem & 0x40), bit(modem & 0x80));
  Emit(out, "Hung up: %d", bit(d.hungUp));
  return kOk;
}

int Close(Port& port) {
  int result = kOk;
  if (auto* d = static_cast<PosixPortData*>(port.driverData); d != nullptr) {
    if (d->fd >= 0) {
      ModemBits(d->fd, TIOCMBIC, TIOCM_DTR | TIOCM_RTS);
      sys.flock(d->fd, LOCK_UN);
      Ioctl(d->fd, TIOCNXCL, nullptr);
      if (sys.close(d->fd) != 0 && errno != EINTR) result = MapSystemError(errno);
    }
    DeleteData(d);
    port.driverData = nullptr;
  }
  UnlinkAndRelease(port);
  return result;
}

const Driver kPosixDriver{
    .kind = kPosixDriverKind,
    .PlatformCheck = nullptr,
    .NewData = NewData,
    .DeleteData = DeleteData,
    .OpenDevice = OpenDevice,
    .Descriptor = Descriptor,
    .ArrivalEvent = nullptr,
    .ExplainOpenFailure = ExplainOpenFailure,
    .ops =
        {
            .ReadChar = ReadChar,
            .SpareOp1 = nullptr,
            .WriteChar = WriteChar,
            .Close = Close,
            .SetLine = SetLine,
            .UseXonXoff = UseXonXoff,
            .UseRtsCts = UseRtsCts,
            .UseDtrDsr = UseDtrDsr,
            .SetDtr = SetDtr,
            .SetRts = SetRts,
            .TxFree = TxFree,
            .TxUsed = TxUsed,
            .RxFree = RxFree,
            .RxUsed = RxUsed,
            .ClearTx = ClearTx,
            .WriteBuffer = WriteBuffer,
            .ReadBuffer = ReadBuffer,
            .Dump = Dump,
            .SendBreak = SendBreak,
            .ModemStatus = ModemStatus,
            .LineStatus = LineStatus,
            .ClearLineStatus = ClearLineStatus,
            .SpareOp2 = nullptr,
            .ClearError = nullptr,
        },
};

}  // namespace

SysCalls& Sys() {
  return sys;
}
const SysCalls& RealSysCalls() {
  return kReal;
}

const Driver& PosixDriver() {
  return kPosixDriver;
}

}  // namespace brelin::serial
