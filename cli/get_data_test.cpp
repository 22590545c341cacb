// brelin-cli get-data and erase against klv480-sim on a pseudo-terminal, both as child processes.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <regex>

#include "report/testing/temp_dir.h"

extern char** environ;

namespace {

using brelin::report::testing::ReadText;
using ::testing::HasSubstr;
using ::testing::Not;

// Starts a program with stdin, stdout and stderr on the given descriptors, which it closes.
pid_t Spawn(std::vector<std::string> args, int in, int out, int err) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in), close(out), close(err);
  return pid;
}

struct Result {
  int exitStatus = -1;
  std::string err;            // stderr, without the progress bar
  std::vector<int> progress;  // the positions the bar showed
  double secondsAfterSignal = -1;
  std::string terminal;  // stderr as the terminal got it
  std::string out;       // stdout
};

// A signal to send once the program's stderr shows a text.
struct SignalAt {
  std::string text;
  int signal = SIGINT;
};

class GetDataTest : public ::testing::Test {
 protected:
  ~GetDataTest() override { StopSimulator(); }
  // Starts klv480-sim on the sample memory image, unpaced unless `extra` gives a --baud; it
  // prints its device path when ready.
  void StartSimulator(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{KLV480_SIM, "--link", link_, "--image", BRELIN_SAMPLE_IMAGE};
    if (std::find(extra.begin(), extra.end(), "--baud") == extra.end()) {
      args.insert(args.end(), {"--baud", "0"});
    }
    args.insert(args.end(), extra.begin(), extra.end());
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    sim_ = Spawn(args, open("/dev/null", O_RDONLY), pipe[1],
                 open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    ASSERT_GT(sim_, 0);
    device_.clear();
    char c;  // the device path comes as one line once the link is in place
    while (read(pipe[0], &c, 1) == 1 && c != '\n') device_ += c;
    close(pipe[0]);
    ASSERT_EQ(std::filesystem::read_symlink(link_).string(), device_);
  }
  void StopSimulator() {
    if (sim_ <= 0) return;
    kill(sim_, SIGTERM);
    waitpid(sim_, nullptr, 0);
    sim_ = -1;
  }

  // Runs brelin-cli with stderr on a terminal, where it draws its progress bar. Its stdin is
  // empty, or a terminal where the operator has typed `typed`. With `stop`, the signal goes to
  // brelin-cli once its stderr shows the text; `as` is a command that runs it as another user.
  Result Cli(std::vector<std::string> args, std::optional<std::string> typed = {},
             std::optional<SignalAt> stop = {}, const std::vector<std::string>& as = {}) {
    args.insert(args.begin(), BRELIN_CLI);
    args.insert(args.begin(), as.begin(), as.end());
    int master = -1, err = -1, keyboard = -1, in = open("/dev/null", O_RDONLY);
    termios raw{};
    cfmakeraw(&raw);
    EXPECT_EQ(openpty(&master, &err, nullptr, &raw, nullptr), 0);
    if (typed) {
      close(in);
      EXPECT_EQ(openpty(&keyboard, &in, nullptr, nullptr, nullptr), 0);
      EXPECT_EQ(write(keyboard, typed->data(), typed->size()), ssize_t(typed->size()));
    }
    const std::string out = dir_.Path("stdout");
    const pid_t pid = Spawn(args, in, open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), err);
    Result r;
    char buffer[4096];
    std::chrono::steady_clock::time_point signalled;
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) {
      r.err.append(buffer, n);
      if (stop && r.err.find(stop->text) != std::string::npos) {
        signalled = std::chrono::steady_clock::now();
        kill(pid, stop->signal);
        stop.reset();
      }
    }
    close(master);
    if (keyboard >= 0) close(keyboard);
    int status = 0;
    waitpid(pid, &status, 0);
    if (signalled.time_since_epoch().count() != 0) {
      r.secondsAfterSignal =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    }
    r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadText(out);
    r.terminal = r.err;
    // The bar, and the transfer's figures after it while they last.
    const std::regex bar(R"(\r\[[# ]*\] *(\d+)%[^\r\x1b]*)");
    for (std::sregex_iterator it(r.err.begin(), r.err.end(), bar), end; it != end; ++it) {
      const int position = std::stoi((*it)[1]);
      if (r.progress.empty() || r.progress.back() != position) r.progress.push_back(position);
    }
    r.err = std::regex_replace(std::regex_replace(r.err, bar, ""), std::regex("\r\x1b\\[K"), "");
    return r;
  }
  Result GetData(std::string format = "ascii") {
    return Cli({"get-data", "--port", link_, "-o", report_, "--image", image_, "--format", format});
  }

  brelin::report::testing::TempDir dir_;
  std::string link_ = dir_.Path("klv480"), report_ = dir_.Path("report.txt"),
              image_ = dir_.Path("KLV480.bin"), log_ = dir_.Path("sim.log");
  std::string device_;
  pid_t sim_ = -1;
};

