#include "history/history.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "history/listing.h"
#include "report/analysis.h"
#include "report/image_generator.h"
#include "report/testing/records.h"
#include "report/testing/temp_dir.h"

namespace brelin::history {
namespace {

using report::testing::Measurement;
using report::testing::ReadText;
using report::testing::WriteBytes;
using report::testing::WriteText;

const std::string kSample = BRELIN_DATA_DIR "/sample.bin";

std::int64_t Count(const History& history) {
  std::int64_t n = 0;
  for (const PointSummary& p : history.Points()) n += p.readings;
  return n;
}

// What a failed call said, or "" when it did not fail.
std::string Failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const HistoryError& e) {
    return e.what();
  }
  return {};
}

// Runs `work` in a child process and returns what it wrote to its pipe.
std::string InChild(const std::function<std::string()>& work) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    const std::string said = work();
    (void)!write(pipeFds[1], said.data(), said.size());
    _exit(0);
  }
  close(pipeFds[1]);
  std::string said;
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) said.append(buffer, n);
  close(pipeFds[0]);
  waitpid(child, nullptr, 0);
  return said;
}

class HistoryTest : public ::testing::Test {
 protected:
  report::testing::TempDir dir;
  std::string path = dir.Path("brelin/history.sqlite3");
  std::string image = dir.Path("image.bin");
};

TEST_F(HistoryTest, ImportKeepsEveryReadingOnceAndInstrumentsApart) {
  // Point 7 six times (more than a report keeps), one record twice, a time of 0 and another kind.
  auto other = Measurement(8, 19, 0x00EA, 1000);
  other[0] = 0x40;
  WriteBytes(image, report::testing::Image(
                        {Measurement(7, 19, 0x00EA, 100), Measurement(7, 19, 0x00EB, 200),
                         Measurement(7, 19, 0x00EC, 300), Measurement(7, 19, 0x00ED, 400),
                         Measurement(7, 19, 0x00EE, 500), Measurement(7, 19, 0x00EE, 500),
                         Measurement(7, 20, 0x00EE, 500), Measurement(7, 19, 0x00EF, 0),
                         Measurement(9, 0, 0x01F4, 50), other}));
  History history(path, History::Mode::kWrite);
  ImportCounts counts = history.Import(4711, image);
  EXPECT_EQ(counts.seen, 9u);
  EXPECT_EQ(counts.added, 7u);  // the repeated record and time 0 are not added
  counts = history.Import(4711, image);
  EXPECT_EQ(counts.seen, 9u);
  EXPECT_EQ(counts.added, 0u);
  EXPECT_EQ(history.Import(815, image).added, 7u);

  const std::vector<Reading> readings = history.Readings(4711, 7);
  ASSERT_EQ(readings.size(), 6u);
  EXPECT_EQ(readings.front().time, 100);
  EXPECT_EQ(readings.back().time, 500);
  EXPECT_EQ(readings[4].raw, 0x00EE);
  EXPECT_EQ(history.Serials(7), (std::vector<std::int32_t>{815, 4711}));
  EXPECT_EQ(history.Serials(10), (std::vector<std::int32_t>{}));

  const std::vector<PointSummary> points = history.Points();
  ASSERT_EQ(points.size(), 4u);
  EXPECT_EQ(points[0].serial, 815);
  EXPECT_EQ(points[3].serial, 4711);
  EXPECT_EQ(points[3].point, 9);
  EXPECT_EQ(points[2].readings, 6);
  EXPECT_EQ(points[2].first, 100);
  EXPECT_EQ(points[2].last, 500);

  // Since inclusive, until exclusive.
  const auto times = [&](std::int64_t since, std::int64_t until) {
    std::vector<std::int32_t> out;
    for (const Reading& r : history.Readings(4711, 7, since, until)) out.push_back(r.time);
    return out;
  };
  EXPECT_EQ(times(200, 400), (std::vector<std::int32_t>{200, 300}));
  EXPECT_EQ(times(450, INT64_MAX), (std::vector<std::int32_t>{500, 500}));
  EXPECT_EQ(times(INT64_MIN, 101), (std::vector<std::int32_t>{100}));
  EXPECT_TRUE(times(600, 700).empty());
}

using Combination = std::tuple<int, int, int>;  // unit system, temperature scale, layout
class HistoryTextTest : public ::testing::TestWithParam<Combination> {};

