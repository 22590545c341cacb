// The termios driver over real pseudo-terminal pairs: the test holds the master side, the driver
// opens the slave by path like any serial device.
#include "serial/posix_driver.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "serial/discovery.h"
#include "serial/driver.h"
#include "serial/posix_sys.h"
#include "serial/testing/virtual_clock.h"
#include "serial/timed_io.h"

namespace brelin::serial {
namespace {

constexpr int kGenerous = 5000;  // ms; only reached when something is broken

class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int slave = -1;
    char name[128];
    ASSERT_EQ(openpty(&master_, &slave, name, nullptr, nullptr), 0);
    close(slave);
    index_ = AddPortPath(name);
  }
  void TearDown() override {
    CloseAllPorts();
    Sys() = RealSysCalls();
    HangUp();
  }
  Port* Open(int baud = 9600) { return OpenPort(PosixDriver(), index_, baud, 'N', 8, 1); }
  termios Settings() {
    termios t{};
    tcgetattr(master_, &t);  // a pty pair shares one termios
    return t;
  }
  std::string ReadMaster(size_t n) {
    std::string got(n, '\0');
    for (size_t at = 0; at < n;) {
      ssize_t r = read(master_, got.data() + at, n - at);
      if (r <= 0) return got.substr(0, at);
      at += static_cast<size_t>(r);
    }
    return got;
  }
  void WaitForInput(Port& port) {
    pollfd p{PortDescriptor(port), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, kGenerous), 1);
  }
  void HangUp() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  int master_ = -1;
  int index_ = -1;
};

TEST_F(PtyTest, OpenMakesTheLineRawEvenWhenItsSettingsAreRefused) {
  ASSERT_NE(Settings().c_lflag & ICANON, 0u);  // a fresh pty edits lines
  EXPECT_EQ(Open(230400)->status, kBadBaudRate);
  EXPECT_EQ(Settings().c_lflag & (ICANON | ECHO), 0u);
  CloseAllPorts();
  Port* port = Open();
  ASSERT_EQ(port->status, kOk);
  EXPECT_EQ(port->driverKind, kPosixDriverKind);
  termios t = Settings();
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cflag & (CRTSCTS | PARENB | CSTOPB | CSIZE), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  std::vector<std::string> lines;
  EXPECT_EQ(port->Dump([&](std::string_view l) { lines.emplace_back(l); }), kOk);
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[1], "Port type:  POSIX termios  BaudRate: 9600    DataBits: 8  Parity: N");
}

TEST_F(PtyTest, SetLineValidatesAndApplies) {
  Port* port = Open();
  const int cases[][5] = {{115201, 'N', 8, 1, kBadBaudRate}, {0, 'N', 8, 1, kBadBaudRate},
                          {9600, 'X', 8, 1, kBadParity},     {9600, 'n' + 256, 8, 1, kOk},
                          {9600, 'N', 8, 3, kBadStopBits},   {9600, 'N', 8, 0, kBadStopBits},
                          {9600, 'N', 9, 1, kBadDataBits}};
  for (auto [baud, parity, dataBits, stopBits, result] : cases) {
    port->ClearError();
    EXPECT_EQ(port->SetLine(baud, parity, dataBits, stopBits), result) << baud << stopBits;
    EXPECT_EQ(port->status, result);
  }
  port->ClearError();
  // A pty keeps CS8 and clears PARENB itself; what it keeps shows the rest was applied.
  auto applied = [&] {
    termios t = Settings();
    return std::pair{cfgetospeed(&t), t.c_cflag & (PARODD | CMSPAR | CSTOPB)};
  };
  EXPECT_EQ(port->SetLine(19200, 'm', 7, 2), kOk);
  EXPECT_EQ(applied(), std::pair(speed_t{B19200}, tcflag_t{PARODD | CMSPAR | CSTOPB}));
  EXPECT_EQ(port->SetLine(10000, 's', 8, 1), kOk);  // nearest standard speed
  EXPECT_EQ(applied(), std::pair(speed_t{B9600}, tcflag_t{CMSPAR}));
  EXPECT_EQ(port->UseXonXoff(1), kOk);
  EXPECT_EQ(Settings().c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(port->UseDtrDsr(1), kNotSupported);
  EXPECT_EQ(port->SetDtr(0), kOk);  // a pty has no modem lines; the contract says kOk
  port->ClearError();
  EXPECT_EQ(CarrierDetect(*port), kNotSupported);
  EXPECT_EQ(port->status, kOk) << "no modem lines is an answer, not a failure";
}

// The hints of OpenFailureText, after the system's words.
const std::string kNotSerial =
    "\nIt is not a serial device: list the ports with 'brelin-cli ports', or choose one in COM "
    "Port Setup.";
const std::string kNoSuchPort = std::string("\n") + kNoSuchPortHint;
const std::string kInUse =
    "\nAnother program has the port open: ModemManager (it probes new USB serial adapters), a "
    "terminal program such as minicom or screen, or another Brelin. Close it and try again.";

std::ptrdiff_t OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                       std::filesystem::directory_iterator());
}

