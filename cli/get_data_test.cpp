// brelin-cli get-data and erase against klv480-sim on a pseudo-terminal, both as child processes.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Starts a program with stdout and stderr going to the given files (stdout may be a pipe).
pid_t Spawn(const std::vector<std::string>& args, int out, int err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

struct Result {
  int exitStatus = -1;
  std::string err;
  std::vector<int> progress;  // positions of the progress bar, when run on a terminal
  double seconds = 0;
};

class GetDataTest : public ::testing::Test {
 protected:
  GetDataTest() {
    dir_ = fs::temp_directory_path() /
           ("brelin_cli_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    link_ = (dir_ / "klv480").string();
  }
  ~GetDataTest() override {
    StopSimulator();
    fs::remove_all(dir_);
  }

  // Starts klv480-sim unpaced on the sample memory image, with extra options.
  void StartSimulator(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{KLV480_SIM, "--link",           link_, "--baud", "0",
                                  "--image",  BRELIN_SAMPLE_IMAGE};
    args.insert(args.end(), extra.begin(), extra.end());
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const int err = open((dir_ / "sim.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    sim_ = Spawn(args, pipe[1], err);
    close(pipe[1]);
    close(err);
    ASSERT_GT(sim_, 0);
    // The device path comes as one line once the link is in place.
    std::FILE* out = fdopen(pipe[0], "r");
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
    std::fclose(out);
    device_ = std::string(line, std::strlen(line) - 1);
    ASSERT_EQ(fs::read_symlink(link_).string(), device_);
  }

  void StopSimulator() {
    if (sim_ <= 0) return;
    kill(sim_, SIGTERM);
    int status = 0;
    waitpid(sim_, &status, 0);
    sim_ = -1;
  }

  std::string SimulatorLog() const { return ReadFile(dir_ / "sim.log"); }

  // Runs brelin-cli with stderr in a file, or on a terminal (a pseudo-terminal) where it draws its
  // progress bar: then the positions shown are collected and the bar is taken out of the text.
  Result Cli(std::vector<std::string> args, bool terminal = false) {
    args.insert(args.begin(), BRELIN_CLI);
    int master = -1, err = -1;
    if (terminal) {
      termios raw{};
      cfmakeraw(&raw);
      EXPECT_EQ(openpty(&master, &err, nullptr, &raw, nullptr), 0);
    } else {
      err = open((dir_ / "cli.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    const int out = open("/dev/null", O_WRONLY);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn(args, out, err);
    close(err);
    close(out);
    Result result;
    if (terminal) {
      char buffer[4096];
      for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) result.err.append(buffer, n);
      close(master);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!terminal) {
      result.err = ReadFile(dir_ / "cli.err");
      return result;
    }
    const std::regex bar(R"(\r\[[# ]*\] *(\d+)%)");
    for (std::sregex_iterator it(result.err.begin(), result.err.end(), bar), end; it != end; ++it) {
      const int position = std::stoi((*it)[1]);
      if (result.progress.empty() || result.progress.back() != position) {
        result.progress.push_back(position);
      }
    }
    result.err =
        std::regex_replace(std::regex_replace(result.err, bar, ""), std::regex("\r\x1b\\[K"), "");
    return result;
  }

  Result GetData(std::vector<std::string> extra = {}, bool terminal = false) {
    std::vector<std::string> args{"get-data", "--port", link_, "-o", Report(), "--image", Image()};
    args.insert(args.end(), extra.begin(), extra.end());
    return Cli(args, terminal);
  }

  std::string Report() const { return (dir_ / "report.txt").string(); }
  std::string Image() const { return (dir_ / "KLV480.bin").string(); }

  fs::path dir_;
  std::string link_;
  std::string device_;
  pid_t sim_ = -1;
};

TEST_F(GetDataTest, FullDownloadGivesTheReportOfTheImage) {
  StartSimulator({"--serial", "480777"});
  const Result r = GetData({"--format", "csv"}, true);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.progress, (std::vector<int>{10, 30, 50, 70, 85, 100}));
  EXPECT_EQ(ReadFile(Image()), ReadFile(BRELIN_SAMPLE_IMAGE));
  EXPECT_THAT(r.err, HasSubstr("Checking output filename.\nCreating output file.\nGet data from "
                               "KLV480.\nOpening communication port.\nDownloading data from "
                               "KLV480.\nObtaining KLV480 system info.\n"));
  EXPECT_THAT(r.err, HasSubstr("Done.\n"));

  const std::string expected = (dir_ / "expected.csv").string();
  ASSERT_EQ(
      Cli({"analyse", Image(), "-o", expected, "--format", "csv", "--serial", "480777"}).exitStatus,
      0);
  const std::string report = ReadFile(Report());
  EXPECT_THAT(report, HasSubstr("NE480777"));
  // Both reports carry their creation time in the first line; everything after it is the same.
  const std::string want = ReadFile(expected);
  EXPECT_EQ(report.substr(report.find('\n')), want.substr(want.find('\n')));

  const std::string log = SimulatorLog();
  EXPECT_THAT(log, HasSubstr("transfer done"));
  EXPECT_LT(log.find("< system"), log.find("< LOCK"));
}

TEST_F(GetDataTest, RefusalLocksAndKeepsThePreviousReport) {
  StartSimulator({"--refuse"});
  { std::ofstream(Report()) << "yesterday's report\r\n"; }
  const Result r = GetData();
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("No download allowed !!!"));
  EXPECT_THAT(SimulatorLog(), HasSubstr("< LOCK"));
  EXPECT_EQ(ReadFile(Report()), "yesterday's report\r\n");
}

TEST_F(GetDataTest, SilentOrCrLfInstrumentIsNoResponse) {
  StartSimulator({"--silent"});
  Result r = GetData();
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("No response of KLV480\n"));
  EXPECT_GT(r.seconds, 0.9) << "the reply line and the CR are each waited for";
  EXPECT_LT(r.seconds, 5.0);
  EXPECT_THAT(SimulatorLog(), Not(HasSubstr("< LOCK"))) << "nothing after an unanswered UNLOCK";
  StopSimulator();

  StartSimulator({"--crlf"});
  r = GetData();
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("No response of KLV480\n"));
  EXPECT_THAT(SimulatorLog(), Not(HasSubstr("< DOWNLOAD")));
}

TEST_F(GetDataTest, CancelledTransferSendsNoLock) {
  StartSimulator({"--cancel-after", "3"});
  const Result r = GetData();
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("Error in file transfer -606\n"));
  EXPECT_THAT(SimulatorLog(), Not(HasSubstr("< LOCK")));

  // The simulator is back in command mode for the next session.
  const Result next = GetData();
  EXPECT_THAT(next.err, HasSubstr("Error in file transfer -606\n"));
}

TEST_F(GetDataTest, CorruptedTransferRecovers) {
  StartSimulator({"--corrupt-every", "1500", "--block", "1024"});
  const Result r = GetData();
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadFile(Image()).substr(0, fs::file_size(BRELIN_SAMPLE_IMAGE)),
            ReadFile(BRELIN_SAMPLE_IMAGE));
  EXPECT_THAT(SimulatorLog(), HasSubstr("NAK, resending"));
}

