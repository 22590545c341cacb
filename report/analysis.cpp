#include "report/analysis.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "report/file_error.h"
#include "report/report_writer.h"
#include "report/value_format.h"

namespace brelin::report {
namespace {

constexpr std::uint8_t kKindMask = 0xC0;
constexpr std::uint8_t kMeasurementKind = 0x80;

// Whole records read at a time; the image is streamed through this one buffer.
constexpr std::size_t kChunkRecords = 5461;

std::int32_t Timestamp(const std::uint8_t* record) {
  const std::uint32_t bits = std::uint32_t{record[8]} << 24 | std::uint32_t{record[9]} << 16 |
                             std::uint32_t{record[10]} << 8 | record[11];
  return static_cast<std::int32_t>(bits);
}

class ImageFile {
 public:
  explicit ImageFile(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "rb")) {
    if (!file_) throw FileError(path_, std::strerror(errno));
  }
  ~ImageFile() { std::fclose(file_); }
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // Reads up to `size` bytes; 0 at the end of the file.
  std::size_t Read(std::uint8_t* buffer, std::size_t size) {
    errno = 0;
    const std::size_t n = std::fread(buffer, 1, size, file_);
    if (n == 0 && std::ferror(file_)) throw FileError(path_, std::strerror(errno ? errno : EIO));
    return n;
  }

 private:
  std::string path_;
  std::FILE* file_;
};

}  // namespace

int ImageDecoder::DecodeRecord(const std::uint8_t* record, std::size_t count) {
  // A fragment is the image's fill after its last record, not a measurement.
  if (count < kRecordSize) {
    trailingBytes_ += count;
    return 0;
  }
  ++records_;
  if (const std::optional<Measurement> measurement = DecodeMeasurement(record, count)) {
    ++measurements_;
    StoreMeasurement(*measurement);
  }
  return 0;
}

void ImageDecoder::StoreMeasurement(const std::uint8_t* record) {
  if (const std::optional<Measurement> measurement = DecodeMeasurement(record, kRecordSize)) {
    StoreMeasurement(*measurement);
  }
}

void ImageDecoder::StoreMeasurement(const Measurement& measurement) {
  const int point = measurement.point;
  if (point >= kPointCount) return;
  const std::int32_t t = measurement.timestamp;

  auto& slots = points_[point].slots;
  int oldest = 0;
  std::int32_t oldestTime = slots[0].timestamp;
  for (int k = 1; k < kSlotsPerPoint; ++k) {
    const bool older = slots[k].timestamp < oldestTime;
    oldestTime = older ? slots[k].timestamp : oldestTime;
    oldest = older ? k : oldest;
  }
  if (t < oldestTime) return;

  slots[oldest] = {t, measurement.raw, measurement.sensorType};
}

AnalysisSummary ImageDecoder::Finish(PointTable& table, const ReportOptions& options) const {
  AnalysisSummary summary{
      .records = records_, .measurements = measurements_, .trailingBytes = trailingBytes_};
  for (int p = 0; p < kPointCount; ++p) {
    const int before = summary.readings;
    for (int k = 0; k < kSlotsPerPoint; ++k) {
      const Slot& decoded = points_[p].slots[k];
      PointSlot& slot = table[p][k];
      slot.timestamp = decoded.timestamp;
      if (decoded.timestamp == 0) continue;
      ++summary.readings;
      slot = MakeSlot(options, decoded.sensorType, decoded.raw, decoded.timestamp);
    }
    if (summary.readings > before) ++summary.points;
  }
  return summary;
}

std::optional<Measurement> DecodeMeasurement(const std::uint8_t* record, std::size_t count) {
  if (count < kRecordSize || (record[0] & kKindMask) != kMeasurementKind) return std::nullopt;
  return Measurement{.point = (record[0] & 0x1F) * 32 + (record[1] >> 3),
                     .timestamp = Timestamp(record),
                     .raw = static_cast<std::uint16_t>(record[6] << 8 | record[7]),
                     .sensorType = record[3]};
}

PointSlot MakeSlot(const ReportOptions& options, std::uint8_t sensorType, std::uint16_t raw,
                   std::int32_t timestamp) {
  PointSlot slot;
  slot.sensorType = sensorType;
  slot.timestamp = timestamp;
  const ValueText text = FormatValue(options, sensorType, raw);
  const std::string_view view = text.view().substr(0, sizeof slot.valueText - 1);
  std::memcpy(slot.valueText, view.data(), view.size());
  slot.valueText[view.size()] = '\0';
  return slot;
}

void ReadRecords(const std::string& imagePath,
                 const std::function<void(const std::uint8_t* record, std::size_t count)>& each) {
  ImageFile image(imagePath);
  std::uint8_t buffer[kChunkRecords * kRecordSize];
  std::size_t held = 0;
  while (const std::size_t n = image.Read(buffer + held, sizeof buffer - held)) {
    held += n;
    const std::size_t whole = held - held % kRecordSize;
    for (std::size_t at = 0; at < whole; at += kRecordSize) each(buffer + at, kRecordSize);
    std::memmove(buffer, buffer + whole, held - whole);
    held -= whole;
  }
  if (held != 0) each(buffer, held);
}

void ForEachMeasurement(const std::string& imagePath,
                        const std::function<void(const Measurement&)>& each) {
  ReadRecords(imagePath, [&](const std::uint8_t* record, std::size_t count) {
    const std::optional<Measurement> measurement = DecodeMeasurement(record, count);
    if (measurement && measurement->point < kPointCount) each(*measurement);
  });
}

AnalysisSummary DecodeImage(PointTable& table, const std::string& imagePath,
                            const ReportOptions& options) {
  // Decoder state for 1000 points: too big for the stack of every caller.
  const auto decoder = std::make_unique<ImageDecoder>();
  ReadRecords(imagePath, [&](const std::uint8_t* record, std::size_t count) {
    decoder->DecodeRecord(record, count);
  });
  return decoder->Finish(table, options);
}

AnalysisSummary AnalyseImage(StatusSink& sink, PointTable& table, const std::string& imagePath,
                             const ReportRequest& request) {
  sink.SetProgress(70);
  sink.AppendStatus("Analysing data.\r\n");
  const AnalysisSummary summary = DecodeImage(table, imagePath, request.options);
  sink.SetProgress(85);

  sink.AppendStatus(request.options.reportFormat == kAscii ? "Creating ASCII file report.\r\n"
                                                           : "Creating CSV file report.\r\n");
  WriteReport(sink, table, request);
  sink.SetProgress(100);
  return summary;
}

}  // namespace brelin::report
