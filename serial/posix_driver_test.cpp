// The termios driver over real pseudo-terminal pairs: the test holds the master side, the driver
// opens the slave by path like any serial device.
#include "serial/posix_driver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "serial/discovery.h"
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
    path_ = name;
    index_ = AddPortPath(path_);
  }
  void TearDown() override {
    CloseAllPorts();
    Sys() = RealSysCalls();
    if (master_ >= 0) close(master_);
  }
  Port* Open(int baud = 9600, int parity = 'N', int dataBits = 8, int stopBits = 1) {
    return OpenPort(PosixDriver(), index_, baud, parity, dataBits, stopBits);
  }
  termios Settings() {
    termios t{};
    tcgetattr(master_, &t);  // a pty pair shares one termios
    return t;
  }
  std::string ReadMaster(size_t n) {
    std::string got;
    while (got.size() < n) {
      char buffer[4096];
      ssize_t r = read(master_, buffer, std::min(sizeof buffer, n - got.size()));
      if (r <= 0) break;
      got.append(buffer, static_cast<size_t>(r));
    }
    return got;
  }
  void HangUp() {
    close(master_);
    master_ = -1;
  }

  int master_ = -1;
  std::string path_;
  int index_ = -1;
};

TEST_F(PtyTest, OpenSetsRawNineSixHundredEightNOne) {
  Port* port = Open();
  ASSERT_EQ(port->status, kOk);
  EXPECT_EQ(port->driverKind, kPosixDriverKind);
  EXPECT_GE(PortDescriptor(*port), 0);
  termios t = Settings();
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cflag & (CRTSCTS | PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);
  EXPECT_EQ(port->Close(), kOk);
}

