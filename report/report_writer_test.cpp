#include "report/report_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "report/file_error.h"
#include "report/replace_file.h"
#include "report/testing/fake_model.h"
#include "report/testing/temp_dir.h"

namespace brelin::report {
namespace {

using testing::FakeModel;
using testing::ReadText;
using testing::TempDir;
using testing::WriteText;

constexpr std::time_t kMar1 = 1078136100;  // Mon Mar 01, 2004 10:15 UTC

void Fill(PointSlot& slot, std::uint8_t type, const char* text, std::int32_t t) {
  slot.sensorType = type;
  std::strncpy(slot.valueText, text, sizeof slot.valueText - 1);
  slot.timestamp = t;
}

// Runs a test with the local time zone set to a fixed offset, restoring the previous one.
class LocalZone {
 public:
  explicit LocalZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~LocalZone() {
    had_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

TEST(TimeTextTest, RowTimesAreUtcAcrossTheWholeRange) {
  LocalZone zone("XYZ-5");
  EXPECT_EQ(RowTimeText(static_cast<std::int32_t>(kMar1)), "Mon Mar 01, 2004 10:15");
  EXPECT_EQ(RowTimeText(0), "Thu Jan 01, 1970 00:00");
  EXPECT_EQ(RowTimeText(-1), "Wed Dec 31, 1969 23:59");
  EXPECT_EQ(RowTimeText(INT32_MAX), "Tue Jan 19, 2038 03:14");
  EXPECT_EQ(RowTimeText(INT32_MIN), "Fri Dec 13, 1901 20:45");
  EXPECT_EQ(RowTimeText(1798761599), "Thu Dec 31, 2026 23:59");
}

TEST(TimeTextTest, CreationTimeIsLocalAndEnglishInAnyLocale) {
  LocalZone zone("XYZ-2");
  EXPECT_EQ(CreationTimeText(kMar1), "Mon Mar 01, 2004 12:15");
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  const std::string text = CreationTimeText(kMar1 + 86400 * 5);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(text, "Sat Mar 06, 2004 12:15");
}

// Timestamps after ordering, each times 10 plus the slot it came from.
std::vector<std::int64_t> Ordered(std::vector<std::int32_t> stamps) {
  PointTable table{};
  for (std::size_t k = 0; k < stamps.size(); ++k) {
    table[0][k].timestamp = stamps[k];
    table[0][k].sensorType = static_cast<std::uint8_t>(k);
  }
  OrderSlots(table, 0);
  std::vector<std::int64_t> out;
  for (const PointSlot& slot : table[0])
    out.push_back(std::int64_t{slot.timestamp} * 10 + slot.sensorType);
  return out;
}

TEST(OrderSlotsTest, OldestFirstStableAndEmptiesLast) {
  EXPECT_EQ(Ordered({500, 200, 300, 400}), (std::vector<std::int64_t>{2001, 3002, 4003, 5000}));
  EXPECT_EQ(Ordered({300, 200, 100, 0}), (std::vector<std::int64_t>{1002, 2001, 3000, 3}));
  EXPECT_EQ(Ordered({400, 300, 200, 100}), (std::vector<std::int64_t>{1003, 2002, 3001, 4000}));
  EXPECT_EQ(Ordered({7, 3, 7, 3}), (std::vector<std::int64_t>{31, 33, 70, 72}));
  EXPECT_EQ(Ordered({INT32_MAX, -5, 0, 0}),
            (std::vector<std::int64_t>{-50 + 1, std::int64_t{INT32_MAX} * 10, 2, 3}));
}

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fill(table[7][0], 19,
         "  23.4\t\xB0"
         "C",
         static_cast<std::int32_t>(kMar1));
    Fill(table[7][1], 3, "UNKNOWN", static_cast<std::int32_t>(kMar1) - 60);
    Fill(table[12][0], 23, "-72.29\tmSCFM", static_cast<std::int32_t>(kMar1) + 60);
    Fill(table[12][1], 0, "stale", 0);
  }

