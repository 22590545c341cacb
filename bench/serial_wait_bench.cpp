// How the serial layer waits over a pseudo-terminal, measured side by side in one run:
//   (a) a ReadCharTimed that nothing answers: CPU time of the waiting process as a share of wall
//   time; (b) single bytes written by a peer process at random gaps and read with ReadCharTimed:
//   the delay
//       from write to read (median, p99) and the CPU share of the reader.
// Targets: (a) under 1 %, (b) median under 1 ms and p99 under 5 ms.
//   serial_wait_bench [--idle-seconds S (10)] [--bytes N (100000)] [--max-gap-us U (400)]
#include <pty.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "serial/discovery.h"
#include "serial/posix_driver.h"
#include "serial/timed_io.h"

namespace {

using brelin::serial::Port;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

struct Options {
  int idleSeconds = 10;
  long bytes = 100000;
  long maxGapUs = 400;
};

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string flag = argv[i];
    long value = std::atol(argv[i + 1]);
    if (flag == "--idle-seconds")
      o.idleSeconds = static_cast<int>(value);
    else if (flag == "--bytes")
      o.bytes = value;
    else if (flag == "--max-gap-us")
      o.maxGapUs = value;
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  namespace s = brelin::serial;
  Options options = Parse(argc, argv);
  int master = -1, slave = -1;
  char name[128];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  close(slave);
  Port* port = s::OpenPort(s::PosixDriver(), s::AddPortPath(name), 9600, 'N', 8, 1);
  if (port->status != s::kOk) {
    std::fprintf(stderr, "open %s: %d\n", name, port->status);
    return 1;
  }

  // (a) nothing arrives.
  double cpu0 = CpuSeconds();
  std::int64_t wall0 = NowNs();
  int result = s::ReadCharTimed(*port, options.idleSeconds * 1000);
  double idleWall = static_cast<double>(NowNs() - wall0) / 1e9;
  double idleCpu = CpuSeconds() - cpu0;
  std::printf(
      "idle wait:  %d s ReadCharTimed -> %d, wall %.2f s, CPU %.4f s = %.3f %% of a core "
      "(target < 1 %%)\n",
      options.idleSeconds, result, idleWall, idleCpu, 100.0 * idleCpu / idleWall);

  // (b) a peer writes single bytes at random gaps; each write time goes through shared memory.
  const long n = options.bytes;
  auto* sent =
      static_cast<std::int64_t*>(mmap(nullptr, sizeof(std::int64_t) * n, PROT_READ | PROT_WRITE,
                                      MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  std::vector<std::int64_t> received(n);
  pid_t child = fork();
  if (child == 0) {
    std::mt19937 random(480);
    std::uniform_int_distribution<long> gap(0, options.maxGapUs);
    for (long i = 0; i < n; ++i) {
      timespec pause{0, gap(random) * 1000};
      nanosleep(&pause, nullptr);
      unsigned char byte = static_cast<unsigned char>(i);
      sent[i] = NowNs();
      if (write(master, &byte, 1) != 1) _exit(2);
    }
    _exit(0);
  }
  cpu0 = CpuSeconds();
  wall0 = NowNs();
  long lost = 0;
  for (long i = 0; i < n; ++i) {
    int c = s::ReadCharTimed(*port, 5000);
    received[i] = NowNs();
    if (c != static_cast<unsigned char>(i)) lost++;
  }
  double streamWall = static_cast<double>(NowNs() - wall0) / 1e9;
  double streamCpu = CpuSeconds() - cpu0;
  int status = 0;
  waitpid(child, &status, 0);

  std::vector<double> delayUs(n);
  for (long i = 0; i < n; ++i) delayUs[i] = static_cast<double>(received[i] - sent[i]) / 1000.0;
  std::sort(delayUs.begin(), delayUs.end());
  auto at = [&](double q) { return delayUs[static_cast<size_t>(q * static_cast<double>(n - 1))]; };
  std::printf("byte stream: %ld bytes, gaps 0..%ld us, %ld wrong or missing\n", n, options.maxGapUs,
              lost);
  std::printf(
      "  write->read delay: median %.0f us (target < 1000), p99 %.0f us (target < 5000), "
      "max %.0f us\n",
      at(0.5), at(0.99), delayUs.back());
  std::printf("  reader CPU: %.2f s of %.2f s wall = %.2f %% of a core\n", streamCpu, streamWall,
              100.0 * streamCpu / streamWall);
  port->Close();
  close(master);
  return lost == 0 ? 0 : 1;
}
