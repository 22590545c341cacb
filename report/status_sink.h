#pragma once

#include <string_view>

namespace brelin::report {

// Where the analysis and the report writers tell the operator how they are doing.
class StatusSink {
 public:
  // Appends text to the status log. Callers end lines with "\r\n".
  virtual void AppendStatus(std::string_view text) = 0;
  // Moves the progress bar to position 0..100.
  virtual void SetProgress(int position) = 0;
  // A problem that ends the step, in the system's own words.
  virtual void ShowMessage(std::string_view text) = 0;

 protected:
  ~StatusSink() = default;
};

}  // namespace brelin::report