  LocalZone zone{"UTC0"};
  PointTable table{};
};

TEST_F(ReportTest, AsciiIsByteExact) {
  EXPECT_EQ(FormatAsciiReport(table, 1234, kMar1),
            "KLV480 report created at Mon Mar 01, 2004 10:15\r\n"
            "Data downloaded from device NE1234\r\n\r\n"
            "Point\tNr\tValue\tType\tTimestamp\r\n"
            "7\t0\tUNKNOWN\tUnknown sensor     \tMon Mar 01, 2004 10:14\r\n"
            "7\t1\t  23.4\t\xB0"
            "C\tTemperature Sensor \tMon Mar 01, 2004 10:15\r\n"
            "12\t0\t-72.29\tmSCFM\tIR Temperature Sensor\tMon Mar 01, 2004 10:16\r\n");
}

TEST_F(ReportTest, CsvSplitsNumberAndUnitAndQuotesEveryField) {
  EXPECT_EQ(
      FormatCsvReport(table, -3, kMar1),
      "\"KLV480 report created at Mon Mar 01, 2004 10:15\"\r\n"
      "\"Data downloaded from device NE-3\"\r\n\r\n"
      "\"Point\",\"Nr\",\"Value\",\"Unit\",\"Type\",\"Timestamp\"\r\n"
      "\"7\",\"0\",\"UNKNOWN\",\"Unknown sensor     \",\"Mon Mar 01, 2004 10:14\"\r\n"
      "\"7\",\"1\",\"  23.4\",\"\xB0"
      "C\",\"Temperature Sensor \",\"Mon Mar 01, 2004 10:15\"\r\n"
      "\"12\",\"0\",\"-72.29\",\"mSCFM\",\"IR Temperature Sensor\",\"Mon Mar 01, 2004 10:16\"\r\n");
}

TEST_F(ReportTest, EmptyTableGivesTheHeaderOnly) {
  PointTable empty{};
  EXPECT_EQ(FormatAsciiReport(empty, 0, kMar1),
            "KLV480 report created at Mon Mar 01, 2004 10:15\r\n"
            "Data downloaded from device NE0\r\n\r\n"
            "Point\tNr\tValue\tType\tTimestamp\r\n");
}

class WriteReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    model.outputFileName = dir.Path("report.txt");
    model.pointTable[1][0].timestamp = 100;
    std::strcpy(model.pointTable[1][0].valueText, " 60.0\tdBA");
  }

  TempDir dir;
  FakeModel model;
};

TEST_F(WriteReportTest, ReplacesTheWholeFileAtOnce) {
  WriteText(model.outputFileName, std::string(5000, 'x'));
  const int old = ::open(model.outputFileName.c_str(), O_RDONLY);
  ASSERT_GE(old, 0);
  WriteCsvReport(model, kMar1);

  const std::string text = ReadText(model.outputFileName);
  EXPECT_EQ(text.substr(0, 26), "\"KLV480 report created at ");
  EXPECT_TRUE(text.ends_with(
      "\r\n\"1\",\"0\",\" 60.0\",\"dBA\",\"Internal Sensor    \",\"Thu Jan 01, 1970 00:01\"\r\n"))
      << text;
  // The old file was never written to: whoever still has it open reads it whole.
  char buffer[6000];
  EXPECT_EQ(::read(old, buffer, sizeof buffer), 5000);
  ::close(old);
  EXPECT_EQ(dir.Count(), 1u);
}

TEST_F(WriteReportTest, NewFilesGetUsualPermissionsAndOldOnesKeepTheirs) {
  const mode_t mask = ::umask(022);
  WriteAsciiReport(model, kMar1);
  struct stat st {};
  ASSERT_EQ(::stat(model.outputFileName.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ::chmod(model.outputFileName.c_str(), 0600);
  WriteAsciiReport(model, kMar1);
  ASSERT_EQ(::stat(model.outputFileName.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ::umask(mask);
}

TEST_F(WriteReportTest, FailuresNameThePathAndLeaveNothingBehind) {
  model.outputFileName = dir.Path("no/such/folder/report.txt");
  try {
    WriteAsciiReport(model, kMar1);
    FAIL() << "no FileError";
  } catch (const FileError& e) {
    EXPECT_EQ(e.path(), model.outputFileName);
    EXPECT_EQ(e.reason(), "No such file or directory");
  }

  model.outputFileName = dir.Path("folder");
  ASSERT_EQ(::mkdir(model.outputFileName.c_str(), 0755), 0);
  WriteText(dir.Path("folder/inside"), "kept");
  try {
    WriteCsvReport(model, kMar1);
    FAIL() << "no FileError";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()), model.outputFileName + ": Is a directory");
  }
  EXPECT_EQ(ReadText(dir.Path("folder/inside")), "kept");
  EXPECT_EQ(dir.Count(), 1u);
}

TEST_F(WriteReportTest, EmptyNameShowsTheMessageOnly) {
  model.outputFileName.clear();
  WriteAsciiReport(model, kMar1);
  WriteCsvReport(model, kMar1);
  EXPECT_EQ(model.messages,
            (std::vector<std::string>(2, "There is no output File name selected ")));
  EXPECT_EQ(dir.Count(), 0u);
  // A name of spaces is a name.
  model.outputFileName = dir.Path("  ");
  WriteAsciiReport(model, kMar1);
  EXPECT_EQ(dir.Count(), 1u);
}

}  // namespace
}  // namespace brelin::report
