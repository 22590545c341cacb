// A full `brelin-cli get-data` against klv480-sim with a 48 KiB memory, unpaced and paced at 9600
// baud, side by side: the total time, what the sequence's fixed waits account for, the line time of
// what the instrument sends at 960 bytes per second, and what remains; and brelin-cli's CPU time.
//
//   sequence_bench [records]      (default 4096 records = 48 KiB)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Waits of the download that do not depend on the line: the three pauses (500 + 1000 + 150 ms),
// the DOWNLOAD reply read (its 15 bytes never all come: 1000 ms) and the system reply read (under
// 350 bytes: 500 ms).
constexpr double kFixedWaitsMs = 500 + 1000 + 150 + 1000 + 500;

pid_t Spawn(const std::vector<std::string>& args, int out, int err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

struct Run {
  double wallMs = 0;
  double cpuMs = 0;
  int exitStatus = -1;
};

Run GetData(const fs::path& dir, unsigned baud, unsigned records) {
  const std::string link = (dir / "klv480").string();
  int pipe[2];
  if (::pipe(pipe) != 0) std::exit(1);
  const int simLog = open((dir / "sim.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const pid_t sim = Spawn({KLV480_SIM, "--link", link, "--records", std::to_string(records),
                           "--seed", "5", "--baud", std::to_string(baud)},
                          pipe[1], simLog);
  close(pipe[1]);
  close(simLog);
  char line[256];
  std::FILE* simOut = fdopen(pipe[0], "r");
  if (sim < 0 || !std::fgets(line, sizeof line, simOut)) {
    std::fprintf(stderr, "sequence_bench: klv480-sim did not start\n");
    std::exit(1);
  }
  std::fclose(simOut);

  const int cliErr = open((dir / "cli.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int devNull = open("/dev/null", O_WRONLY);
  const auto start = std::chrono::steady_clock::now();
  const pid_t cli =
      Spawn({BRELIN_CLI, "get-data", "--port", link, "-o", (dir / "report.txt").string(), "--image",
             (dir / "KLV480.bin").string(), "--no-history"},
            devNull, cliErr);
  int status = 0;
  rusage usage{};
  wait4(cli, &status, 0, &usage);
  Run run;
  run.wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  close(cliErr);
  close(devNull);
  kill(sim, SIGTERM);
  waitpid(sim, &status, 0);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned records = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 4096;
  const fs::path dir =
      fs::temp_directory_path() / ("brelin_sequence_bench_" + std::to_string(getpid()));
  fs::create_directories(dir);

  const unsigned imageBytes = records * 12;
  const unsigned blocks = (imageBytes + 127) / 128;
  // What the instrument sends: its blocks (header, number pair, 128 data bytes, CRC) and the EOT,
  // and the reply lines read whole ("OK" to UNLOCK and LOCK, the empty line). The DOWNLOAD and
  // system replies arrive within their fixed waits.
  const unsigned lineBytes = blocks * 133 + 1 + 4 + 2 + 4;

  std::printf("get-data, %u-byte memory (%u blocks of 128 bytes), fixed waits %.0f ms\n",
              imageBytes, blocks, kFixedWaitsMs);
  std::printf("%-10s %9s %9s %9s %10s %8s %9s\n", "line", "total ms", "waits ms", "line ms",
              "remain ms", "CPU ms", "CPU/wall");
  bool ok = true;
  for (const unsigned baud : {0u, 9600u}) {
    const Run run = GetData(dir, baud, records);
    if (run.exitStatus != 0) {
      std::printf("get-data failed (exit %d); see %s\n", run.exitStatus, (dir / "cli.log").c_str());
      return 1;
    }
    const double lineMs = baud == 0 ? 0.0 : lineBytes * 1000.0 / (baud / 10.0);
    const double remain = run.wallMs - kFixedWaitsMs - lineMs;
    const double cpuShare = run.cpuMs / run.wallMs;
    std::printf("%-10s %9.0f %9.0f %9.0f %10.0f %8.1f %8.2f%%\n",
                baud == 0 ? "unpaced" : "9600 baud", run.wallMs, kFixedWaitsMs, lineMs, remain,
                run.cpuMs, cpuShare * 100);
    ok = ok && remain < 100 && (baud == 0 || cpuShare < 0.01);
  }
  std::printf("targets (remaining < 100 ms, CPU < 1%% of wall at 9600 baud): %s\n",
              ok ? "met" : "NOT met");
  fs::remove_all(dir);
  return 0;
}