TEST_F(PtyTest, RefusedLineSettingsStillLeaveTheLineRaw) {
  ASSERT_NE(Settings().c_lflag & ICANON, 0u);  // a fresh pty edits lines
  Port* port = Open(230400);
  EXPECT_EQ(port->status, kBadBaudRate);
  EXPECT_EQ(Settings().c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(port->WriteChar('a'), kOk);
  port->Close();
}

TEST_F(PtyTest, SetLineValidatesAndApplies) {
  Port* port = Open();
  struct {
    int baud, parity, dataBits, stopBits, result;
  } cases[] = {{115201, 'N', 8, 1, kBadBaudRate}, {0, 'N', 8, 1, kBadBaudRate},
               {9600, 'X', 8, 1, kBadParity},     {9600, 'n' + 256, 8, 1, kOk},
               {9600, 'N', 8, 0, kBadStopBits},   {9600, 'N', 8, 3, kBadStopBits},
               {9600, 'N', 4, 1, kBadDataBits},   {9600, 'N', 9, 1, kBadDataBits},
               {115200, 'N', 8, 1, kOk}};
  for (const auto& c : cases) {
    port->ClearError();
    EXPECT_EQ(port->SetLine(c.baud, c.parity, c.dataBits, c.stopBits), c.result) << c.baud;
    EXPECT_EQ(port->status, c.result);
  }
  // A pty keeps CS8 and clears PARENB itself; what it keeps shows the rest was applied.
  EXPECT_EQ(port->SetLine(19200, 'm', 7, 2), kOk);
  termios t = Settings();
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB),
            static_cast<tcflag_t>(PARODD | CMSPAR | CSTOPB));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(port->SetLine(10000, 's', 8, 1), kOk);  // nearest standard speed
  t = Settings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB), static_cast<tcflag_t>(CMSPAR));

  EXPECT_EQ(port->UseXonXoff(1), kOk);
  EXPECT_EQ(Settings().c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(port->UseRtsCts(1), kOk);
  EXPECT_NE(Settings().c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(port->UseRtsCts(0), kOk);
  EXPECT_EQ(port->UseDtrDsr(1), kNotSupported);
  EXPECT_EQ(port->SetDtr(0), kOk);  // a pty has no modem lines; the contract says 0
  EXPECT_EQ(port->SetRts(1), kOk);
}

TEST_F(PtyTest, PortIsExclusive) {
  Port* first = Open();
  ASSERT_EQ(first->status, kOk);
  Port* second = Open();  // same process, same path
  EXPECT_EQ(second->status, kPortInUse);
  EXPECT_EQ(second->ReadChar(), kNotSupported);
  second->Close();

  pid_t child = fork();
  if (child == 0) {
    Port* other = OpenPort(PosixDriver(), index_, 9600, 'N', 8, 1);
    _exit(other->status == kPortInUse ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened it";

  first->Close();
  Port* again = Open();
  EXPECT_EQ(again->status, kOk);  // Close gave the lock back
}

TEST_F(PtyTest, PathsThatAreNoSerialDevice) {
  auto dir = std::filesystem::temp_directory_path() / ("brelin_pty_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::FILE* f = std::fopen((dir / "plain").c_str(), "w");
  std::fclose(f);
  for (const std::string& p :
       {std::string("/dev/does-not-exist"), std::string("/dev/null"),
        std::string("/dev/null/below-a-file"), (dir / "plain").string(), dir.string()}) {
    Port* port = OpenPort(PosixDriver(), AddPortPath(p), 9600, 'N', 8, 1);
    EXPECT_EQ(port->status, kNoDevice) << p;
    port->Close();
  }
  EXPECT_EQ(OpenPort(PosixDriver(), 100000, 9600, 'N', 8, 1)->status, kNoDevice);  // no entry
  std::filesystem::remove_all(dir);

  // Root ignores permissions, so a refused open is simulated.
  Sys().open = [](const char*, int) {
    errno = EACCES;
    return -1;
  };
  EXPECT_EQ(Open()->status, kPortInUse);
}

TEST_F(PtyTest, BytesBothWays) {
  Port* port = Open();
  ASSERT_EQ(write(master_, "OK\n\rxyz", 7), 7);
  char line[20];
  EXPECT_EQ(ReadLine(*port, line, sizeof line, '\n', kGenerous), kOk);
  EXPECT_STREQ(line, "OK");
  unsigned char block[4];
  EXPECT_EQ(ReadBlock(*port, block, 4, kGenerous), kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 4), "\rxyz");
  EXPECT_EQ(port->ReadChar(), kNothingReceived);
  EXPECT_EQ(port->status, kOk);

  EXPECT_EQ(WriteString(*port, "UNLOCK", '\n'), kOk);
  EXPECT_EQ(ReadMaster(7), "UNLOCK\n");
  ASSERT_EQ(write(master_, "\0\xff", 2), 2);
  EXPECT_EQ(ReadCharTimed(*port, kGenerous), 0);
  EXPECT_EQ(ReadCharTimed(*port, kGenerous), 0xFF);
  EXPECT_EQ(DrainInput(*port), kOk);
}

TEST_F(PtyTest, TransmitQueueModel) {
  Port* port = Open();
  EXPECT_EQ(port->TxFree(), 1050);
  EXPECT_EQ(port->RxFree(), 1050);
  std::string big(2000, 'q');
  EXPECT_EQ(port->WriteBuffer(big.data(), 2000), kTxQueueFull);
  EXPECT_EQ(port->count, 1050u);
  EXPECT_EQ(port->status, kTxQueueFull);
  EXPECT_EQ(ReadMaster(1050), std::string(1050, 'q'));
  EXPECT_EQ(port->ClearTx(), kOk);
  port->ClearError();
  EXPECT_EQ(port->WriteChar('z'), kOk);

  ASSERT_EQ(write(master_, "abc", 3), 3);
  pollfd p{PortDescriptor(*port), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, kGenerous), 1);
  EXPECT_EQ(port->RxUsed(), 3);
  EXPECT_EQ(port->RxFree(), 1047);
  char buffer[5];
  EXPECT_EQ(port->ReadBuffer(buffer, 5), kOk);
  EXPECT_EQ(port->count, 3u);
  EXPECT_EQ(port->ReadBuffer(buffer, 5), kNothingReceived);
  EXPECT_EQ(port->count, 0u);
  EXPECT_EQ(port->status, kOk);
}

TEST_F(PtyTest, NothingArrivingTimesOutInVirtualTime) {
  Port* port = Open();
  testing::VirtualClock clock;
  char line[8];
  EXPECT_EQ(ReadCharTimed(*port, 5000), kNothingReceived);
  EXPECT_EQ(ReadLine(*port, line, sizeof line, '\n', 500), kNothingReceived);
  EXPECT_EQ(port->status, kOk);
}

TEST_F(PtyTest, HangUpEndsEveryWaitAtOnce) {
  Port* port = Open();
  HangUp();
  char line[8];
  unsigned char block[8];
  std::uint32_t start = TickCount();
  EXPECT_EQ(ReadCharTimed(*port, -1), kNoDevice);
  EXPECT_EQ(ReadLine(*port, line, sizeof line, '\n', -1), kNoDevice);
  EXPECT_EQ(ReadBlock(*port, block, 8, -1), kNoDevice);
  EXPECT_EQ(port->RxUsed(), kNoDevice);
  EXPECT_EQ(port->WriteChar('x'), kNoDevice);
  EXPECT_EQ(port->status, kNoDevice);
  EXPECT_LT(TickCount() - start, 1000u);
  EXPECT_EQ(IdleWait(*port, 30), kOk);  // the default hook does not spin on a dead line
  EXPECT_EQ(port->Close(), kOk);
}

TEST_F(PtyTest, HangUpWhileWaiting) {
  char line[8];
  unsigned char block[8];
  const std::function<int(Port&)> waits[] = {
      [](Port& p) { return ReadCharTimed(p, kGenerous); },
      [&](Port& p) { return ReadLine(p, line, sizeof line, '\n', kGenerous); },
      [&](Port& p) { return ReadBlock(p, block, sizeof block, kGenerous); },
  };
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
    EXPECT_EQ(port->status, kNoDevice);
    EXPECT_LT(TickCount() - start, 2000u);
    waitpid(child, nullptr, 0);
    port->Close();
    SetUp();  // a fresh pair for the next wait
  }
}

TEST_F(PtyTest, ModemAndLineStatusOnAPty) {
  Port* port = Open();
  EXPECT_EQ(port->ModemStatus(), kNotSupported);
  EXPECT_EQ(CarrierDetect(*port), kNotSupported);
  port->ClearError();
  EXPECT_EQ(port->LineStatus(), 0);
  EXPECT_EQ(port->ClearLineStatus(), kOk);
  EXPECT_EQ(port->status, kOk);
  EXPECT_EQ(port->SendBreak(0), kOk);
  std::vector<std::string> lines;
  EXPECT_EQ(port->Dump([&](std::string_view l) { lines.emplace_back(l); }), kOk);
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "Port type:  POSIX termios  BaudRate: 9600    DataBits: 8  Parity: N");
  EXPECT_EQ(lines[4].substr(lines[4].find("VSTART")), "VSTART: 11  VSTOP: 13");
  EXPECT_EQ(port->status, kOk);
}