TEST_F(GetDataTest, FullDownloadGivesTheReportOfTheImage) {
  StartSimulator({"--serial", "480777"});
  const Result r = GetData("csv");
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.progress, (std::vector<int>{10, 30, 50, 70, 85, 100}));
  EXPECT_THAT(r.terminal, ::testing::ContainsRegex("10% 3\\.6 KiB, [0-9.]+ KiB/s, 0 retries"));
  EXPECT_EQ(ReadText(image_), ReadText(BRELIN_SAMPLE_IMAGE));
  EXPECT_THAT(r.err, HasSubstr("Checking output filename.\nCreating output file.\nGet data from "
                               "KLV480.\nOpening communication port.\nDownloading data from "
                               "KLV480.\nObtaining KLV480 system info.\n"));
  const std::string expected = dir_.Path("expected.csv");
  const Result analysed =
      Cli({"analyse", image_, "-o", expected, "--format", "csv", "--serial", "480777"});
  ASSERT_EQ(analysed.exitStatus, 0);
  // The analysis's summary line follows the status lines.
  const std::string summary =
      analysed.err.substr(analysed.err.rfind('\n', analysed.err.size() - 2));
  EXPECT_THAT(summary, HasSubstr(" records read: "));
  EXPECT_THAT(r.err, HasSubstr("Done." + summary));
  // Both reports carry their creation time in the first line; everything after it is the same.
  const std::string report = ReadText(report_), want = ReadText(expected);
  EXPECT_THAT(report, HasSubstr("NE480777"));
  EXPECT_EQ(report.substr(report.find('\n')), want.substr(want.find('\n')));
  const std::string log = ReadText(log_);
  EXPECT_THAT(log, HasSubstr("transfer done"));
  EXPECT_LT(log.find("< system"), log.find("< LOCK"));
}

