#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/main_model.h"
#include "report/point_table.h"

namespace brelin::report {

inline constexpr std::size_t kRecordSize = 12;

// Decodes the records of a memory image into a point table. The raw value behind each stored slot
// is kept aside, so a slot's value text is formatted once when decoding ends instead of once per
// record; the options cannot change in between, so the texts are the same.
class ImageDecoder {
 public:
  // Empties every slot of `table` (timestamps to 0).
  explicit ImageDecoder(PointTable& table);

  // Decodes one record of `count` bytes. Measurement records (byte 0 bits 7-6 = 10) are stored;
  // other kinds, and a trailing fragment shorter than kRecordSize, are skipped. Returns 0.
  int DecodeRecord(const std::uint8_t* record, std::size_t count);

  // Files one measurement record under its point: an empty slot first, otherwise the slot with the
  // oldest timestamp (lowest index among equals) when the record is not older than it. Records
  // older than everything stored for a full point, and points 1000 to 1023, are dropped.
  void StoreMeasurement(const std::uint8_t* record);

  // Gives every non-empty slot the value text of its measurement (refreshes the report options).
  void FormatSlots(const app::MainModel& model);

 private:
  PointTable& table_;
  std::array<std::array<std::uint16_t, kSlotsPerPoint>, kPointCount> raw_{};
};

// Decodes the image file at `imagePath` into model.pointTable and writes the report the model's
// format choice selects. Progress 70, 85, 100 and its status lines go to the model. Throws
// FileError when the image cannot be opened or read, or the report cannot be written; the
// previous report then stays as it was.
void AnalyseImage(app::MainModel& model, const std::string& imagePath);

}  // namespace brelin::report