TEST_F(PtyTest, PortIsExclusive) {
  Port* first = Open();
  ASSERT_EQ(first->status, kOk);
  const auto descriptors = OpenDescriptors();
  Port* second = Open();  // same process, same path
  EXPECT_EQ(second->status, kPortInUse);
  EXPECT_EQ(OpenDescriptors(), descriptors);  // the refused open let its descriptor go
  EXPECT_EQ(OpenFailureText(*second), "Cannot open serial port " + PortPath(index_) +
                                          ": Resource temporarily unavailable" + kInUse);
  EXPECT_EQ(second->ReadChar(), kNotSupported);
  second->Close();
  pid_t child = fork();
  if (child == 0) _exit(Open()->status == kPortInUse ? 0 : 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened it";
  EXPECT_EQ(first->Close(), kOk);
  EXPECT_EQ(Open()->status, kOk);  // Close gave the lock back
  CloseAllPorts();
  Sys().open = [](const char*, int) {  // root ignores permissions, so a refusal is simulated
    errno = EACCES;
    return -1;
  };
  EXPECT_EQ(Open()->status, kPortInUse);
}

TEST_F(PtyTest, PathsThatAreNoSerialDeviceSayWhy) {
  char file[] = "/tmp/brelin-not-a-port-XXXXXX";
  close(mkstemp(file));
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/does-not-exist", "No such file or directory" + kNoSuchPort},
      {"/dev/null/below-a-file", "Not a directory" + kNoSuchPort},
      {"/dev/null", "Inappropriate ioctl for device" + kNotSerial},
      {file, "Inappropriate ioctl for device" + kNotSerial},
      {"/tmp", "Is a directory" + kNotSerial}};
  for (const auto& [path, why] : cases) {
    Port* port = OpenPort(PosixDriver(), AddPortPath(path), 9600, 'N', 8, 1);
    EXPECT_EQ(port->status, kNoDevice) << path;
    EXPECT_EQ(OpenFailureText(*port), "Cannot open serial port " + path + ": " + why);
  }
  unlink(file);
  Port* port = OpenPort(PosixDriver(), 100000, 9600, 'N', 8, 1);  // not in the table
  EXPECT_EQ(port->status, kNoDevice);
  EXPECT_EQ(OpenFailureText(*port),
            "Cannot open serial port number 100000: No such device" + kNoSuchPort);
  EXPECT_EQ(OpenFailureText(*OpenPort(PosixDriver(), -1, 9600, 'N', 8, 1)),
            "Cannot open serial port: No such device" + kNoSuchPort)
      << "no port chosen";
}

// Each way the system refuses an open, made through the system-call seam: the status word, the
// error number kept, and what the operator reads after "Cannot open serial port <path>: ".
struct OpenRefusal {
  const char* name;
  enum Call { kOpen, kLock, kTerminal } call;
  int error, status;
  std::string why;
  const char* group = nullptr;  // EACCES/EPERM: the device's group, by name
  mode_t mode = 0;              // and its mode; 0: stat fails
};

OpenRefusal::Call failingCall;
int failingError;
struct stat deviceInfo;

bool Failing(OpenRefusal::Call call) {
  if (failingCall != call) return false;
  errno = failingError;
  return true;
}

class OpenRefusals : public PtyTest, public ::testing::WithParamInterface<OpenRefusal> {};

