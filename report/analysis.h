#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "report/point_table.h"
#include "report/report_writer.h"
#include "report/status_sink.h"
#include "report/value_format.h"

namespace brelin::report {

inline constexpr std::size_t kRecordSize = 12;

// What an analysis found in the image, for the operator to judge it by.
struct AnalysisSummary {
  std::uint64_t records = 0;       // whole records read
  std::uint64_t measurements = 0;  // of which measurement records
  std::size_t trailingBytes = 0;   // bytes after the last whole record (not decoded)
  int readings = 0;                // readings in the point table, hence in the report
  int points = 0;                  // points with at least one reading
};

// One measurement record of an image.
struct Measurement {
  int point;  // 0 to 1023
  std::int32_t timestamp;
  std::uint16_t raw;
  std::uint8_t sensorType;
};

// The measurement in a whole record (`count` is kRecordSize, byte 0 bits 7-6 = 10); nothing for
// other kinds and for the fragment after an image's last whole record.
std::optional<Measurement> DecodeMeasurement(const std::uint8_t* record, std::size_t count);

// A point slot holding one reading, with its value text as the report prints it in the units
// `options` select.
PointSlot MakeSlot(const ReportOptions& options, std::uint8_t sensorType, std::uint16_t raw,
                   std::int32_t timestamp);

// Decodes the records of a memory image into the slots of 1000 points. The slots are kept compact
// (timestamp, raw value, sensor type) while records stream through, and are written into a point
// table with their value texts once the last record is in.
class ImageDecoder {
 public:
  // Decodes one record of `count` bytes. Measurement records (byte 0 bits 7-6 = 10) are stored;
  // other kinds, and a trailing fragment shorter than kRecordSize, are skipped. Returns 0.
  int DecodeRecord(const std::uint8_t* record, std::size_t count);

  // Files one measurement record under its point: an empty slot first, otherwise the slot with the
  // oldest timestamp (lowest index among equals) when the record is not older than it. Records
  // older than everything stored for a full point, and points 1000 to 1023, are dropped.
  void StoreMeasurement(const std::uint8_t* record);
  void StoreMeasurement(const Measurement& measurement);

  // Replaces the table's timestamps and sensor types with the decoded ones and gives every
  // non-empty slot its value text in the units the options select. Returns what was decoded.
  AnalysisSummary Finish(PointTable& table, const ReportOptions& options) const;

 private:
  struct Slot {
    std::int32_t timestamp;  // 0: empty
    std::uint16_t raw;
    std::uint8_t sensorType;
  };
  // Half a cache line per point: a point's four slots never straddle two lines.
  struct alignas(32) Point {
    std::array<Slot, kSlotsPerPoint> slots;
  };
  std::array<Point, kPointCount> points_{};
  std::uint64_t records_ = 0;
  std::uint64_t measurements_ = 0;
  std::size_t trailingBytes_ = 0;
};

// Reads the image file at `imagePath` in file order and calls `each` with every whole record and,
// last, with the fragment after them when there is one. Throws FileError when the image cannot be
// opened or read.
void ReadRecords(const std::string& imagePath,
                 const std::function<void(const std::uint8_t* record, std::size_t count)>& each);

// Calls `each` with every measurement record of points 0 to 999 in the image at `imagePath`, in
// file order: all of them, not only the four newest of each point that a report keeps. Throws
// FileError as ReadRecords does.
void ForEachMeasurement(const std::string& imagePath,
                        const std::function<void(const Measurement&)>& each);

// Decodes the image file at `imagePath` into `table` with its value texts in the units `options`
// select, writing nothing. Throws FileError when the image cannot be opened or read.
AnalysisSummary DecodeImage(PointTable& table, const std::string& imagePath,
                            const ReportOptions& options);

// Decodes the image file at `imagePath` into `table` and writes the report `request` describes.
// Progress 70, 85, 100 and its status lines go to `sink`. Throws FileError when the image cannot
// be opened or read, or the report cannot be written; the previous report then stays as it was.
AnalysisSummary AnalyseImage(StatusSink& sink, PointTable& table, const std::string& imagePath,
                             const ReportRequest& request);

}  // namespace brelin::report
