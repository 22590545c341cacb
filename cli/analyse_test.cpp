// Runs the built brelin-cli as the operator would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "report/image_generator.h"
#include "report/testing/records.h"
#include "report/testing/temp_dir.h"

namespace brelin::report {
namespace {

using testing::Measurement;
using testing::ReadText;
using testing::TempDir;
using testing::WriteBytes;
using testing::WriteText;

struct Result {
  int status;
  std::string err;
};

class AnalyseCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto bytes = testing::Image({
        Measurement(7, 19, 0x00EA, 1078136100),
        Measurement(7, 19, 0x40EA, 1078136000),
        Measurement(12, 17, 0x04D2, 1078136160),
        {0x40, 0, 0, 19, 0, 0, 0, 0xEA, 0x40, 0x43, 0x1F, 0x24},
        Measurement(999, 200, 0x1234, 1078136220),
        Measurement(1000, 19, 0x00EA, 1078136220),
    });
    PadImage(bytes);
    WriteBytes(image, bytes);
  }

  // Runs brelin-cli with `args` (each quoted by the caller where needed).
  Result Run(const std::string& args) {
    const std::string err = dir.Path("stderr");
    const int raw =
        std::system((std::string(BRELIN_CLI) + " " + args + " 2>'" + err + "'").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(err)};
  }

  TempDir dir;
  std::string image = dir.Path("KLV480.bin");
  std::string report = dir.Path("report.csv");
};

TEST_F(AnalyseCommandTest, WritesTheReportByteExact) {
  const Result r = Run("analyse '" + image + "' -o '" + report +
                       "' --format csv --units imperial --temperature absolute --serial 77");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Analysing data.\nCreating CSV file report.\n");
  const std::string text = ReadText(report);
  EXPECT_EQ(text.substr(0, 26), "\"KLV480 report created at ");
  EXPECT_EQ(
      text.substr(text.find("\r\n") + 2),
      "\"Data downloaded from device NE77\"\r\n\r\n"
      "\"Point\",\"Nr\",\"Value\",\"Unit\",\"Type\",\"Timestamp\"\r\n"
      "\"7\",\"0\",\" 449.6\",\"\xB0R\",\"Temperature Sensor \",\"Mon Mar 01, 2004 10:13\"\r\n"
      "\"7\",\"1\",\" 533.8\",\"\xB0R\",\"Temperature Sensor \",\"Mon Mar 01, 2004 10:15\"\r\n"
      "\"12\",\"0\",\"43.58\",\"mSCFM\",\"Mass Flow Sensor   \",\"Mon Mar 01, 2004 10:16\"\r\n"
      "\"999\",\"0\",\"UNKNOWN\",\"Unknown sensor     \",\"Mon Mar 01, 2004 10:17\"\r\n");

  // Defaults: ASCII, metric, relative, serial 0.
  EXPECT_EQ(Run("analyse '" + image + "' -o '" + report + "'").status, 0);
  const std::string ascii = ReadText(report);
  EXPECT_NE(
      ascii.find("\r\nData downloaded from device NE0\r\n\r\nPoint\tNr\tValue\tType\tTimestamp"
                 "\r\n7\t0\t -23.4\t\xB0"
                 "C\tTemperature Sensor \tMon Mar 01, 2004 10:13\r\n"),
      std::string::npos)
      << ascii;
}

TEST_F(AnalyseCommandTest, FailuresAreOneLineWithStatusOne) {
  WriteText(report, "previous");
  const std::string missing = dir.Path("missing.bin");
  Result r = Run("analyse '" + missing + "' -o '" + report + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Analysing data.\nbrelin-cli: " + missing + ": No such file or directory\n");
  EXPECT_EQ(ReadText(report), "previous");

  r = Run("analyse '" + image + "' -o '" + dir.path().string() + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.ends_with("\nbrelin-cli: " + dir.path().string() + ": Is a directory\n"));

  r = Run("analyse '" + image + "' -o ''");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.ends_with("There is no output File name selected \n")) << r.err;
}

TEST_F(AnalyseCommandTest, UsageErrorsAreStatusTwo) {
  EXPECT_EQ(Run("").status, 2);
  EXPECT_EQ(Run("analyse").status, 2);
  EXPECT_EQ(Run("analyse '" + image + "'").status, 2);
  EXPECT_EQ(Run("analyse '" + image + "' -o r.txt --format xml").status, 2);
  EXPECT_EQ(Run("analyse '" + image + "' -o r.txt --serial twelve").status, 2);
  EXPECT_EQ(Run("analyse '" + image + "' -o r.txt --colour").status, 2);
  EXPECT_EQ(Run("frobnicate").status, 2);
  EXPECT_EQ(dir.Count(), 2u);  // the image and the captured stderr
}

TEST_F(AnalyseCommandTest, VersionAndHelp) {
  const std::string out = dir.Path("stdout");
  EXPECT_EQ(Run("--version >'" + out + "'").status, 0);
  EXPECT_EQ(ReadText(out), "brelin-cli 1.2.0\n");
  EXPECT_EQ(Run("analyse --help >'" + out + "'").status, 0);
  EXPECT_NE(ReadText(out).find("--temperature"), std::string::npos);
}

}  // namespace
}  // namespace brelin::report
