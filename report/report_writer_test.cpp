#include "report/report_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "report/file_error.h"
#include "report/replace_file.h"
#include "report/testing/recording_sink.h"
#include "report/testing/temp_dir.h"

namespace brelin::report {
namespace {

using testing::ReadText;
using testing::WriteText;

constexpr std::time_t kMar1 = 1078136100;  // Mon Mar 01, 2004 10:15 UTC

// Creation times are local: tests that check them set the zone first.
void SetZone(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
}

TEST(TimeTextTest, RowTimesAreUtcCreationTimeIsLocal) {
  SetZone("XYZ-2");
  EXPECT_EQ(RowTimeText(static_cast<std::int32_t>(kMar1)), "Mon Mar 01, 2004 10:15");
  EXPECT_EQ(RowTimeText(-1), "Wed Dec 31, 1969 23:59");
  EXPECT_EQ(RowTimeText(INT32_MAX), "Tue Jan 19, 2038 03:14");
  EXPECT_EQ(RowTimeText(INT32_MIN), "Fri Dec 13, 1901 20:45");
  EXPECT_EQ(CreationTimeText(kMar1), "Mon Mar 01, 2004 12:15");
  // English names in any locale.
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
  for (const PointSlot& slot : table[0]) out.push_back(slot.timestamp * 10LL + slot.sensorType);
  return out;
}

TEST(OrderSlotsTest, OldestFirstStableAndEmptiesLast) {
  EXPECT_EQ(Ordered({500, 200, 300, 400}), (std::vector<std::int64_t>{2001, 3002, 4003, 5000}));
  EXPECT_EQ(Ordered({300, 200, 100, 0}), (std::vector<std::int64_t>{1002, 2001, 3000, 3}));
  EXPECT_EQ(Ordered({7, 3, 7, 3}), (std::vector<std::int64_t>{31, 33, 70, 72}));
}

TEST(ReportTest, AsciiAndCsvAreByteExact) {
  SetZone("UTC0");
  PointTable table{};
  const auto t = static_cast<std::int32_t>(kMar1);
  table[0][0] = {19, "  23.4\t\260C", t};  // point 0 is a point like any other
  table[0][1] = {3, "UNKNOWN", t - 60};
  table[12][0] = {23, "-72.29\tmSCFM", t + 60};
  table[12][1] = {0, "stale", 0};
  EXPECT_EQ(FormatAsciiReport(table, 1234, kMar1),
            "KLV480 report created at Mon Mar 01, 2004 10:15\r\n"
            "Data downloaded from device NE1234\r\n\r\n"
            "Point\tNr\tValue\tType\tTimestamp\r\n"
            "0\t0\tUNKNOWN\tUnknown sensor     \tMon Mar 01, 2004 10:14\r\n"
            "0\t1\t  23.4\t\260C\tTemperature Sensor \tMon Mar 01, 2004 10:15\r\n"
            "12\t0\t-72.29\tmSCFM\tIR Temperature Sensor\tMon Mar 01, 2004 10:16\r\n");
  EXPECT_EQ(
      FormatCsvReport(table, -3, kMar1),
      "\"KLV480 report created at Mon Mar 01, 2004 10:15\"\r\n"
      "\"Data downloaded from device NE-3\"\r\n\r\n"
      "\"Point\",\"Nr\",\"Value\",\"Unit\",\"Type\",\"Timestamp\"\r\n"
      "\"0\",\"0\",\"UNKNOWN\",\"Unknown sensor     \",\"Mon Mar 01, 2004 10:14\"\r\n"
      "\"0\",\"1\",\"  23.4\",\"\260C\",\"Temperature Sensor \",\"Mon Mar 01, 2004 10:15\"\r\n"
      "\"12\",\"0\",\"-72.29\",\"mSCFM\",\"IR Temperature Sensor\",\"Mon Mar 01, 2004 10:16\"\r\n");
}

TEST(TextFormTest, OnlyTheDegreeSignAndLineEndsChange) {
  const std::string latin1 = "a\t  23.4\t\260C\r\nb\rc\n\r\n\"\377\"\r\n";
  const auto form = [&](TextEncoding encoding, LineEnd lineEnd) {
    return ApplyTextForm(latin1, {.encoding = encoding, .lineEnd = lineEnd});
  };
  EXPECT_EQ(form(TextEncoding::kLatin1, LineEnd::kCrLf), latin1);
  EXPECT_EQ(form(TextEncoding::kLatin1, LineEnd::kLf), "a\t  23.4\t\260C\nb\rc\n\n\"\377\"\n");
  EXPECT_EQ(form(TextEncoding::kUtf8, LineEnd::kCrLf),
            "a\t  23.4\t\302\260C\r\nb\rc\n\r\n\"\303\277\"\r\n");
  EXPECT_EQ(form(TextEncoding::kUtf8, LineEnd::kLf),
            "a\t  23.4\t\302\260C\nb\rc\n\n\"\303\277\"\n");
  // Every byte from 0x80 up is one Latin-1 character, and ASCII stays as it is.
  EXPECT_EQ(ApplyTextForm("\177\200\277\300", {.encoding = TextEncoding::kUtf8}),
            "\177\302\200\302\277\303\200");
  EXPECT_EQ(ApplyTextForm("", {.lineEnd = LineEnd::kLf}), "");
  EXPECT_EQ(ApplyTextForm("\r", {.lineEnd = LineEnd::kLf}), "\r");
}

class WriteReportTest : public ::testing::Test {
 protected:
  void SetUp() override { table[1][0] = {0, " 60.0\tdBA", 100}; }