TEST_F(GetDataTest, EachDownloadAddsItsNewReadingsToTheHistory) {
  StartSimulator({"--serial", "480777"});
  const std::string history = dir_.Path("data/history.sqlite3");
  // The user's data folder unless told otherwise; --no-history keeps it out.
  const std::string xdg = dir_.Path("xdg");
  const char* before = std::getenv("XDG_DATA_HOME");
  const std::string saved = before != nullptr ? before : "";
  setenv("XDG_DATA_HOME", xdg.c_str(), 1);
  Result r = Cli({"get-data", "--port", link_, "-o", report_, "--no-history"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_FALSE(std::filesystem::exists(xdg));
  r = Cli({"get-data", "--port", link_, "-o", report_});
  EXPECT_THAT(r.err, HasSubstr(" new in the history " + xdg + "/brelin/history.sqlite3.\n"));
  if (before != nullptr) {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }

  r = Cli({"get-data", "--port", link_, "-o", report_, "--history", history});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_THAT(r.err, ::testing::ContainsRegex(" records read: [^\n]*\n[1-9][0-9]* of [0-9]+ "
                                              "readings new in the history " +
                                              history + "\\.\n$"));
  r = Cli({"get-data", "--port", link_, "-o", report_, "--history", history});
  EXPECT_THAT(r.err, ::testing::ContainsRegex("\n0 of [0-9]+ readings new in the history " +
                                              history + "\\.\n$"));
  r = Cli({"history", "points", "--history", history});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("\r\nNE480777\t"));
  // A history that cannot be written costs a warning, not the download.
  r = Cli({"get-data", "--port", link_, "-o", report_, "--history", report_ + "/h"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_THAT(r.err, HasSubstr("brelin-cli: warning: " + report_ +
                               "/h: could not make its folder (Not a directory)"));
  r = Cli({"get-data", "--port", link_, "-o", report_, "--history", report_ + "/h", "--strict"});
  EXPECT_EQ(r.exitStatus, 1);
}

TEST_F(GetDataTest, ReportToStandardOutputAndQuietRuns) {
  StartSimulator();
  ASSERT_EQ(GetData().exitStatus, 0);
  const std::string file = ReadText(report_);
  // "-o -": the same report on stdout, the status lines still on stderr, no file named "-".
  Result r = Cli({"get-data", "--port", link_, "-o", "-", "--image", image_});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find('\n')), file.substr(file.find('\n')));
  EXPECT_THAT(r.err, HasSubstr("Creating output file.\nGet data from KLV480.\n"));
  EXPECT_FALSE(std::filesystem::exists("-"));
  // Quiet: no status line, no bar, no summary; UTF-8 and LF as asked.
  r = Cli({"get-data", "-q", "--port", link_, "-o", report_, "--image", image_, "--encoding",
           "utf8", "--line-end", "lf"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.terminal, "");
  EXPECT_EQ(r.out, "");
  const std::string utf8 = ReadText(report_);
  EXPECT_THAT(utf8, HasSubstr("\t\302\260C\t"));
  EXPECT_THAT(utf8, Not(HasSubstr("\r")));
  StopSimulator();
  // A failure still speaks, on its one line.
  StartSimulator({"--silent"});
  r = Cli({"--quiet", "get-data", "--port", link_, "-o", "-", "--image", image_});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.terminal, "No response of KLV480\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(GetDataTest, FailuresKeepThePreviousReportAndImage) {
  struct Case {
    std::vector<std::string> flags;
    const char *message, *logHas, *logLacks;
  };
  const Case cases[] = {
      {{"--refuse"}, "No download allowed !!!\n", "< LOCK", "< system"},
      {{"--silent"}, "No response of KLV480\n", "< UNLOCK", "< LOCK"},
      {{"--crlf"}, "No response of KLV480\n", "< UNLOCK", "< DOWNLOAD"},
      {{"--cancel-after", "3"},
       "Error in file transfer -606: the instrument cancelled\nThe 384 bytes received are kept in ",
       "< LOCK",
       "< system"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags[0]);
    StartSimulator(c.flags);
    brelin::report::testing::WriteText(report_, "yesterday's report\r\n");
    brelin::report::testing::WriteText(image_, "yesterday's image");
    for (int session = 0; session < 2; ++session) {  // the simulator is ready for the next one
      const Result r = GetData();
      EXPECT_EQ(r.exitStatus, 1);
      EXPECT_THAT(r.err, HasSubstr(c.message));
    }
    EXPECT_EQ(ReadText(report_), "yesterday's report\r\n");
    EXPECT_EQ(ReadText(image_), "yesterday's image");
    const std::string log = ReadText(log_);
    EXPECT_THAT(log, HasSubstr(c.logHas));
    EXPECT_THAT(log, Not(HasSubstr(c.logLacks)));
    StopSimulator();
    EXPECT_FALSE(std::filesystem::is_symlink(link_)) << "the link goes with the simulator";
  }
}

TEST_F(GetDataTest, RecoversFromACorruptedTransfer) {
  StartSimulator({"--corrupt-every", "1500", "--block", "1024"});
  const Result r = GetData();
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string sample = ReadText(BRELIN_SAMPLE_IMAGE);
  EXPECT_EQ(ReadText(image_).substr(0, sample.size()), sample);
  EXPECT_THAT(ReadText(log_), HasSubstr("NAK, resending"));
}

TEST_F(GetDataTest, FailuresAndUnconfirmedErasesReachNothingThenEraseEmptiesTheMemory) {
  StartSimulator();
  const int holder = open(device_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  Result r = GetData();
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr("Opening communication port.\nCannot open serial port " + link_ +
                               ": Resource temporarily unavailable\nAnother program has the port "
                               "open: ModemManager"));
  close(holder);
  r = Cli({"get-data", "--port", link_, "-o", dir_.path().string(), "--image", image_});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err, HasSubstr(dir_.path().string() + ": Is a directory"));
  r = Cli({"erase", "--port", dir_.Path("no-such-port"), "--yes"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.err,
              HasSubstr("Cannot open serial port " + dir_.Path("no-such-port") +
                        ": No such file or directory\nThere is no such port: list the "
                        "ports with 'brelin-cli ports', or choose one in COM Port Setup.\n"));
  // An erase that is not confirmed does not open the port.
  const std::string question =
      "Erase all measurements stored in the KLV480? This cannot be undone. [y/N] ";
  const struct {
    std::optional<std::string> typed;
    std::string err;
  } refusals[] = {
      {{}, "brelin-cli: erase: no terminal to ask on; give --yes to erase without asking\n"},
      {"\n", question + "brelin-cli: erase: not confirmed; nothing was sent to the instrument\n"},
      {"no\n", question + "brelin-cli: erase: not confirmed; nothing was sent to the instrument\n"},
  };
  for (const auto& refusal : refusals) {
    r = Cli({"erase", "--port", link_}, refusal.typed);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err, refusal.err);
  }
  EXPECT_THAT(ReadText(log_), Not(HasSubstr("< UNLOCK")));

  r = Cli({"erase", "--port", link_}, "Y\n");
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, question +
                       "Get data from KLV480.\nOpening communication port.\n"
                       "Erasing data in the KLV480.\nDone.\n");
  std::vector<int> progress{5};  // then the animation passes every position from 10 to 99
  for (int p = 10; p <= 99; ++p) progress.push_back(p);
  progress.push_back(100);
  EXPECT_EQ(r.progress, progress);
  const std::string log = ReadText(log_);
  EXPECT_LT(log.find("< ERASE 47190356"), log.find("< LOCK"));
  ASSERT_EQ(GetData().exitStatus, 0);
  EXPECT_EQ(std::filesystem::file_size(image_), 0u);
}

