#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "device/sequences.h"

namespace brelin::device::testing {

// A SequenceListener that records what the sequences tell the operator, in order:
// "status:<text>", "progress:<n>" and "message:<text>". It asks to stop once the event stopAt has
// been recorded, and calls onEvent with each event: a test acts there (a fault, a look at the
// clock).
struct RecordingListener : SequenceListener {
  std::vector<std::string> events;
  std::string stopAt;
  std::function<void(const std::string&)> onEvent;
  std::vector<TransferProgress> transfers;  // what ShowTransfer was given, apart from the events

  bool StopRequested() override {
    return !stopAt.empty() && std::find(events.begin(), events.end(), stopAt) != events.end();
  }

  void AppendStatus(std::string_view text) override { Record("status:" + std::string(text)); }
  void SetProgress(int position) override { Record("progress:" + std::to_string(position)); }
  void ShowMessage(std::string_view text) override { Record("message:" + std::string(text)); }
  void ShowTransfer(const TransferProgress& progress) override { transfers.push_back(progress); }

  std::vector<std::string> Only(std::string_view kind) const {
    std::vector<std::string> found;
    for (const std::string& e : events) {
      if (e.starts_with(kind)) found.push_back(e.substr(kind.size() + 1));
    }
    return found;
  }

 private:
  void Record(std::string event) {
    events.push_back(std::move(event));
    if (onEvent) onEvent(events.back());
  }
};

}  // namespace brelin::device::testing
