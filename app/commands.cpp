#include "app/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef BRELIN_HISTORY
#include "history/history.h"
#endif
#include "report/analysis.h"
#include "report/file_error.h"
#include "report/replace_file.h"
#include "report/utf8_path.h"

namespace brelin::app {
namespace {

constexpr std::uint64_t kTransferBlockSize = 128;

// Opens the report for writing without truncating it, so that a download that fails later does
// not cost the operator the previous report.
void CheckWritable(const std::string& name) {
#ifdef _WIN32
  std::FILE* file = std::fopen(name.c_str(), "ab");
  if (file == nullptr) throw report::FileError(name, std::strerror(errno));
  std::fclose(file);
#else
  // Non-blocking, so that a FIFO without a reader fails instead of hanging the command.
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) throw report::FileError(name, std::strerror(errno));
  close(fd);
#endif
}

}  // namespace

std::string ImageBesideReport(const std::string& reportPath) {
  return report::Utf8String(report::Utf8Path(reportPath).parent_path() / device::kImageFileName);
}

report::ReportOptions ChosenReportOptions(const MainModel& model) {
  return {.unitSystem = model.MetricChosen() ? report::kMetric : report::kImperial,
          .temperatureScale = model.AbsoluteChosen() ? report::kAbsolute : report::kRelative,
          .reportFormat = model.AsciiChosen() ? report::kAscii : report::kCsv,
          .encoding = model.reportEncoding,
          .lineEnd = model.reportLineEnd};
}

void AnalyseCommand(MainModel& model, const std::string& imagePath) {
  model.analysisSummary.reset();
  // The choices are read when the analysis starts, not when the command was clicked: the
  // operator may change them while the instrument is being read.
  model.analysisSummary = report::AnalyseImage(model, model.pointTable, imagePath,
                                               {.path = model.OutputFileName(),
                                                .options = ChosenReportOptions(model),
                                                .serialNumber = model.deviceInfo.serialNumber,
                                                .stream = model.reportStream});
}

bool OpenImageCommand(MainModel& model, const std::string& imagePath) {
  model.analysisSummary.reset();
  if (model.OutputFileName().empty()) {
    model.ShowMessage("There is no output File name selected ");
    return false;
  }
  // An image names no instrument: the last one's serial number would be a guess.
  model.deviceInfo = {};
  AnalyseCommand(model, imagePath);
  model.AppendStatus("Done.");
  return true;
}

std::string TransferText(const device::TransferProgress& progress) {
  char text[80];
  const double kib = static_cast<double>(progress.bytes) / 1024;
  const double seconds = progress.milliseconds / 1000.0;
  const int n = progress.retries;
  if (seconds > 0) {
    std::snprintf(text, sizeof text, "%.1f KiB, %.2f KiB/s, %d %s", kib, kib / seconds, n,
                  n == 1 ? "retry" : "retries");
  } else {
    std::snprintf(text, sizeof text, "%.1f KiB, %d %s", kib, n, n == 1 ? "retry" : "retries");
  }
  return text;
}

std::string SummaryText(const report::AnalysisSummary& summary) {
  return std::to_string(summary.records) + (summary.records == 1 ? " record" : " records") +
         " read: " + std::to_string(summary.readings) +
         (summary.readings == 1 ? " reading" : " readings") + " of " +
         std::to_string(summary.points) + (summary.points == 1 ? " point" : " points") +
         " in the report.";
}

std::string SummaryWarning(const report::AnalysisSummary& summary) {
  // A download stores whole 128-byte blocks, so a fragment after the last record is normal there;
  // only an image that is neither whole records nor whole blocks was cut short.
  const std::uint64_t length = summary.records * report::kRecordSize + summary.trailingBytes;
  if (summary.trailingBytes != 0 && length % kTransferBlockSize != 0) {
    return "the image ends with " + std::to_string(summary.trailingBytes) +
           " bytes that are not a whole record: it may be cut short";
  }
  if (summary.measurements == 0) return "the image holds no measurement record";
  return {};
}

void ImportIntoHistory(MainModel& model, const std::string& imagePath) {
  model.historyResult.reset();
  if (model.historyPath.empty()) return;
  HistoryResult result;
  result.path = model.historyPath;
  const std::int32_t serial = model.deviceInfo.serialNumber;
  if (serial == 0) {
    // Readings of an unknown instrument could never be told apart from another's.
    result.warning =
        "the instrument gave no serial number: its readings were not added to the "
        "history";
    model.historyResult = result;
    return;
  }
#ifdef BRELIN_HISTORY
  try {
    history::History history(model.historyPath, history::History::Mode::kWrite);
    const history::ImportCounts counts = history.Import(serial, imagePath);
    result.seen = counts.seen;
    result.added = counts.added;
  } catch (const std::exception& e) {  // HistoryError, or FileError for the image
    result.warning = std::string(e.what()) + ": the readings were not added to the history";
  }
#else
  (void)imagePath;
  result.warning = "this build keeps no history";
#endif
  model.historyResult = result;
}

std::string HistoryText(const HistoryResult& result) {
  return std::to_string(result.added) + " of " + std::to_string(result.seen) +
         (result.seen == 1 ? " reading" : " readings") + " new in the history " + result.path + ".";
}

bool GetDataCommand(MainModel& model, const GetDataOptions& options) {
  model.analysisSummary.reset();
  model.historyResult.reset();
  model.AppendStatus("Checking output filename.\r\n");
  const std::string name = model.OutputFileName();
  if (name.empty()) {
    model.ShowMessage("There is no output File name selected ");
    return false;
  }
  model.AppendStatus("Creating output file.\r\n");
  if (model.reportStream == nullptr) CheckWritable(report::ReplaceTarget(name));
  // The image is received beside its target and replaces it only when complete: a failed or
  // interrupted download leaves the previous image as it was, and the blocks it got for salvage.
  const std::string image = report::ReplaceTarget(options.imagePath);
  const std::string partial = image + ".part";
  std::error_code ignored;
  std::filesystem::remove(report::Utf8Path(partial), ignored);
  model.AppendStatus("Get data from KLV480.\r\n");
  if (!device::DownloadMemory(model, model.deviceInfo, model.portIndex, partial)) {
    if (std::filesystem::file_size(report::Utf8Path(partial), ignored) == 0)
      std::filesystem::remove(report::Utf8Path(partial), ignored);
    return false;
  }
  report::MoveIntoPlace(partial, image);
  AnalyseCommand(model, image);
  ImportIntoHistory(model, image);
  model.AppendStatus("Done.");
  return true;
}

bool EraseCommand(MainModel& model) {
  model.analysisSummary.reset();
  model.AppendStatus("Get data from KLV480.\r\n");
  return device::EraseMemory(model, model.portIndex);
}

}  // namespace brelin::app
