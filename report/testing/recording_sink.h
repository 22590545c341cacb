#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/status_sink.h"

namespace brelin::report::testing {

// A StatusSink that keeps what it was given.
struct RecordingSink : StatusSink {
  std::string status;
  std::vector<int> progress;
  std::vector<std::string> messages;

  void AppendStatus(std::string_view text) override { status += text; }
  void SetProgress(int position) override { progress.push_back(position); }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
};

}  // namespace brelin::report::testing
