// The XMODEM receiver against lrzsz `rx -c`, both fed by `sx -k` over a pseudo-terminal in the same
// run, then a paced run at the 9600-baud line rate through a relay.
//   xfer_bench [KiB unpaced, default 256] [KiB paced, default 16] [rounds, default 3]

#include <sys/resource.h>
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

// CPU time of the calling thread only: a relay thread may run beside the receiver.
double ThreadCpu() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Run Brelin(const std::string& source, const std::string& target, const RelayConfig* relay) {
  SxLink link({"-k"}, source, relay);
  const double cpu = ThreadCpu();
  const auto start = Clock::now();
  const int result =
      brelin::xfer::XferReceive(*link.port(), target.c_str(), nullptr, nullptr, nullptr);
  Run run{std::chrono::duration<double>(Clock::now() - start).count(), ThreadCpu() - cpu};
  if (result != 1 || link.WaitSender(5000) != 0) {
    std::fprintf(stderr, "brelin run failed: %d\n", result);
  }
  return run;
}

// rx refuses paths with a directory in them: it runs in the target's directory. Its time runs from
// the start of both programs to rx's end; a run that has not ended after 120 s is killed.
Run Rx(const std::string& source, const std::string& dir, const std::string& name,
       const RelayConfig* relay) {
  std::remove((dir + "/" + name).c_str());
  const brelin::xfer::testing::ReceiverCommand rx{{"rx", "-c", "-q", name}, dir};
  const auto start = Clock::now();
  SxLink link({"-k"}, source, relay, &rx);
  Run run;
  const int status = link.WaitReceiver(120000, &run.cpu);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (status != 0) std::fprintf(stderr, "rx run failed: %d\n", status);
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
  const RelayConfig delayed{.latencyMs = 1};
  for (const RelayConfig* relay : {static_cast<const RelayConfig*>(nullptr), &delayed}) {
    Run brelin{1e9, 1e9}, rx{1e9, 1e9};
    for (int i = 0; i < rounds; ++i) {
      const Run b = Brelin(source, target, relay), r = Rx(source, dir, stem + "_dst", relay);
      brelin = {std::min(brelin.seconds, b.seconds), std::min(brelin.cpu, b.cpu)};
      rx = {std::min(rx.seconds, r.seconds), std::min(rx.cpu, r.cpu)};
    }
    const double kib = static_cast<double>(unpacedKiB);
    std::printf("%zu KiB from sx -k over %s, best of %d\n", unpacedKiB,
                relay ? "a relay holding each byte 1 ms" : "one pty, unpaced", rounds);
    std::printf("  brelin   %8.0f KiB/s  cpu %.3f s\n", kib / brelin.seconds, brelin.cpu);
    std::printf("  rx -c    %8.0f KiB/s  cpu %.3f s\n", kib / rx.seconds, rx.cpu);
    std::printf(
        "  throughput brelin/rx %.2f (target >= 1.00), cpu brelin/rx %.2f (target <= 1.50)\n",
        rx.seconds / brelin.seconds, brelin.cpu / std::max(rx.cpu, 1e-6));
  }
  std::printf(
      "  (rx flushes its input after each ACK; straight over a pty that can discard sx's\n"
      "   next block and cost rx a 5 s timeout, hence the run with 1 ms of line delay;\n"
      "   rx also waits 1 s after the EOT before it ends)\n");

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
