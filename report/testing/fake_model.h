#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/main_model.h"

namespace brelin::report::testing {

// A MainModel whose choices are plain fields and whose sinks record what they were given.
struct FakeModel : app::MainModel {
  std::string outputFileName;
  bool metric = true;
  bool absolute = false;
  bool ascii = true;

  std::string status;
  std::vector<int> progress;
  std::vector<std::string> messages;

  std::string OutputFileName() const override { return outputFileName; }
  bool MetricChosen() const override { return metric; }
  bool AbsoluteChosen() const override { return absolute; }
  bool AsciiChosen() const override { return ascii; }

  void AppendStatus(std::string_view text) override { status += text; }
  void SetProgress(int position) override { progress.push_back(position); }
  void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
};

}  // namespace brelin::report::testing
