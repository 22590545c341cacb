#pragma once

#include <filesystem>
#include <string>

namespace brelin::report {

// Paths travel as UTF-8 strings (on Windows the programs' manifest makes UTF-8 the code page of
// the C runtime and the system's narrow calls). std::filesystem's narrow constructor and string()
// convert with other code pages on Windows and damage any non-ASCII name, so conversions between
// the two go through these.
inline std::filesystem::path Utf8Path(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8String(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

}  // namespace brelin::report
