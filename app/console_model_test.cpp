#include "app/console_model.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace brelin::app {
namespace {

// Captures what a ConsoleModel writes.
class ConsoleModelTest : public ::testing::Test {
 protected:
  ~ConsoleModelTest() override {
    std::fclose(stream_);
    std::free(buffer_);
  }
  std::string Output() {
    std::fflush(stream_);
    return {buffer_, size_};
  }

  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_ = open_memstream(&buffer_, &size_);
};

TEST_F(ConsoleModelTest, StatusLinesMessagesAndPartialLines) {
  {
    ConsoleModel model(stream_, false);
    model.AppendStatus("Analysing data.\r\nCreating ASCII");
    EXPECT_EQ(Output(), "Analysing data.\n");
    model.AppendStatus(" file report.\r");
    model.AppendStatus("\nChecking output filename.");
    model.SetProgress(100);  // no bar off a terminal
    EXPECT_EQ(Output(), "Analysing data.\nCreating ASCII file report.\n");
    EXPECT_FALSE(model.messageShown());
    model.ShowMessage("No download allowed !!!\n");  // one line each, after the pending status
    model.ShowMessage("There is no output File name selected ");
    EXPECT_TRUE(model.messageShown());
    model.AppendStatus("Done.");
  }  // completes the partial line
  EXPECT_EQ(Output(),
            "Analysing data.\nCreating ASCII file report.\nChecking output filename.\n"
            "No download allowed !!!\nThere is no output File name selected \nDone.\n");
}

TEST_F(ConsoleModelTest, ProgressBarOnATerminalIsClearedForStatusLines) {
  ConsoleModel model(stream_, true);
  model.AppendStatus("Analysing data.\r\n");
  EXPECT_EQ(Output(), "Analysing data.\n");
  model.SetProgress(50);
  const std::string half = "\r[" + std::string(20, '#') + std::string(20, ' ') + "]  50%";
  EXPECT_EQ(Output(), "Analysing data.\n" + half);
  model.AppendStatus("Creating CSV file report.\r\n");
  EXPECT_EQ(Output(), "Analysing data.\n" + half + "\r\x1b[KCreating CSV file report.\n" + half);
  model.Flush();
  EXPECT_TRUE(Output().ends_with(half + "\r\x1b[K"));
}

TEST_F(ConsoleModelTest, QuietPrintsOnlyFailures) {
  {
    ConsoleModel model(stream_, true);
    model.quiet = true;
    model.AppendStatus("Analysing data.\r\nDone.");
    model.SetProgress(50);
    model.ShowTransfer({.bytes = 1024, .milliseconds = 1000, .retries = 1});
    model.ShowMessage("No response of KLV480");
    model.AppendStatus("Get data");
  }
  EXPECT_EQ(Output(), "No response of KLV480\n");
}

}  // namespace
}  // namespace brelin::app