TEST_P(OpenRefusals, SayWhatHappenedWhereAndWhatToDo) {
  const OpenRefusal& r = GetParam();
  failingCall = r.call;
  failingError = r.error;
  deviceInfo = {};
  deviceInfo.st_mode = S_IFCHR | r.mode;
  deviceInfo.st_gid = 54321;  // a number without a name
  if (r.group != nullptr) {
    const group* g = getgrnam(r.group);
    if (g == nullptr) GTEST_SKIP() << "no group " << r.group << " here";
    deviceInfo.st_gid = g->gr_gid;
  } else if (getgrgid(deviceInfo.st_gid) != nullptr) {
    GTEST_SKIP() << "group 54321 has a name here";
  }
  Sys().open = [](const char* path, int flags) {
    return Failing(OpenRefusal::kOpen) ? -1 : RealSysCalls().open(path, flags);
  };
  Sys().flock = [](int fd, int operation) {
    return Failing(OpenRefusal::kLock) && operation != LOCK_UN
               ? -1
               : RealSysCalls().flock(fd, operation);
  };
  Sys().tcgetattr = [](int fd, termios* t) {
    return Failing(OpenRefusal::kTerminal) ? -1 : RealSysCalls().tcgetattr(fd, t);
  };
  Sys().stat = [](const char*, struct stat* info) {
    *info = deviceInfo;
    errno = ENOENT;
    return (deviceInfo.st_mode & 07777) != 0 ? 0 : -1;
  };
  Port* port = Open();
  EXPECT_EQ(port->status, r.status);
  EXPECT_EQ(port->systemError, r.error);
  EXPECT_EQ(OpenFailureText(*port), "Cannot open serial port " + PortPath(index_) + ": " + r.why);
  EXPECT_EQ(port->Close(), kOk);
  Sys() = RealSysCalls();
  EXPECT_EQ(Open()->status, kOk) << "a refused open leaves nothing held";
}

INSTANTIATE_TEST_SUITE_P(
    PtyTest, OpenRefusals,
    ::testing::Values(
        OpenRefusal{"NotInTheGroup", OpenRefusal::kOpen, EACCES, kPortInUse,
                    "Permission denied\nYour user may not use it. It belongs to the group "
                    "'dialout': join it with 'sudo usermod -aG dialout $USER', then log out and "
                    "in again (a new group counts from the next login).",
                    "dialout", 0660},
        OpenRefusal{"GroupWithoutAName", OpenRefusal::kOpen, EACCES, kPortInUse,
                    "Permission denied\nYour user may not use it. It belongs to the group "
                    "'54321': join it with 'sudo usermod -aG 54321 $USER', then log out and in "
                    "again (a new group counts from the next login).",
                    nullptr, 0660},
        OpenRefusal{"OnlyTheOwner", OpenRefusal::kOpen, EPERM, kPortInUse,
                    "Operation not permitted\nYour user may not use it: only its owner may (mode "
                    "0620). Ask the administrator for access.",
                    nullptr, 0620},
        OpenRefusal{"OwnerUnknown", OpenRefusal::kOpen, EACCES, kPortInUse,
                    "Permission denied\nYour user may not use it: ask to join the group that "
                    "owns the port ('dialout' on Debian), then log out and in again."},
        OpenRefusal{"ExclusiveHolder", OpenRefusal::kOpen, EBUSY, kPortInUse,
                    "Device or resource busy" + kInUse},
        OpenRefusal{"Locked", OpenRefusal::kLock, EWOULDBLOCK, kPortInUse,
                    "Resource temporarily unavailable" + kInUse},
        OpenRefusal{"NoDriver", OpenRefusal::kOpen, ENXIO, kNoDevice,
                    "No such device or address" + kNoSuchPort},
        OpenRefusal{"NoUart", OpenRefusal::kOpen, EIO, kPlatformFailure,
                    "Input/output error" + kNoSuchPort},
        OpenRefusal{"OutOfDescriptors", OpenRefusal::kOpen, EMFILE, kPlatformFailure,
                    "Too many open files"},
        OpenRefusal{"OutOfMemory", OpenRefusal::kOpen, ENOMEM, kOutOfMemory,
                    "Cannot allocate memory"}),
    [](const ::testing::TestParamInfo<OpenRefusal>& info) { return info.param.name; });

TEST_F(PtyTest, TheQueueModel) {
  Port* port = Open();
  EXPECT_EQ(port->TxFree(), 1050);
  std::string big(2000, 'q');
  EXPECT_EQ(port->WriteBuffer(big.data(), 2000), kTxQueueFull);
  EXPECT_EQ(port->count, 1050u);
  EXPECT_EQ(port->status, kTxQueueFull);
  EXPECT_EQ(ReadMaster(1050), std::string(1050, 'q'));
  port->ClearError();
  EXPECT_EQ(port->WriteChar('x'), kOk);
  EXPECT_EQ(ReadMaster(1), "x");

  ASSERT_EQ(write(master_, "abc", 3), 3);
  WaitForInput(*port);
  EXPECT_EQ(port->RxUsed(), 3);
  EXPECT_EQ(port->RxFree(), 1047);
  char buffer[5];
  EXPECT_EQ(port->ReadBuffer(buffer, 5), kOk);
  EXPECT_EQ(port->count, 3u);
  EXPECT_EQ(port->ReadBuffer(buffer, 5), kNothingReceived);
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(port->status, kOk);
}

