// brelin-cli history, and analyse --import, run as the operator would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "report/testing/records.h"
#include "report/testing/temp_dir.h"

namespace brelin::report {
namespace {

using testing::Measurement;
using testing::ReadText;

class HistoryCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteBytes(image, testing::Image({
                                   Measurement(7, 19, 0x00EA, 1078136100),  // 2004-03-01 10:15
                                   Measurement(7, 19, 0x40EA, 1078136000),
                                   Measurement(7, 19, 0x00FA, 1078222500),  // a day later
                                   Measurement(12, 17, 0x04D2, 1078136160),
                                   Measurement(1000, 19, 0x00EA, 1078136220),
                               }));
  }
  // Runs brelin-cli with `args` (quoted by the caller where needed), its own XDG_DATA_HOME.
  int Run(const std::string& args) {
    const std::string command = "XDG_DATA_HOME='" + dir.Path("xdg") + "' " BRELIN_CLI " " + args +
                                " >'" + dir.Path("out") + "' 2>'" + dir.Path("err") + "'";
    const int raw = std::system(command.c_str());
    out = ReadText(dir.Path("out"));
    err = ReadText(dir.Path("err"));
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  testing::TempDir dir;
  std::string image = dir.Path("KLV480.bin");
  std::string history = dir.Path("h.sqlite3");
  std::string at = " --history '" + history + "'";
  std::string out, err;
};

TEST_F(HistoryCommandTest, ImportOnlyWhenAskedThenShowAndListPoints) {
  const std::string analyse = "analyse '" + image + "' -o '" + dir.Path("r.txt") + "'";
  EXPECT_EQ(Run(analyse + " --import" + at), 2);
  EXPECT_EQ(err,
            "brelin-cli: analyse --import needs the instrument's --serial\n"
            "Run 'brelin-cli analyse --help' for more information.\n");
  EXPECT_EQ(Run(analyse + " --serial 77"), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("xdg")));  // a test image stays out
  EXPECT_EQ(Run(analyse + " --serial 77 --import"), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.Path("xdg/brelin/history.sqlite3")));
  EXPECT_EQ(Run(analyse + " --serial 77 --import" + at), 0);
  EXPECT_NE(err.find("\n4 of 4 readings new in the history " + history + ".\n"), std::string::npos)
      << err;
  EXPECT_EQ(Run("history import '" + image + "' --serial 77" + at), 0);
  EXPECT_EQ(err, "0 of 4 readings new in the history " + history + ".\n");
  EXPECT_EQ(Run("history import '" + image + "' --serial 78" + at), 0);

  EXPECT_EQ(Run("history show --point 7 --serial 77" + at), 0) << err;
  EXPECT_EQ(out,
            "KLV480 history of point 7 of device NE77\r\n\r\n"
            "Point\tNr\tValue\tType\tTimestamp\r\n"
            "7\t0\t -23.4\t\260C\tTemperature Sensor \tMon Mar 01, 2004 10:13\r\n"
            "7\t1\t  23.4\t\260C\tTemperature Sensor \tMon Mar 01, 2004 10:15\r\n"
            "7\t2\t  25.0\t\260C\tTemperature Sensor \tTue Mar 02, 2004 10:15\r\n");
  // Dates name whole days or minutes, in UTC as the times are shown.
  const auto times = [&](const std::string& filter) {
    EXPECT_EQ(Run("history show --point 7 --serial 77 --format csv" + filter + at), 0) << err;
    int rows = 0;
    for (std::size_t i = out.find("Timestamp"); (i = out.find("\r\n\"7\"", i)) != out.npos; ++i)
      ++rows;
    return rows;
  };
  EXPECT_EQ(times(" --until 2004-03-01"), 2);
  EXPECT_EQ(times(" --since 2004-03-02"), 1);
  EXPECT_EQ(times(" --since '2004-03-01 10:14' --until '2004-03-01 10:15'"), 1);
  EXPECT_EQ(times(" --since 2004-03-01T10:13:21 --until 2004-03-01T10:14:59"), 0);
  EXPECT_EQ(times(" --since 2004-03-01T10:13:20 --until 2004-03-01T10:15:00"), 2);

  // Two instruments have point 7: which one is for the operator to say.
  EXPECT_EQ(Run("history show --point 7" + at), 2);
  EXPECT_EQ(err,
            "brelin-cli: point 7 has readings of several instruments (77, 78): choose one with "
            "--serial\n");
  EXPECT_EQ(Run("history show --point 8" + at), 1);
  EXPECT_EQ(err, "brelin-cli: no readings of point 8 in " + history + "\n");
  EXPECT_EQ(Run("history show --point 7 --since 2004-02-30" + at), 2);

  const std::string listing = dir.Path("points.csv");
  EXPECT_EQ(Run("history points --units imperial --format csv --encoding utf8 --line-end lf -o '" +
                listing + "'" + at),
            0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ReadText(listing),
            "\"Device\",\"Point\",\"Readings\",\"First\",\"Last\",\"Smallest\",\"Largest\"\n"
            "\"NE77\",\"7\",\"3\",\"Mon Mar 01, 2004 10:13\",\"Tue Mar 02, 2004 10:15\","
            "\"-10.1 \302\260F\",\"77.0 \302\260F\"\n"
            "\"NE77\",\"12\",\"1\",\"Mon Mar 01, 2004 10:16\",\"Mon Mar 01, 2004 10:16\","
            "\"43.58 mSCFM\",\"43.58 mSCFM\"\n"
            "\"NE78\",\"7\",\"3\",\"Mon Mar 01, 2004 10:13\",\"Tue Mar 02, 2004 10:15\","
            "\"-10.1 \302\260F\",\"77.0 \302\260F\"\n"
            "\"NE78\",\"12\",\"1\",\"Mon Mar 01, 2004 10:16\",\"Mon Mar 01, 2004 10:16\","
            "\"43.58 mSCFM\",\"43.58 mSCFM\"\n");
}

TEST_F(HistoryCommandTest, FailuresSayWhy) {
  EXPECT_EQ(Run("history points" + at), 1);
  EXPECT_EQ(err, "brelin-cli: " + history + ": there is no history yet; Get Data makes one\n");
  EXPECT_FALSE(std::filesystem::exists(history));
  EXPECT_EQ(Run("history import '" + dir.Path("missing.bin") + "' --serial 5" + at), 1);
  EXPECT_EQ(err, "brelin-cli: " + dir.Path("missing.bin") +
                     ": No such file or directory: the readings were not added to the history\n");
  testing::WriteText(history, "not a history");
  EXPECT_EQ(Run("history import '" + image + "' --serial 5" + at), 1);
  EXPECT_EQ(err, "brelin-cli: " + history +
                     " is not a Brelin history; it was left as it is: the readings were not "
                     "added to the history\n");
  EXPECT_EQ(Run("history import '" + image + "'" + at), 2);  // --serial is required
  EXPECT_EQ(Run("history" + at), 2);
}

}  // namespace
}  // namespace brelin::report
