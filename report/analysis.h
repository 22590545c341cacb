#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/main_model.h"
#include "report/point_table.h"

namespace brelin::report {

inline constexpr std::size_t kRecordSize = 12;

// Decodes the records of a memory image into the slots of 1000 points. The slots are kept compact
// (timestamp, raw value, sensor type) while records stream through, and are written into a point
// table with their value texts once the last record is in; the options cannot change in between,
// so the texts are those each record would have got.
class ImageDecoder {
 public:
  // Decodes one record of `count` bytes. Measurement records (byte 0 bits 7-6 = 10) are stored;
  // other kinds, and a trailing fragment shorter than kRecordSize, are skipped. Returns 0.
  int DecodeRecord(const std::uint8_t* record, std::size_t count);

  // Files one measurement record under its point: an empty slot first, otherwise the slot with the
  // oldest timestamp (lowest index among equals) when the record is not older than it. Records
  // older than everything stored for a full point, and points 1000 to 1023, are dropped.
  void StoreMeasurement(const std::uint8_t* record);

  // Replaces model.pointTable's timestamps and sensor types with the decoded ones and gives every
  // non-empty slot its value text (refreshing the report options).
  void Finish(app::MainModel& model) const;

 private:
  struct Slot {
    std::int32_t timestamp;  // 0: empty
    std::uint16_t raw;
    std::uint8_t sensorType;
  };
  // One cache line per point.
  struct alignas(32) Point {
    std::array<Slot, kSlotsPerPoint> slots;
  };
  std::array<Point, kPointCount> points_{};
};

// Decodes the image file at `imagePath` into model.pointTable and writes the report the model's
// format choice selects. Progress 70, 85, 100 and its status lines go to the model. Throws
// FileError when the image cannot be opened or read, or the report cannot be written; the
// previous report then stays as it was.
void AnalyseImage(app::MainModel& model, const std::string& imagePath);

}  // namespace brelin::report
