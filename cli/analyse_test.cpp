// Runs the built brelin-cli as the operator would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

class AnalyseCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes = testing::Image({
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

  // Runs brelin-cli with `args` (quoted by the caller where needed); returns its exit status.
  int Run(const std::string& args) {
    const std::string file = dir.Path("stderr");
    const int raw = std::system((BRELIN_CLI " " + args + " 2>'" + file + "'").c_str());
    err = ReadText(file);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  TempDir dir;
  std::vector<std::uint8_t> bytes;  // six records padded to a whole transfer block
  std::string err;
  std::string image = dir.Path("KLV480.bin");
  std::string report = dir.Path("report.csv");
};

TEST_F(AnalyseCommandTest, WritesTheReportByteExact) {
  EXPECT_EQ(Run("analyse '" + image + "' -o '" + report +
                "' --format csv --units imperial --temperature absolute --serial 77"),
            0);
  EXPECT_EQ(err,
            "Analysing data.\nCreating CSV file report.\n"
            "10 records read: 4 readings of 3 points in the report.\n");
  const std::string text = ReadText(report);
  EXPECT_EQ(text.substr(0, 26), "\"KLV480 report created at ");
  EXPECT_EQ(
      text.substr(text.find("\r\n") + 2),
      "\"Data downloaded from device NE77\"\r\n\r\n"
      "\"Point\",\"Nr\",\"Value\",\"Unit\",\"Type\",\"Timestamp\"\r\n"
      "\"7\",\"0\",\" 449.6\",\"\260R\",\"Temperature Sensor \",\"Mon Mar 01, 2004 10:13\"\r\n"
      "\"7\",\"1\",\" 533.8\",\"\260R\",\"Temperature Sensor \",\"Mon Mar 01, 2004 10:15\"\r\n"
      "\"12\",\"0\",\"43.58\",\"mSCFM\",\"Mass Flow Sensor   \",\"Mon Mar 01, 2004 10:16\"\r\n"
      "\"999\",\"0\",\"UNKNOWN\",\"Unknown sensor     \",\"Mon Mar 01, 2004 10:17\"\r\n");

  // Defaults: ASCII, metric, relative, serial 0.
  EXPECT_EQ(Run("analyse '" + image + "' -o '" + report + "'"), 0);
  EXPECT_NE(
      ReadText(report).find("\r\nData downloaded from device NE0\r\n\r\n"
                            "Point\tNr\tValue\tType\tTimestamp\r\n"
                            "7\t0\t -23.4\t\260C\tTemperature Sensor \tMon Mar 01, 2004 10:13\r\n"),
      std::string::npos);
}

// An image that decodes to nothing useful still gives its report, with a warning that --strict
// turns into a failure.
TEST_F(AnalyseCommandTest, OddImagesWarnAndStrictFails) {
  std::vector<std::uint8_t> cutShort = testing::Image({Measurement(7, 19, 0x00EA, 1078136100)});
  cutShort.resize(cutShort.size() + 5);
  struct Case {
    std::vector<std::uint8_t> content;
    const char* flags;
    int exitStatus;
    std::string summary;
  } const cases[] = {
      {testing::Image({{0x40, 0, 0, 19}, {0x00, 1}, {0xC0, 2}}), "", 0,
       "3 records read: 0 readings of 0 points in the report.\n"
       "brelin-cli: warning: the image holds no measurement record\n"},
      {cutShort, " --strict", 1,
       "1 record read: 1 reading of 1 point in the report.\n"
       "brelin-cli: warning: the image ends with 5 bytes that are not a whole record: it may be "
       "cut short\n"},
      {bytes, " --strict", 0, "10 records read: 4 readings of 3 points in the report.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.summary);
    WriteBytes(dir.Path("odd.bin"), c.content);
    std::filesystem::remove(report);
    EXPECT_EQ(Run("analyse '" + dir.Path("odd.bin") + "' -o '" + report + "'" + c.flags),
              c.exitStatus);
    EXPECT_EQ(err, "Analysing data.\nCreating ASCII file report.\n" + c.summary);
    EXPECT_TRUE(ReadText(report).starts_with("KLV480 report created at "));
  }
}

TEST_F(AnalyseCommandTest, FailuresAreOneLineWithStatusOne) {
  WriteText(report, "previous");
  const std::string missing = dir.Path("missing.bin");
  EXPECT_EQ(Run("analyse '" + missing + "' -o '" + report + "'"), 1);
  EXPECT_EQ(err, "Analysing data.\nbrelin-cli: " + missing + ": No such file or directory\n");
  EXPECT_EQ(ReadText(report), "previous");

  EXPECT_EQ(Run("analyse '" + image + "' -o ''"), 1);
  EXPECT_TRUE(err.ends_with("There is no output File name selected \n")) << err;
}

// Everything after the first line, which carries the creation time.
std::string Body(const std::string& report) {
  return report.substr(report.find('\n') + 1);
}

TEST_F(AnalyseCommandTest, TextChoicesChangeOnlyTheDegreeSignAndLineEnds) {
  const std::string sample = BRELIN_SAMPLE_IMAGE;
  ASSERT_EQ(Run("analyse '" + sample + "' -o '" + report + "' --format csv"), 0);
  const std::string latin1 = Body(ReadText(report));
  ASSERT_NE(latin1.find("\"\260C\""), std::string::npos) << "the sample has a degree sign";
  const auto convert = [&](bool utf8, bool lf) {
    std::string out;
    for (std::size_t i = 0; i < latin1.size(); ++i) {
      if (lf && latin1.compare(i, 2, "\r\n") == 0) continue;
      out += utf8 && latin1[i] == '\260' ? std::string("\302\260") : std::string(1, latin1[i]);
    }
    return out;
  };
  for (const bool utf8 : {false, true}) {
    for (const bool lf : {false, true}) {
      const std::string flags = std::string(" --encoding ") + (utf8 ? "utf8" : "latin1") +
                                " --line-end " + (lf ? "lf" : "crlf");
      SCOPED_TRACE(flags);
      ASSERT_EQ(Run("analyse '" + sample + "' -o '" + report + "' --format csv" + flags), 0);
      const std::string text = ReadText(report);
      EXPECT_EQ(Body(text), convert(utf8, lf));
      EXPECT_TRUE(text.ends_with(lf ? "\"\n" : "\"\r\n"));
    }
  }
}

TEST_F(AnalyseCommandTest, DashIsStandardOutputAndQuietKeepsOnlyFailures) {
  const std::string out = dir.Path("stdout");
  ASSERT_EQ(Run("analyse '" + image + "' -o '" + report + "'"), 0);
  ASSERT_EQ(Run("analyse '" + image + "' -o - >'" + out + "'"), 0);
  EXPECT_EQ(Body(ReadText(out)), Body(ReadText(report)));
  EXPECT_EQ(err,
            "Analysing data.\nCreating ASCII file report.\n"
            "10 records read: 4 readings of 3 points in the report.\n");
  EXPECT_FALSE(std::filesystem::exists("-"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("-")));

  // Quiet, before or after the subcommand: the report and nothing else.
  for (const char* form : {"-q analyse '%s' -o -", "analyse '%s' -o - --quiet"}) {
    char args[512];
    std::snprintf(args, sizeof args, form, image.c_str());
    EXPECT_EQ(Run(std::string(args) + " --line-end lf >'" + out + "'"), 0) << form;
    EXPECT_EQ(err, "") << form;
    EXPECT_TRUE(ReadText(out).ends_with("Mon Mar 01, 2004 10:17\n")) << form;
  }
  // Failures still speak: a missing image, a stdout that cannot take the report, a warning that
  // --strict makes fatal. A plain warning is kept back.
  EXPECT_EQ(Run("-q analyse '" + dir.Path("none.bin") + "' -o -"), 1);
  EXPECT_EQ(err, "brelin-cli: " + dir.Path("none.bin") + ": No such file or directory\n");
  EXPECT_EQ(Run("-q analyse '" + image + "' -o - >/dev/full"), 1);
  EXPECT_EQ(err, "brelin-cli: standard output: No space left on device\n");
  WriteBytes(dir.Path("empty.bin"), {});
  EXPECT_EQ(Run("-q analyse '" + dir.Path("empty.bin") + "' -o '" + report + "'"), 0);
  EXPECT_EQ(err, "");
  EXPECT_EQ(Run("-q analyse '" + dir.Path("empty.bin") + "' -o '" + report + "' --strict"), 1);
  EXPECT_EQ(err, "brelin-cli: warning: the image holds no measurement record\n");
}

TEST_F(AnalyseCommandTest, UsageErrorsAreStatusTwoVersionAndHelpZero) {
  const std::string in = "analyse '" + image + "'";
  // Each names what is wrong, after the program's name, and where help is.
  const struct {
    std::string args, names;
  } usage[] = {
      {"", "A subcommand is required"},
      {"analyse", "IMAGE is required"},
      {in, "--output is required"},
      {in + " -o r --format xml", "--format: xml not in {ascii,csv}"},
      {in + " -o r --encoding utf16", "--encoding: utf16 not in {latin1,utf8}"},
      {in + " -o r --line-end cr", "--line-end: cr not in {crlf,lf}"},
      {in + " -o r --serial twelve", "--serial"},
      {in + " -o r --colour", "--colour"},
      {in + " --colour", "--colour: not an option of analyse"},  // named before what is missing
      {"frobnicate", "frobnicate: not a subcommand"},
      {"--colour analyse", "--colour: not an option"},
      // the instrument tells get-data its serial number
      {"get-data --port /dev/null -o r --serial 5", "--serial"},
  };
  for (const auto& u : usage) {
    EXPECT_EQ(Run(u.args), 2) << u.args;
    EXPECT_TRUE(err.starts_with("brelin-cli: ")) << err;
    EXPECT_NE(err.find(u.names), std::string::npos) << err;
    EXPECT_TRUE(err.ends_with(" --help' for more information.\n")) << err;
  }
  EXPECT_EQ(dir.Count(), 2u);  // the image and the captured stderr

  const std::string out = dir.Path("stdout");
  EXPECT_EQ(Run("--version >'" + out + "'"), 0);
  EXPECT_EQ(ReadText(out), "brelin-cli 1.2.0\n");
  EXPECT_EQ(std::system((KLV480_SIM " --version >'" + out + "'").c_str()), 0);
  EXPECT_EQ(ReadText(out), "klv480-sim 1.2.0\n");
  EXPECT_EQ(Run("analyse --help >'" + out + "'"), 0);
  EXPECT_NE(ReadText(out).find("--temperature"), std::string::npos);
}

}  // namespace
}  // namespace brelin::report