TEST_P(HistoryTextTest, ValueTextsAreTheReportsForTheSameRecords) {
  const auto [units, scale, layout] = GetParam();
  const report::ReportOptions options{
      .unitSystem = units, .temperatureScale = scale, .reportFormat = layout};
  report::testing::TempDir dir;
  History history(dir.Path("h.sqlite3"), History::Mode::kWrite);
  history.Import(4711, kSample);
  report::PointTable table{};
  const report::AnalysisSummary summary = report::DecodeImage(table, kSample, options);
  ASSERT_GT(summary.readings, 100);

  int compared = 0;
  for (int p = 0; p < report::kPointCount; ++p) {
    const std::vector<Reading> readings = history.Readings(4711, p);
    for (int k = 0; k < report::kSlotsPerPoint; ++k) {
      const report::PointSlot& slot = table[p][k];
      if (slot.timestamp == 0) continue;
      const report::RowTexts want = report::FormatRow(p, 0, slot);
      bool found = false;
      for (const Reading& reading : readings) {
        const report::RowTexts got = ReadingRow(p, 0, reading, options);
        found = found || (got.value == want.value && got.unit == want.unit &&
                          got.type == want.type && got.time == want.time);
      }
      EXPECT_TRUE(found) << "point " << p << " " << want.value << want.unit << " " << want.time;
      ++compared;
    }
  }
  EXPECT_EQ(compared, summary.readings);
  // And a report line is a report line: the show listing has the report's row for each reading.
  const std::string listing = FormatReadings(4711, 0, history.Readings(4711, 0), options);
  EXPECT_NE(listing.find(report::ColumnNamesLine(layout)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(AllOptions, HistoryTextTest,
                         ::testing::Combine(::testing::Values(report::kMetric, report::kImperial),
                                            ::testing::Values(report::kRelative, report::kAbsolute),
                                            ::testing::Values(report::kAscii, report::kCsv)));

TEST(HistoryListingTest, ShowAndPointsListings) {
  report::testing::TempDir dir;
  WriteBytes(dir.Path("i"), report::testing::Image({Measurement(7, 19, 0x00EA, 1078136100),
                                                    Measurement(7, 19, 0x40EA, 1078136160),
                                                    Measurement(7, 1, 0x00EA, 1078136220)}));
  History history(dir.Path("h"), History::Mode::kWrite);
  history.Import(12, dir.Path("i"));
  report::ReportOptions options;
  EXPECT_EQ(FormatReadings(12, 7, history.Readings(12, 7), options),
            "KLV480 history of point 7 of device NE12\r\n\r\n"
            "Point\tNr\tValue\tType\tTimestamp\r\n"
            "7\t0\t  23.4\t\260C\tTemperature Sensor \tMon Mar 01, 2004 10:15\r\n"
            "7\t1\t -23.4\t\260C\tTemperature Sensor \tMon Mar 01, 2004 10:16\r\n"
            "7\t2\tUNKNOWN\tUnknown sensor     \tMon Mar 01, 2004 10:17\r\n");
  options.reportFormat = report::kCsv;
  options.unitSystem = report::kImperial;
  options.encoding = report::TextEncoding::kUtf8;
  options.lineEnd = report::LineEnd::kLf;
  EXPECT_EQ(FormatPoints(history, options),
            "\"Device\",\"Point\",\"Readings\",\"First\",\"Last\",\"Smallest\",\"Largest\"\n"
            "\"NE12\",\"7\",\"3\",\"Mon Mar 01, 2004 10:15\",\"Mon Mar 01, 2004 10:17\","
            "\"-10.1 \302\260F\",\"74.1 \302\260F\"\n");
}

TEST_F(HistoryTest, LockedCorruptAndForeignFilesAreLeftAlone) {
  WriteBytes(image, report::GenerateImage(300, 1));
  {
    History history(path, History::Mode::kWrite);
    history.Import(1, image);
  }
  // Another program holds the write lock: the import waits its time, says so and adds nothing.
  WriteBytes(image, report::GenerateImage(300, 2));
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  {
    History history(path, History::Mode::kWrite, {.busyTimeoutMs = 20});
    const std::int64_t before = Count(history);
    EXPECT_EQ(Failure([&] { history.Import(1, image); }),
              path + " is locked by another program; try again when it is done");
    EXPECT_EQ(Count(history), before);
  }
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);

  // Not a database, a database of another program, a history of a later version: never written.
  const std::string text = dir.Path("notes.sqlite3");
  WriteText(text, std::string(5000, 'x'));
  const std::string foreign = dir.Path("foreign.sqlite3");
  const std::string later = dir.Path("later.sqlite3");
  ASSERT_EQ(sqlite3_open(foreign.c_str(), &other), SQLITE_OK);
  sqlite3_exec(other, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  { History made(later, History::Mode::kWrite); }
  ASSERT_EQ(sqlite3_open(later.c_str(), &other), SQLITE_OK);
  sqlite3_exec(other, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  for (const std::string& file : {text, foreign, later}) {
    const std::string before = ReadText(file);
    for (const History::Mode mode : {History::Mode::kWrite, History::Mode::kRead}) {
      const std::string said = Failure([&] { History(file, mode).Import(1, image); });
      EXPECT_EQ(said.rfind(file + (file == later ? " was made by a newer version of Brelin"
                                                 : " is not a Brelin history"),
                           0),
                0u)
          << said;
      EXPECT_NE(said.find("it was left as it is"), std::string::npos) << said;
    }
    EXPECT_EQ(ReadText(file), before) << file;
  }

  // A history whose pages were overwritten: the import fails and the file stays as it was.
  std::string bytes = ReadText(path);
  ASSERT_GT(bytes.size(), 3 * 4096u);
  for (std::size_t i = 4096 + 100; i < bytes.size(); i += 7) bytes[i] = static_cast<char>(i);
  WriteText(path, bytes);
  const std::string said = Failure([&] {
    History history(path, History::Mode::kWrite);
    history.Import(1, image);
  });
  EXPECT_EQ(said.rfind(path + " is damaged", 0), 0u) << said;
  EXPECT_EQ(ReadText(path), bytes);
}

TEST_F(HistoryTest, ReadOnlyFolderAndMissingHistory) {
  EXPECT_EQ(Failure([&] { History(path, History::Mode::kRead); }),
            path + ": there is no history yet; Get Data makes one");
  EXPECT_EQ(dir.Count(), 0u);  // reading makes nothing
  WriteText(dir.Path("empty"), "");
  EXPECT_EQ(Failure([&] { History(dir.Path("empty"), History::Mode::kRead); }),
            dir.Path("empty") + " holds no readings yet");
  EXPECT_EQ(ReadText(dir.Path("empty")), "");
  std::filesystem::remove(dir.Path("empty"));

  WriteBytes(image, report::GenerateImage(30, 1));
  chmod(dir.path().c_str(), 0755);  // the image stays readable for whoever tries
  const std::string locked = dir.Path("locked");
  ASSERT_EQ(mkdir(locked.c_str(), 0555), 0);
  const std::string file = locked + "/history.sqlite3";
  // Root writes anywhere: the attempt is made as nobody then.
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() == 0 && nobody == nullptr) GTEST_SKIP() << "no user nobody to run as";
  const std::string said = InChild([&] {
    if (geteuid() == 0 && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) {
      return std::string("cannot become nobody");
    }
    return Failure([&] { History(file, History::Mode::kWrite).Import(1, image); });
  });
  EXPECT_EQ(said, file + ": could not create it (Permission denied)");
  EXPECT_TRUE(std::filesystem::is_empty(locked));
}

TEST_F(HistoryTest, AnImportKilledOrFailingMidwayLeavesTheHistoryAsItWas) {
  WriteBytes(image, report::GenerateImage(2000, 1));
  std::int64_t before = 0;
  {
    History history(path, History::Mode::kWrite);
    before = static_cast<std::int64_t>(history.Import(1, image).added);
  }
  ASSERT_GT(before, 1000);
  WriteBytes(image, report::GenerateImage(200000, 2));

  // Killed while its transaction is open.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    History history(path, History::Mode::kWrite);
    history.Import(1, image, [&](std::uint64_t rows) {
      if (rows == 150000) {
        (void)!write(ready[1], "x", 1);
        for (;;) pause();
      }
    });
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);

  // A write that fails (the file size limit stands in for a full disk).
  const std::string said = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{.rlim_cur = 512 * 1024, .rlim_max = 512 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    return Failure([&] { History(path, History::Mode::kWrite).Import(1, image); });
  });
  EXPECT_EQ(said.rfind(path + ": could not import the readings (", 0), 0u) << said;

  History history(path, History::Mode::kRead);
  EXPECT_EQ(Count(history), before);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* check = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);
}

}  // namespace
}  // namespace brelin::history
