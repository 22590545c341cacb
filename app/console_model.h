#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "app/main_model.h"

namespace brelin::app {

// The model of the command line: the choices are fields set from the flags, status lines and
// messages go to a stream (stderr), and on a terminal a progress bar follows the status lines.
class ConsoleModel : public MainModel {
 public:
  // Draws the progress bar only when `err` is a terminal.
  explicit ConsoleModel(std::FILE* err = stderr);
  ConsoleModel(std::FILE* err, bool terminal);
  ~ConsoleModel() override;
  ConsoleModel(const ConsoleModel&) = delete;
  ConsoleModel& operator=(const ConsoleModel&) = delete;

  std::string outputFileName;
  bool metric = true;
  bool absolute = false;
  bool ascii = true;
  // Prints failures only: no status lines, progress bar or transfer figures.
  bool quiet = false;

  std::string OutputFileName() const override { return outputFileName; }
  bool MetricChosen() const override { return metric; }
  bool AbsoluteChosen() const override { return absolute; }
  bool AsciiChosen() const override { return ascii; }

  // Writes every completed line, one per line with "\n" ends; a partial line such as "Done." waits
  // until it is completed or flushed.
  void AppendStatus(std::string_view text) override;
  void SetProgress(int position) override;
  // Writes the message as one line.
  void ShowMessage(std::string_view text) override;
  // On a terminal, the transfer's figures follow the progress bar until the bar moves on.
  void ShowTransfer(const device::TransferProgress& progress) override;

  // Asks stopQuery, when there is one (the command line's signal handling).
  bool StopRequested() override { return stopQuery != nullptr && stopQuery(); }
  bool (*stopQuery)() = nullptr;

  // Ends a waiting partial line and removes the progress bar. Also done on destruction.
  void Flush();
  // Whether a ShowMessage reported a failure.
  bool messageShown() const { return messageShown_; }

 private:
  void ClearBar();
  void DrawBar();

  std::FILE* err_;
  bool terminal_;
  std::string pending_;
  int progress_ = -1;     // -1: no bar yet
  std::string transfer_;  // the transfer's figures shown after the bar
  bool barShown_ = false;
  bool messageShown_ = false;
};

}  // namespace brelin::app