// A signal at each stage of a download paced like the real line: the transfer ends with its
// cancel sequence, an unlocked instrument gets LOCK, the previous report and image stay, the
// terminal line is ended, and the exit status tells the signal.
TEST_F(GetDataTest, SignalsStopTheDownloadCleanly) {
  const struct {
    const char* stage;
    std::vector<std::string> sim;
    SignalAt stop;
    const char *logHas, *logLacks;
  } kStages[] = {
      {"before UNLOCK's answer",
       {"--silent"},
       {"Opening communication port.\n", SIGTERM},
       "< UNLOCK",
       "< LOCK"},
      {"mid-transfer",
       {"--baud", "9600", "--block", "1024"},
       {"Downloading data from KLV480.\n", SIGINT},
       "cancelled by the receiver",
       "< system"},
      {"during the system read",
       {"--baud", "9600"},
       {"Obtaining KLV480 system info.\n", SIGHUP},
       "< system",
       "transfer aborted"},
  };
  for (const auto& stage : kStages) {
    SCOPED_TRACE(stage.stage);
    StartSimulator(stage.sim);
    brelin::report::testing::WriteText(report_, "yesterday's report\r\n");
    brelin::report::testing::WriteText(image_, "yesterday's image");
    const Result r =
        Cli({"get-data", "--port", link_, "-o", report_, "--image", image_}, {}, stage.stop);
    EXPECT_EQ(r.exitStatus, 128 + stage.stop.signal);
    EXPECT_TRUE(r.err.ends_with("\nbrelin-cli: interrupted\n")) << r.err;
    EXPECT_LT(r.secondsAfterSignal, 5) << "a clean-up that hangs";
    EXPECT_EQ(ReadText(report_), "yesterday's report\r\n");
    EXPECT_EQ(ReadText(image_), "yesterday's image");
    StopSimulator();
    const std::string log = ReadText(log_);
    EXPECT_THAT(log, HasSubstr(stage.logHas));
    EXPECT_THAT(log, Not(HasSubstr(stage.logLacks)));
    if (stage.sim[0] != "--silent") {
      EXPECT_TRUE(log.ends_with("< LOCK\nklv480-sim: > OK\\n\\r\n")) << log;
    }
  }
}