// A real UART keeps error counters and a transmit queue, which a pty has not: faked here.
serial_icounter_struct fakeCounters;
std::pair<unsigned long, int> lastLineChange;
int CountingIoctl(int fd, unsigned long request, void* arg) {
  if (request == TIOCGICOUNT) {
    *static_cast<serial_icounter_struct*>(arg) = fakeCounters;
    return 0;
  }
  if (request == TIOCOUTQ) {
    *static_cast<int*>(arg) = 7;
    return 0;
  }
  if (request == TIOCMGET) {
    *static_cast<int*>(arg) = TIOCM_CAR;
    return 0;
  }
  if (request == TIOCMBIS || request == TIOCMBIC) {
    lastLineChange = {request, *static_cast<int*>(arg)};
    return 0;
  }
  return RealSysCalls().ioctl(fd, request, arg);
}

TEST_F(PtyTest, LineErrorsModemLinesAndQueuesOfARealUart) {
  fakeCounters = {};
  fakeCounters.frame = 4;  // errors from before the open are not this port's
  Sys().ioctl = CountingIoctl;
  Port* port = Open();
  EXPECT_EQ(port->LineStatus(), 0);
  fakeCounters.parity = 1;
  fakeCounters.frame = 5;
  EXPECT_EQ(port->LineStatus(), 0x0C);  // parity and framing
  fakeCounters.buf_overrun = 1;
  fakeCounters.brk = 1;
  EXPECT_EQ(port->LineStatus(), 0x1E);  // and they stay until cleared
  EXPECT_EQ(port->ClearLineStatus(), kOk);
  EXPECT_EQ(port->LineStatus(), 0);
  EXPECT_EQ(port->ModemStatus(), 0x80);  // carrier only
  port->SetRts(0);
  EXPECT_EQ(lastLineChange.first, TIOCMBIC);
  EXPECT_EQ(lastLineChange.second, TIOCM_RTS);
  port->SetDtr(1);
  EXPECT_EQ(lastLineChange.first, TIOCMBIS);
  EXPECT_EQ(lastLineChange.second, TIOCM_DTR);
  std::vector<std::string> lines;
  port->Dump([&](std::string_view l) { lines.emplace_back(l); });
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[6],
            "RX count/free:     0/1050   TX count/free:     7/1043   BREAK/FE/OE/PE: 0000");
  EXPECT_EQ(lines[7], "Breaks: 1  Frame: 5  Overrun: 0  Parity: 1");
}

// Records what would be applied; some pty implementations refuse parity, which is not tested here.
termios lastApplied;
int RecordingTcsetattr(int, int, const termios* t) {
  lastApplied = *t;
  return 0;
}

// What a pty drops or keeps anyway: the parity bits as applied, and flow characters of our own.
TEST_F(PtyTest, ParityAndFlowCharactersAreApplied) {
  termios before = Settings();
  before.c_cc[VSTART] = 1;
  before.c_cc[VSTOP] = 2;
  ASSERT_EQ(tcsetattr(master_, TCSANOW, &before), 0);
  Port* port = Open();
  EXPECT_EQ(Settings().c_cc[VSTART], 0x11);
  EXPECT_EQ(Settings().c_cc[VSTOP], 0x13);
  EXPECT_EQ(Settings().c_cc[VMIN], 0);  // reads return what is there
  Sys().tcsetattr = RecordingTcsetattr;
  for (int on : {2, 0, 1}) {  // any non-zero switches hardware flow control on
    EXPECT_EQ(port->UseRtsCts(on), kOk);
    EXPECT_EQ((lastApplied.c_cflag & CRTSCTS) != 0, on != 0) << on;
  }
  const std::pair<int, tcflag_t> cases[] = {{'N', 0},
                                            {'E', PARENB},
                                            {'O', PARENB | PARODD},
                                            {'M', PARENB | CMSPAR | PARODD},
                                            {'S', PARENB | CMSPAR}};
  for (auto [letter, flags] : cases) {
    EXPECT_EQ(port->SetLine(9600, letter, 8, 1), kOk);
    EXPECT_EQ(lastApplied.c_cflag & (PARENB | PARODD | CMSPAR), flags) << static_cast<char>(letter);
  }
}

