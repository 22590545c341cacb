// The history at scale: an import of 1 000 000 records, a second import of the same image (nothing
// new), `show` of one point and `points` over the 1 000 000 rows, `show` of a point that has them
// all, and the bytes each reading costs.
//   history_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "history/history.h"
#include "history/listing.h"
#include "report/image_generator.h"

namespace {

namespace fs = std::filesystem;
using brelin::history::History;

constexpr std::uint32_t kRecords = 1000000;
constexpr std::int32_t kSerial = 480123;

// One folder for the run, with the image of kRecords generated records.
struct Workspace {
  Workspace() {
    std::string name = (fs::temp_directory_path() / "brelin-bench-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) std::exit(1);
    folder = name;
    image = (folder / "KLV480.bin").string();
    std::FILE* file = std::fopen(image.c_str(), "wb");
    brelin::report::ImageGenerator generator(kRecords, 2026);
    std::vector<std::uint8_t> chunk(12 * 87381);
    while (const std::size_t n = generator.Next(chunk.data(), chunk.size() / 12)) {
      std::fwrite(chunk.data(), 12, n, file);
    }
    std::fclose(file);
  }
  ~Workspace() { fs::remove_all(folder); }
  std::string Fresh(const std::string& name) {
    const fs::path path = folder / name;
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path.string() + suffix);
    return path.string();
  }

  fs::path folder;
  std::string image;
};

Workspace& Space() {
  static Workspace space;
  return space;
}

// A history holding the image once, made on first use.
const std::string& Filled() {
  static const std::string path = [] {
    const std::string p = Space().Fresh("filled.sqlite3");
    History(p, History::Mode::kWrite).Import(kSerial, Space().image);
    return p;
  }();
  return path;
}

void Import(benchmark::State& state) {
  brelin::history::ImportCounts counts;
  std::string path;
  for (auto _ : state) {
    state.PauseTiming();
    path = Space().Fresh("import.sqlite3");
    state.ResumeTiming();
    History history(path, History::Mode::kWrite);
    counts = history.Import(kSerial, Space().image);
  }
  // Closed: the log is in the file now, and the file is all there is.
  const double bytes = static_cast<double>(fs::file_size(path));
  state.counters["measurements"] = static_cast<double>(counts.seen);  // of kRecords records
  state.counters["added"] = static_cast<double>(counts.added);
  state.counters["bytes_per_reading"] = bytes / static_cast<double>(counts.added);
}
BENCHMARK(Import)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void ImportNothingNew(benchmark::State& state) {
  const std::string& path = Filled();
  brelin::history::ImportCounts counts;
  for (auto _ : state) counts = History(path, History::Mode::kWrite).Import(kSerial, Space().image);
  state.counters["added"] = static_cast<double>(counts.added);
}
BENCHMARK(ImportNothingNew)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// What `brelin-cli history show --point 500` does after its start: open, read, format.
void ShowOnePoint(benchmark::State& state) {
  const std::string& path = Filled();
  std::size_t rows = 0, bytes = 0;
  for (auto _ : state) {
    const History history(path, History::Mode::kRead);
    const auto readings = history.Readings(kSerial, 500);
    const std::string text = brelin::history::FormatReadings(kSerial, 500, readings, {});
    rows = readings.size();
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["readings"] = static_cast<double>(rows);
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(ShowOnePoint)->Unit(benchmark::kMillisecond)->UseRealTime();

// The worst case: one point that holds all 1 000 000 readings, read and formatted whole.
void ShowAPointOfAMillion(benchmark::State& state) {
  static const std::string path = [] {
    std::vector<std::uint8_t> image(std::size_t{kRecords} * 12);
    for (std::uint32_t i = 0; i < kRecords; ++i) {
      std::uint8_t* r = &image[std::size_t{i} * 12];
      const std::uint32_t t = 1'100'000'000u + 60u * i;
      const std::uint8_t record[12] = {0x80,
                                       7 << 3,
                                       0,
                                       19,
                                       0,
                                       0,
                                       static_cast<std::uint8_t>(i >> 8 & 0x0F),
                                       static_cast<std::uint8_t>(i),
                                       static_cast<std::uint8_t>(t >> 24),
                                       static_cast<std::uint8_t>(t >> 16),
                                       static_cast<std::uint8_t>(t >> 8),
                                       static_cast<std::uint8_t>(t)};
      std::copy(record, record + 12, r);
    }
    const std::string file = (Space().folder / "one-point.bin").string();
    std::FILE* out = std::fopen(file.c_str(), "wb");
    std::fwrite(image.data(), 1, image.size(), out);
    std::fclose(out);
    const std::string p = Space().Fresh("one-point.sqlite3");
    History(p, History::Mode::kWrite).Import(kSerial, file);
    return p;
  }();
  std::size_t rows = 0;
  for (auto _ : state) {
    const History history(path, History::Mode::kRead);
    const auto readings = history.Readings(kSerial, 7);
    const std::string text = brelin::history::FormatReadings(kSerial, 7, readings, {});
    rows = readings.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["readings"] = static_cast<double>(rows);
}
BENCHMARK(ShowAPointOfAMillion)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// `show --point 500` without --serial: finding the instruments of the point comes first.
void SerialsOfOnePoint(benchmark::State& state) {
  const History history(Filled(), History::Mode::kRead);
  for (auto _ : state) benchmark::DoNotOptimize(history.Serials(500));
}
BENCHMARK(SerialsOfOnePoint)->Unit(benchmark::kMicrosecond)->UseRealTime();

// `brelin-cli history points`: every reading is formatted for the smallest and largest values.
void Points(benchmark::State& state) {
  const History history(Filled(), History::Mode::kRead);
  for (auto _ : state) {
    benchmark::DoNotOptimize(brelin::history::FormatPoints(history, {}).size());
  }
}
BENCHMARK(Points)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