  void Write(auto write, const std::string& path) { write(sink, table, 0, path, kMar1); }

  testing::TempDir dir;
  testing::RecordingSink sink;
  PointTable table{};
  std::string path = dir.Path("report.txt");
};

TEST_F(WriteReportTest, ReplacesTheWholeFileAtOnceKeepingItsPermissions) {
  WriteText(path, std::string(5000, 'x'));
  ::chmod(path.c_str(), 0600);
  const int old = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(old, 0);
  Write(WriteCsvReport, path);
  EXPECT_TRUE(
      ReadText(path).ends_with("\r\n\"1\",\"0\",\" 60.0\",\"dBA\",\"Internal Sensor    \","
                               "\"Thu Jan 01, 1970 00:01\"\r\n"));
  // The old file was never written to: whoever still has it open reads it whole.
  char buffer[6000];
  EXPECT_EQ(::read(old, buffer, sizeof buffer), 5000);
  ::close(old);
  EXPECT_EQ(dir.Count(), 1u);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A new file gets 0666 less the umask.
  const mode_t mask = ::umask(022);
  path = dir.Path("new.txt");
  Write(WriteAsciiReport, path);
  EXPECT_EQ(::umask(mask), 022u) << "the umask is left as it was";
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

std::size_t OpenDescriptors() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(fds, std::filesystem::directory_iterator()));
}

TEST_F(WriteReportTest, EmptyNameAndFailuresLeaveNothingBehind) {
  const std::size_t open = OpenDescriptors();
  Write(WriteAsciiReport, "");
  Write(WriteCsvReport, "");
  EXPECT_EQ(sink.messages, (std::vector<std::string>(2, "There is no output File name selected ")));
  EXPECT_EQ(dir.Count(), 0u);

  const auto failure = [&](auto write, const std::string& name) -> std::string {
    try {
      Write(write, name);
    } catch (const FileError& e) {
      return e.what();
    }
    return "no FileError";
  };
  const std::string missing = dir.Path("no/such/folder/report.txt");
  EXPECT_EQ(failure(WriteAsciiReport, missing), missing + ": No such file or directory");
  const std::string folder = dir.Path("folder");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  WriteText(dir.Path("folder/inside"), "kept");
  EXPECT_EQ(failure(WriteCsvReport, folder), folder + ": Is a directory");
  EXPECT_EQ(ReadText(dir.Path("folder/inside")), "kept");
  EXPECT_EQ(dir.Count(), 1u);
  Write(WriteAsciiReport, dir.Path("  "));  // a name of spaces is a name
  EXPECT_EQ(dir.Count(), 2u);

  // A file size limit makes the system write part of the report, then refuse the rest.
  const std::string old = ReadText(dir.Path("  "));
  for (int p = 0; p < 100; ++p) table[p][0] = {20, " 60.0\tdBA", 100};
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlimit small{.rlim_cur = 1000, .rlim_max = limit.rlim_max};
  const auto signal = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string error = failure(WriteAsciiReport, dir.Path("  "));
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, signal);
  EXPECT_EQ(error, dir.Path("  ") + ": File too large");
  EXPECT_EQ(ReadText(dir.Path("  ")), old);
  EXPECT_EQ(dir.Count(), 2u);
  EXPECT_EQ(OpenDescriptors(), open);
}

