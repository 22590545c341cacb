// Analysis of a generated memory image (decode and report) against a plain read of the same file,
// side by side in one run, with the allocations and the peak memory of the analysis.
//   report_bench [MIB=64] [REPEATS=5]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "report/analysis.h"
#include "report/image_generator.h"
#include "report/testing/recording_sink.h"

namespace {

std::atomic<long> g_allocations{0};

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void WriteImage(const std::string& path, std::uint32_t records) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::exit(1);
  brelin::report::ImageGenerator generator(records, 2026);
  std::vector<std::uint8_t> chunk(12 * 87381);
  while (const std::size_t n = generator.Next(chunk.data(), chunk.size() / 12)) {
    std::fwrite(chunk.data(), 12, n, file);
  }
  std::fclose(file);
}

// Reads the file through a buffer of the size the analysis uses; returns a checksum so the reads
// cannot be dropped.
unsigned RawRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  static std::uint8_t buffer[5461 * 12];
  unsigned sum = 0;
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) sum += buffer[n - 1];
  ::close(fd);
  return sum;
}

struct Run {
  double milliseconds;
  long allocations;
};

Run Analyse(const std::string& image, const std::string& report) {
  brelin::report::testing::RecordingSink sink;
  auto table = std::make_unique<brelin::report::PointTable>();
  const long before = g_allocations;
  const auto start = Clock::now();
  brelin::report::AnalyseImage(sink, *table, image,
                               {.path = report, .options = {}, .serialNumber = 0});
  return {Milliseconds(Clock::now() - start), g_allocations - before};
}

}  // namespace

// The counting operator new takes its memory from malloc, so free is the matching release; g++ 12
// cannot see that through the replaced operators once they are inlined into a vector's destructor.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

int main(int argc, char** argv) {
  const long mib = argc > 1 ? std::atol(argv[1]) : 64;
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
  const auto records = static_cast<std::uint32_t>(mib * 1024 * 1024 / 12);

  std::string dir = (std::filesystem::temp_directory_path() / "report_bench-XXXXXX").string();
  if (!mkdtemp(dir.data())) return 1;
  const std::string image = dir + "/image.bin";
  const std::string small = dir + "/small.bin";
  const std::string report = dir + "/report.txt";
  WriteImage(image, records);
  WriteImage(small, records / 64);

  RawRead(image);  // into the page cache
  const Run smallRun = Analyse(small, report);
  const long rssBefore = PeakRssKiB();

  double raw = 1e300;
  Run best{1e300, 0};
  unsigned sum = 0;
  for (int i = 0; i < repeats; ++i) {
    const auto start = Clock::now();
    sum += RawRead(image);
    raw = std::min(raw, Milliseconds(Clock::now() - start));
    const Run run = Analyse(image, report);
    if (run.milliseconds < best.milliseconds) best = run;
  }
  const long rssAfter = PeakRssKiB();

  std::printf("image: %u records, %.1f MiB (checksum %u)\n", records, records * 12 / 1048576.0,
              sum);
  std::printf("raw read:  %8.1f ms (best of %d)\n", raw, repeats);
  std::printf("analysis:  %8.1f ms (best of %d)\n", best.milliseconds, repeats);
  std::printf("ratio:     %8.2f (target <= 2)\n", best.milliseconds / raw);
  std::printf("analysis of %u records: %.1f ms\n", records / 64, smallRun.milliseconds);
  std::printf("allocations per analysis: %ld for %u records, %ld for %u records\n",
              best.allocations, records, smallRun.allocations, records / 64);
  std::printf("peak RSS: %ld KiB before the analyses, %ld KiB after\n", rssBefore, rssAfter);
  std::filesystem::remove_all(dir);
  return 0;
}
