#include "app/commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "report/analysis.h"
#include "report/file_error.h"

namespace brelin::app {
namespace {

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

report::ReportOptions ChosenReportOptions(const MainModel& model) {
  return {.unitSystem = model.MetricChosen() ? report::kMetric : report::kImperial,
          .temperatureScale = model.AbsoluteChosen() ? report::kAbsolute : report::kRelative,
          .reportFormat = model.AsciiChosen() ? report::kAscii : report::kCsv};
}

void AnalyseCommand(MainModel& model, const std::string& imagePath) {
  // The choices are read when the analysis starts, not when the command was clicked: the
  // operator may change them while the instrument is being read.
  report::AnalyseImage(model, model.pointTable, imagePath,
                       {.path = model.OutputFileName(),
                        .options = ChosenReportOptions(model),
                        .serialNumber = model.deviceInfo.serialNumber});
}

bool GetDataCommand(MainModel& model, const GetDataOptions& options) {
  model.AppendStatus("Checking output filename.\r\n");
  const std::string name = model.OutputFileName();
  if (name.empty()) {
    model.ShowMessage("There is no output File name selected ");
    return false;
  }
  model.AppendStatus("Creating output file.\r\n");
  CheckWritable(name);
  model.AppendStatus("Get data from KLV480.\r\n");
  if (!device::DownloadMemory(model, model.deviceInfo, model.portIndex, options.imagePath)) {
    return false;
  }
  if (options.serialNumber) model.deviceInfo.serialNumber = *options.serialNumber;
  AnalyseCommand(model, options.imagePath);
  model.AppendStatus("Done.");
  return true;
}

bool EraseCommand(MainModel& model) {
  model.AppendStatus("Get data from KLV480.\r\n");
  return device::EraseMemory(model, model.portIndex);
}

}  // namespace brelin::app
