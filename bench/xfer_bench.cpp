// The XMODEM receiver against lrzsz `rx -c`, both fed by `sx -k` over a pseudo-terminal in the same
// run, then a paced run at the 9600-baud line rate through a relay.
//   xfer_bench [KiB unpaced, default 256] [KiB paced, default 16] [rounds, default 3]

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "xfer/testing/sx_link.h"
#include "xfer/xfer.h"

namespace {

using Clock = std::chrono::steady_clock;
using brelin::xfer::testing::RelayConfig;
using brelin::xfer::testing::SxLink;

struct Run {
  double seconds = 0;
  double cpu = 0;
};

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
}

double SelfCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

// Runs argv in dir with stdin and stdout on fd and stderr on /dev/null.
pid_t Spawn(const std::vector<const char*>& argv, int fd, const char* dir) {
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fd, 0);
    dup2(fd, 1);
    dup2(open("/dev/null", O_WRONLY), 2);
    if (chdir(dir) != 0) _exit(126);
    execvp(argv[0], const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  return pid;
}

Run Brelin(const std::string& source, const std::string& target) {
  SxLink link({"-k"}, source);
  const double cpu = SelfCpu();
  const auto start = Clock::now();
  const int result =
      brelin::xfer::XferReceive(*link.port(), target.c_str(), nullptr, nullptr, nullptr);
  Run run{std::chrono::duration<double>(Clock::now() - start).count(), SelfCpu() - cpu};
  if (result != 1 || link.WaitSender(5000) != 0)
    std::fprintf(stderr, "brelin run failed: %d\n", result);
  return run;
}

// rx refuses paths with a directory in them: it runs in the target's directory.
Run Rx(const std::string& source, const std::string& dir, const std::string& name) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) std::exit(1);
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);
  std::remove((dir + "/" + name).c_str());
  const auto start = Clock::now();
  const pid_t rx = Spawn({"rx", "-c", "-q", name.c_str(), nullptr}, slave, dir.c_str());
  const pid_t sx = Spawn({"sx", "-q", "-k", source.c_str(), nullptr}, master, "/");
  int status = 0;
  rusage usage{};
  wait4(rx, &status, 0, &usage);
  Run run{std::chrono::duration<double>(Clock::now() - start).count(),
          Seconds(usage.ru_utime) + Seconds(usage.ru_stime)};
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "rx failed\n");
  waitpid(sx, nullptr, 0);
  close(master);
  close(slave);
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void WriteFile(const std::string& path, std::size_t size) {
  std::string data(size, '\0');
  std::uint32_t x = 12345;
  for (auto& c : data) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 23);
  std::ofstream(path, std::ios::binary) << data;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t unpacedKiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const std::size_t pacedKiB = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 16;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  const std::string dir = "/tmp", stem = "xfer_bench_" + std::to_string(getpid());
  const std::string source = dir + "/" + stem + "_src", target = dir + "/" + stem + "_dst";
  WriteFile(source, unpacedKiB * 1024);

  // Alternate the two receivers so that both see the same machine load; keep each one's best.
  Run brelin{1e9, 1e9}, rx{1e9, 1e9};
  for (int i = 0; i < rounds; ++i) {
    const Run b = Brelin(source, target), r = Rx(source, dir, stem + "_dst");
    brelin = {std::min(brelin.seconds, b.seconds), std::min(brelin.cpu, b.cpu)};
    rx = {std::min(rx.seconds, r.seconds), std::min(rx.cpu, r.cpu)};
  }
  const double kib = static_cast<double>(unpacedKiB);
  std::printf("unpaced: %zu KiB from sx -k over a pty, best of %d\n", unpacedKiB, rounds);
  std::printf("  brelin   %8.0f KiB/s  cpu %.3f s\n", kib / brelin.seconds, brelin.cpu);
  std::printf("  rx -c    %8.0f KiB/s  cpu %.3f s\n", kib / rx.seconds, rx.cpu);
  std::printf("  (rx flushes its input after each ACK; on an unpaced pty that can discard sx's next\n"
              "   block and cost rx a 5 s timeout, so its throughput varies from run to run)\n");
  std::printf("  throughput brelin/rx %.2f (target >= 1.00), cpu brelin/rx %.2f (target <= 1.50)\n",
              rx.seconds / brelin.seconds, brelin.cpu / std::max(rx.cpu, 1e-6));

  // Paced like a 9600-baud 8N1 line in both directions.
  WriteFile(source, pacedKiB * 1024);
  const RelayConfig paced{.bytesPerSecond = 960};
  SxLink link({"-k"}, source, &paced);
  const auto start = Clock::now();
  const int result =
      brelin::xfer::XferReceive(*link.port(), target.c_str(), nullptr, nullptr, nullptr);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  link.WaitSender(5000);
  link.StopRelay();
  const double rate = static_cast<double>(pacedKiB * 1024) / seconds;
  const double limit = 1024.0 / 1030.0;
  std::printf("paced: %zu KiB at 960 bytes/s (result %d, %.1f s)\n", pacedKiB, result, seconds);
  std::printf("  data rate %.1f bytes/s = %.2f %% of the line; limit 1024/1030 = %.2f %%\n", rate,
              100 * rate / 960, 100 * limit);
  std::printf("  efficiency against the limit %.2f %% (target >= 99 %%)\n",
              100 * rate / 960 / limit);
  std::printf("  last byte to ACK, median %.3f ms over %zu blocks (target < 1 ms)\n",
              1000 * Median(link.ackDelays()), link.ackDelays().size());
  std::remove(source.c_str());
  std::remove(target.c_str());
  return 0;
}