TEST_F(GetDataTest, EraseThenDownloadIsEmpty) {
  StartSimulator();
  const Result r = Cli({"erase", "--port", link_}, true);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("Get data from KLV480.\nOpening communication port.\n"
                               "Erasing data in the KLV480.\nDone.\n"));
  std::vector<int> progress{5, 10};  // then the animation passes every position up to 99
  for (int p = 11; p <= 99; ++p) progress.push_back(p);
  progress.push_back(100);
  EXPECT_EQ(r.progress, progress);
  const std::string log = SimulatorLog();
  EXPECT_LT(log.find("< ERASE 47190356"), log.find("< LOCK"));

  ASSERT_EQ(GetData().exitStatus, 0);
  EXPECT_EQ(fs::file_size(Image()), 0u);
}

TEST_F(GetDataTest, PortInUseOrMissing) {
  StartSimulator();
  const int holder = open(device_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  Result r = GetData();
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("No response of KLV480\n"));
  close(holder);
  EXPECT_THAT(SimulatorLog(), Not(HasSubstr("< UNLOCK")));

  r = Cli({"erase", "--port", (dir_ / "no-such-port").string()});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("No response of KLV480\n"));
  r = Cli({"erase", "--port", "not a port"});
  EXPECT_EQ(r.exitStatus, 2);
}

TEST_F(GetDataTest, UnwritableReportStopsFirst) {
  StartSimulator();
  const Result r = Cli({"get-data", "--port", link_, "-o", dir_.string(), "--image", Image()});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr(dir_.string() + ": Is a directory"));
  EXPECT_THAT(SimulatorLog(), Not(HasSubstr("< UNLOCK")));
}

}  // namespace
