#include "app/console_model.h"

#include <unistd.h>

#include <algorithm>

#include "app/commands.h"

namespace brelin::app {
namespace {

constexpr int kBarWidth = 40;

// The text with every "\r\n" turned into "\n".
std::string UnixLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace

ConsoleModel::ConsoleModel(std::FILE* err) : ConsoleModel(err, ::isatty(::fileno(err)) == 1) {}

ConsoleModel::ConsoleModel(std::FILE* err, bool terminal) : err_(err), terminal_(terminal) {}

ConsoleModel::~ConsoleModel() {
  Flush();
}

void ConsoleModel::AppendStatus(std::string_view text) {
  if (quiet) return;
  pending_ += text;
  const std::size_t end = pending_.rfind('\n');
  if (end == std::string::npos) return;
  ClearBar();
  std::fputs(UnixLines(std::string_view(pending_).substr(0, end + 1)).c_str(), err_);
  pending_.erase(0, end + 1);
  DrawBar();
}

void ConsoleModel::SetProgress(int position) {
  progress_ = std::clamp(position, 0, 100);
  transfer_.clear();
  DrawBar();
}

void ConsoleModel::ShowTransfer(const device::TransferProgress& progress) {
  transfer_ = TransferText(progress);
  DrawBar();
}

void ConsoleModel::ShowMessage(std::string_view text) {
  Flush();
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.ends_with('\r')) text.remove_suffix(1);
  std::fprintf(err_, "%.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(err_);
  messageShown_ = true;
}

void ConsoleModel::Flush() {
  ClearBar();
  progress_ = -1;
  if (!pending_.empty()) {
    if (pending_.back() == '\r') pending_.pop_back();
    std::fprintf(err_, "%s\n", pending_.c_str());
    pending_.clear();
  }
  std::fflush(err_);
}

void ConsoleModel::ClearBar() {
  if (!barShown_) return;
  std::fputs("\r\x1b[K", err_);
  barShown_ = false;
}

void ConsoleModel::DrawBar() {
  if (quiet || !terminal_ || progress_ < 0) return;
  const int filled = progress_ * kBarWidth / 100;
  std::fprintf(err_, "\r[%s%s] %3d%%%s%s",
               std::string(static_cast<std::size_t>(filled), '#').c_str(),
               std::string(static_cast<std::size_t>(kBarWidth - filled), ' ').c_str(), progress_,
               transfer_.empty() ? "" : " ", transfer_.c_str());
  std::fflush(err_);
  barShown_ = true;
}

}  // namespace brelin::app