// What root never meets, as a user who is not root (nobody): a port only its owner may use, one of
// a group the user is not in, one that another program holds with TIOCEXCL. Nothing is sent.
TEST_F(GetDataTest, PortsAnotherUserMayNotOpenSayWhatToDo) {
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || nobody == nullptr || access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "needs root, user nobody and setpriv to run brelin-cli as another user";
  }
  const std::vector<std::string> asNobody{
      "/usr/bin/setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
      "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"};
  StartSimulator();
  const std::string out = dir_.Path("nobody");  // where nobody may write its report
  ASSERT_EQ(mkdir(out.c_str(), 0777), 0);
  ASSERT_EQ(chmod(out.c_str(), 0777), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  const struct {
    const char* name;
    mode_t mode;
    const char* group;  // the device's group, when it is to be changed
    bool exclusive;     // another program holds the port with TIOCEXCL
    std::string why;
  } kCases[] = {
      {"OnlyTheOwner", 0600, nullptr, false,
       "Permission denied\nYour user may not use it: only its owner may (mode 0600). Ask the "
       "administrator for access."},
      {"NotInTheGroup", 0660, "dialout", false,
       "Permission denied\nYour user may not use it. It belongs to the group 'dialout': join it "
       "with 'sudo usermod -aG dialout $USER', then log out and in again (a new group counts from "
       "the next login)."},
      {"ExclusiveHolder", 0666, nullptr, true,
       "Device or resource busy\nAnother program has the port open: ModemManager (it probes new "
       "USB serial adapters), a terminal program such as minicom or screen, or another Brelin. "
       "Close it and try again."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(chmod(device_.c_str(), c.mode), 0);
    if (c.group != nullptr) {
      const group* g = getgrnam(c.group);
      if (g == nullptr) continue;  // not on this system
      ASSERT_EQ(chown(device_.c_str(), -1, g->gr_gid), 0);
    }
    const int holder = c.exclusive ? open(device_.c_str(), O_RDWR | O_NOCTTY) : -1;
    if (c.exclusive) {
      ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    }
    const Result r = Cli(
        {"get-data", "--port", link_, "-o", out + "/report.txt", "--image", out + "/KLV480.bin"},
        {}, {}, asNobody);
    if (c.exclusive) ioctl(holder, TIOCNXCL), close(holder);  // the flag outlives our descriptor
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_THAT(r.err, HasSubstr("Opening communication port.\nCannot open serial port " + link_ +
                                 ": " + c.why + "\n"));
  }
  EXPECT_THAT(ReadText(log_), Not(HasSubstr("< UNLOCK")));
}

}  // namespace
