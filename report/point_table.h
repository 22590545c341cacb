#pragma once

#include <array>
#include <cstdint>

namespace brelin::report {

inline constexpr int kPointCount = 1000;
inline constexpr int kSlotsPerPoint = 4;

// One stored measurement. A timestamp of 0 marks an empty slot; the other fields of an empty slot
// are stale and never reported.
struct PointSlot {
  std::uint8_t sensorType = 0;
  char valueText[15] = {};  // NUL-terminated value text, e.g. "  23.4\t\xB0C"
  std::int32_t timestamp = 0;
};

// The four newest measurements of every point. Non-empty slots of a point always come first.
using PointTable = std::array<std::array<PointSlot, kSlotsPerPoint>, kPointCount>;

}  // namespace brelin::report
