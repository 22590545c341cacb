#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace brelin::report::testing {

using Record = std::array<std::uint8_t, 12>;

// A measurement record (kind bits 10) for `point` (0 to 1023).
inline Record Measurement(int point, std::uint8_t sensorType, std::uint16_t raw,
                          std::int32_t timestamp) {
  const auto t = static_cast<std::uint32_t>(timestamp);
  return {static_cast<std::uint8_t>(0x80 | (point >> 5)),
          static_cast<std::uint8_t>((point & 0x1F) << 3),
          0,
          sensorType,
          0,
          0,
          static_cast<std::uint8_t>(raw >> 8),
          static_cast<std::uint8_t>(raw),
          static_cast<std::uint8_t>(t >> 24),
          static_cast<std::uint8_t>(t >> 16),
          static_cast<std::uint8_t>(t >> 8),
          static_cast<std::uint8_t>(t)};
}

inline std::vector<std::uint8_t> Image(std::initializer_list<Record> records) {
  std::vector<std::uint8_t> image;
  for (const Record& r : records) image.insert(image.end(), r.begin(), r.end());
  return image;
}

}  // namespace brelin::report::testing
