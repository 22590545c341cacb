// Arbitrary bytes as a memory image through the analysis and both report writers. The first byte
// picks the options; the rest is the image, held in a memory file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "report/analysis.h"
#include "report/report_writer.h"
#include "report/testing/recording_sink.h"

namespace {

struct Scratch {
  Scratch() {
    fd = memfd_create("image", MFD_CLOEXEC);
    if (fd < 0) std::abort();
    image = "/proc/self/fd/" + std::to_string(fd);
    // Reports go to memory where there is a memory file system: each run writes two.
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string dir = (base / "fuzz_report-XXXXXX").string();
    if (!mkdtemp(dir.data())) std::abort();
    report = dir + "/report";
    folder = dir;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  int fd;
  std::string image;
  std::string report;
  std::string folder;
};

}  // namespace

// Undefined behaviour is a finding, not a warning in the log.
extern "C" const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  if (size == 0) return 0;
  if (ftruncate(scratch.fd, 0) != 0 ||
      pwrite(scratch.fd, data + 1, size - 1, 0) != static_cast<ssize_t>(size - 1)) {
    std::abort();
  }

  using namespace brelin::report;
  testing::RecordingSink sink;
  PointTable table{};
  const ReportRequest request{.path = scratch.report,
                              .options = {.unitSystem = data[0] & 1 ? kMetric : kImperial,
                                          .temperatureScale = data[0] & 2 ? kAbsolute : kRelative,
                                          .reportFormat = data[0] & 4 ? kAscii : kCsv},
                              .serialNumber = static_cast<std::int8_t>(data[0])};
  AnalyseImage(sink, table, scratch.image, request);
  if (sink.progress.back() != 100) std::abort();
  // The other layout over the same table.
  if (request.options.reportFormat == kAscii) {
    WriteCsvReport(sink, table, request.serialNumber, request.path, 0);
  } else {
    WriteAsciiReport(sink, table, request.serialNumber, request.path, 0);
  }
  return 0;
}