// The default hook on a real descriptor: it wakes for input, and where poll() would report at
// once again and again (input nobody reads, a dead line) it sleeps its slice instead of spinning.
TEST_F(PtyTest, DefaultHookSleepsWhereWaitingInPollWouldSpin) {
  Port* port = Open();
  testing::VirtualClock clock(0, 1, /*installIdleHook=*/false);
  ASSERT_EQ(IdleHook(), &PollIdle);
  ASSERT_EQ(write(master_, "unread", 6), 6);
  pollfd p{PortDescriptor(*port), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, kGenerous), 1);
  EXPECT_EQ(IdleWait(*port, 100), kOk);  // only the sleeper moves virtual time
  EXPECT_EQ(clock.pausedMs(), 100u);
  EXPECT_EQ(port->RxUsed(), 6);

  HangUp();
  EXPECT_EQ(IdleWait(*port, 100), kOk);
  EXPECT_EQ(clock.pausedMs(), 200u);
}

// Every call interrupted once before it succeeds.
bool interrupt = false;
bool Interrupted() {
  interrupt = !interrupt;
  if (interrupt) errno = EINTR;
  return interrupt;
}

TEST_F(PtyTest, InterruptedCallsAreRepeated) {
  SysCalls& s = Sys();
  s.open = [](const char* p, int f) { return Interrupted() ? -1 : RealSysCalls().open(p, f); };
  s.read = [](int fd, void* b, size_t n) -> ssize_t {
    return Interrupted() ? -1 : RealSysCalls().read(fd, b, n);
  };
  s.write = [](int fd, const void* b, size_t n) -> ssize_t {
    return Interrupted() ? -1 : RealSysCalls().write(fd, b, n);
  };
  s.ioctl = [](int fd, unsigned long r, void* a) {
    return Interrupted() ? -1 : RealSysCalls().ioctl(fd, r, a);
  };
  s.tcgetattr = [](int fd, termios* t) {
    return Interrupted() ? -1 : RealSysCalls().tcgetattr(fd, t);
  };
  s.tcsetattr = [](int fd, int w, const termios* t) {
    return Interrupted() ? -1 : RealSysCalls().tcsetattr(fd, w, t);
  };
  s.tcflush = [](int fd, int q) { return Interrupted() ? -1 : RealSysCalls().tcflush(fd, q); };
  s.flock = [](int fd, int o) { return Interrupted() ? -1 : RealSysCalls().flock(fd, o); };
  s.poll = [](pollfd* p, nfds_t n, int t) {
    return Interrupted() ? -1 : RealSysCalls().poll(p, n, t);
  };

  Port* port = Open();
  ASSERT_EQ(port->status, kOk);
  EXPECT_EQ(port->SetLine(19200, 'N', 8, 2), kOk);
  EXPECT_EQ(WriteString(*port, "ABC", -2), kOk);
  EXPECT_EQ(ReadMaster(5), "ABC\r\n");
  ASSERT_EQ(write(master_, "xy", 2), 2);
  unsigned char block[2];
  EXPECT_EQ(ReadBlock(*port, block, 2, kGenerous), kOk);
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
  EXPECT_EQ(port->status, kNoDevice);
  EXPECT_EQ(port->RxUsed(), kNoDevice);  // gone for good
  port->ClearError();
  EXPECT_EQ(port->WriteChar('x'), kNoDevice);

  Sys() = RealSysCalls();
  Port* other = OpenPort(PosixDriver(), AddPortPath(path_), 9600, 'N', 8, 1);
  EXPECT_EQ(other->status, kPortInUse);
  other->Close();
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
