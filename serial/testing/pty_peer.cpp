// The far end of a serial line for the Windows driver tests that run under Wine: a fresh
// pseudo-terminal whose slave the Wine prefix knows as a COM port (through the symlink PATH).
// Every byte the driver sends is echoed back. With --hang-up-after N the peer goes away (closes
// both sides) once N bytes have arrived, as an unplugged adapter would.
//
//   pty_peer --link PATH [--hang-up-after N]
//
// Prints the slave's device path and serves until SIGTERM or SIGINT.
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile std::sig_atomic_t stop = 0;

void Stop(int) {
  stop = 1;
}

int Usage() {
  std::fprintf(stderr, "usage: pty_peer --link PATH [--hang-up-after N]\n");
  return 2;
}

bool WriteAll(int fd, const char* data, ssize_t n) {
  while (n > 0) {
    ssize_t w = write(fd, data, static_cast<size_t>(n));
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    data += w;
    n -= w;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string link;
  long hangUpAfter = -1;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--link" && i + 1 < argc) {
      link = argv[++i];
    } else if (arg == "--hang-up-after" && i + 1 < argc) {
      hangUpAfter = std::atol(argv[++i]);
    } else {
      return Usage();
    }
  }
  if (link.empty()) return Usage();

  int master = -1, slave = -1;
  char name[128];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("pty_peer: openpty");
    return 1;
  }
  // Raw from the start; the driver's own settings follow when it opens the port. The slave stays
  // open here so that the driver closing its side is not a hang-up for the master.
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);

  unlink(link.c_str());
  if (symlink(name, link.c_str()) != 0) {
    std::perror("pty_peer: symlink");
    return 1;
  }
  std::signal(SIGTERM, Stop);
  std::signal(SIGINT, Stop);
  std::printf("%s\n", name);
  std::fflush(stdout);

  long received = 0;
  char buffer[4096];
  while (!stop) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    received += n;
    if (hangUpAfter >= 0 && received >= hangUpAfter) {
      close(master);
      close(slave);
      master = slave = -1;
      while (!stop) pause();
      break;
    }
    if (!WriteAll(master, buffer, n)) break;
  }
  unlink(link.c_str());
  return 0;
}