TEST_F(PtyTest, HangUpWhileWaitingEndsTheWait) {
  char line[8];
  unsigned char block[8];
  const std::function<int(Port&)> waits[] = {
      [](Port& p) { return ReadCharTimed(p, kNoTimeLimit); },
      [&](Port& p) { return ReadLine(p, line, sizeof line, '\n', kNoTimeLimit); },
      [&](Port& p) { return ReadBlock(p, block, sizeof block, kGenerous); }};
  for (const auto& wait : waits) {
    Port* port = Open();
    pid_t child = fork();
    if (child == 0) {
      usleep(50000);  // the peer holding the master goes away while the driver waits
      _exit(0);
    }
    HangUp();  // the child's copy of the master is now the last one
    std::uint32_t start = TickCount();
    EXPECT_EQ(wait(*port), kNoDevice);
    EXPECT_LT(TickCount() - start, 2000u);
    EXPECT_EQ(DrainInput(*port), kNoDevice);
    port->ClearError();
    EXPECT_EQ(port->WriteChar('x'), kNoDevice);
    waitpid(child, nullptr, 0);
    port->Close();
    SetUp();  // a fresh pair for the next wait
  }
}

// The default hook on a real descriptor: where poll() would report at once again and again (input
// nobody reads, a dead line) it sleeps its slice instead of spinning.
TEST_F(PtyTest, DefaultHookSleepsWhereWaitingInPollWouldSpin) {
  Port* port = Open();
  testing::VirtualClock clock(0, 1, /*installIdleHook=*/false);
  ASSERT_EQ(write(master_, "unread", 6), 6);
  WaitForInput(*port);
  EXPECT_EQ(IdleWait(*port, 100), kOk);  // only the sleeper moves virtual time
  EXPECT_EQ(clock.pausedMs(), 100u);
  HangUp();
  EXPECT_EQ(IdleWait(*port, 100), kOk);
  EXPECT_EQ(clock.pausedMs(), 200u);
}

// Makes a system call fail with EINTR every other time before it reaches the real one.
bool interrupt = false;
template <auto Field, typename R, typename... A>
void Interrupt(R (*&slot)(A...)) {
  slot = [](A... a) -> R {
    if ((interrupt = !interrupt)) {
      errno = EINTR;
      return -1;
    }
    return (RealSysCalls().*Field)(a...);
  };
}
template <auto... Fields>
void InterruptAll(SysCalls& s) {
  (Interrupt<Fields>(s.*Fields), ...);
}

TEST_F(PtyTest, InterruptedCallsAreRepeated) {
  InterruptAll<&SysCalls::open, &SysCalls::read, &SysCalls::write, &SysCalls::ioctl,
               &SysCalls::tcgetattr, &SysCalls::tcsetattr, &SysCalls::tcflush, &SysCalls::flock,
               &SysCalls::poll>(Sys());
  Port* port = Open();
  EXPECT_EQ(port->SetLine(19200, 'N', 8, 2), kOk);
  EXPECT_EQ(WriteString(*port, "ABC", kCrLf), kOk);
  EXPECT_EQ(ReadMaster(5), "ABC\r\n");
  ASSERT_EQ(write(master_, "x\r\n\0\xff", 5), 5);  // raw: no byte is changed or eaten
  unsigned char block[5];
  EXPECT_EQ(ReadBlock(*port, block, 5, kGenerous), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 5), std::string("x\r\n\0\xff", 5));
  EXPECT_EQ(port->ClearTx(), kOk);
  EXPECT_EQ(port->TxFree(), 1050);
  EXPECT_EQ(port->status, kOk);
  EXPECT_EQ(port->Close(), kOk);
}

TEST_F(PtyTest, FailingCallsReportTheirCodes) {
  Port* port = Open();
  Sys().read = [](int, void*, size_t) -> ssize_t {
    errno = EIO;
    return -1;
  };
  ASSERT_EQ(write(master_, "a", 1), 1);
  EXPECT_EQ(ReadCharTimed(*port, kGenerous), kNoDevice);
  EXPECT_EQ(port->RxUsed(), kNoDevice);  // gone for good
  Sys() = RealSysCalls();
  Sys().close = [](int fd) {
    RealSysCalls().close(fd);
    errno = EIO;
    return -1;
  };
  EXPECT_EQ(port->Close(), kPlatformFailure);
  EXPECT_EQ(PortListHead(), nullptr);  // released all the same
}

}  // namespace
}  // namespace brelin::serial