TEST_F(WriteReportTest, LinksAreFollowedAndOnlyRegularFilesReplaced) {
  // A link to a report elsewhere stays a link; the report it leads to is replaced.
  ASSERT_EQ(::mkdir(dir.Path("reports").c_str(), 0755), 0);
  WriteText(dir.Path("reports/latest.txt"), "old");
  ASSERT_EQ(::symlink("reports/latest.txt", dir.Path("link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("link.txt", dir.Path("link2.txt").c_str()), 0);
  Write(WriteAsciiReport, dir.Path("link2.txt"));
  struct stat st {};
  ASSERT_EQ(::lstat(dir.Path("link2.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_TRUE(ReadText(dir.Path("reports/latest.txt")).ends_with("Thu Jan 01, 1970 00:01\r\n"));
  EXPECT_EQ(dir.Count(), 3u) << "no temporary file left";

  // A dangling link gets its file made; a FIFO, a folder or a loop of links are refused by name.
  ASSERT_EQ(::symlink("reports/new.txt", dir.Path("dangling").c_str()), 0);
  Write(WriteCsvReport, dir.Path("dangling"));
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.Path("reports/new.txt")));
  ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(::symlink("loop", dir.Path("loop").c_str()), 0);
  for (const std::string name : {"fifo", "reports", "loop"}) {
    const std::string path = dir.Path(name);
    try {
      Write(WriteAsciiReport, path);
      ADD_FAILURE() << name;
    } catch (const FileError& e) {
      const char* reason = name == "fifo"      ? ": not a regular file"
                           : name == "reports" ? ": Is a directory"
                                               : ": Too many levels of symbolic links";
      EXPECT_EQ(e.what(), path + reason);
    }
  }
  EXPECT_EQ(dir.Count(), 6u);
  EXPECT_THROW(ReplaceTarget(""), FileError);

  // Like the system, a chain of 40 links is followed and a longer one refused.
  for (int n = 1; n <= 41; ++n) {
    ASSERT_EQ(::symlink(n > 1 ? std::to_string(n - 1).c_str() : "reports/latest.txt",
                        dir.Path(std::to_string(n)).c_str()),
              0);
  }
  EXPECT_EQ(ReplaceTarget(dir.Path("40")), dir.Path("reports/latest.txt"));
  EXPECT_THROW(ReplaceTarget(dir.Path("41")), FileError);
}

TEST_F(WriteReportTest, MoveIntoPlaceReplacesTheLinksTarget) {
  WriteText(dir.Path("image.bin"), "old image");
  ASSERT_EQ(::symlink("image.bin", dir.Path("KLV480.bin").c_str()), 0);
  WriteText(dir.Path("KLV480.bin.part"), "new image");
  MoveIntoPlace(dir.Path("KLV480.bin.part"), dir.Path("KLV480.bin"));
  EXPECT_EQ(ReadText(dir.Path("image.bin")), "new image");
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("KLV480.bin")));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("KLV480.bin.part")));
}

TEST_F(WriteReportTest, RequestsChooseLayoutTextFormAndDestination) {
  SetZone("UTC0");
  table[1][1] = {19, "  23.4\t\260C", 200};
  const std::string csv = FormatCsvReport(table, 7, kMar1);
  ReportRequest request{.path = path, .options = {.reportFormat = kCsv}, .serialNumber = 7};
  WriteReport(sink, table, request, kMar1);
  EXPECT_EQ(ReadText(path), csv) << "the defaults are the report as it always was";

  request.options.encoding = TextEncoding::kUtf8;
  request.options.lineEnd = LineEnd::kLf;
  WriteReport(sink, table, request, kMar1);
  EXPECT_EQ(ReadText(path), ApplyTextForm(csv, request.options));

  // A stream gets the same bytes, and the file is left alone.
  std::FILE* stream = std::tmpfile();
  ASSERT_NE(stream, nullptr);
  request.stream = stream;
  request.path.clear();
  request.options.reportFormat = kAscii;
  WriteReport(sink, table, request, kMar1);
  std::rewind(stream);
  std::string written(4096, '\0');
  written.resize(std::fread(written.data(), 1, written.size(), stream));
  std::fclose(stream);
  EXPECT_EQ(written, ApplyTextForm(FormatAsciiReport(table, 7, kMar1), request.options));
  EXPECT_TRUE(sink.messages.empty());
  EXPECT_EQ(dir.Count(), 1u);

  // A stream that cannot take the report is a failure, not a report written.
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  request.stream = full;
  try {
    WriteReport(sink, table, request, kMar1);
    ADD_FAILURE() << "no FileError";
  } catch (const FileError& e) {
    EXPECT_STREQ(e.what(), "standard output: No space left on device");
  }
  std::fclose(full);

  request.stream = nullptr;
  WriteReport(sink, table, request, kMar1);
  EXPECT_EQ(sink.messages, std::vector<std::string>{"There is no output File name selected "});
}

}  // namespace
}  // namespace brelin::report
