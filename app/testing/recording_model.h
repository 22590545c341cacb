#pragma once

#include <string>
#include <string_view>

#include "app/main_model.h"
#include "device/testing/recording_listener.h"

namespace brelin::app::testing {

// A MainModel whose choices are plain fields and which records what it is told in `log`.
struct RecordingModel : MainModel {
  std::string outputFileName;
  bool metric = true;
  bool absolute = false;
  bool ascii = true;
  device::testing::RecordingListener log;

  std::string OutputFileName() const override { return outputFileName; }
  bool MetricChosen() const override { return metric; }
  bool AbsoluteChosen() const override { return absolute; }
  bool AsciiChosen() const override { return ascii; }
  void AppendStatus(std::string_view text) override { log.AppendStatus(text); }
  void SetProgress(int position) override { log.SetProgress(position); }
  void ShowMessage(std::string_view text) override { log.ShowMessage(text); }
};

}  // namespace brelin::app::testing
