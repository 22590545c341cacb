#pragma once

#include <stdexcept>
#include <string>

namespace brelin::report {

// A file that could not be opened, read or written. Thrown by the analysis and the report writers
// and caught at the command boundary, which shows what() to the operator.
class FileError : public std::runtime_error {
 public:
  FileError(std::string path, std::string reason)
      : std::runtime_error(path + ": " + reason),
        path_(std::move(path)),
        reason_(std::move(reason)) {}

  const std::string& path() const { return path_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

}  // namespace brelin::report
