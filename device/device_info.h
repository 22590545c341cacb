#pragma once

#include <cstdint>

namespace brelin::device {

// What the instrument last reported about itself. A download overwrites only the fields it manages
// to scan; the others keep their values.
struct DeviceInfo {
  std::int32_t downloadNumber = 0;
  std::uint32_t downloadWord1 = 0;
  std::uint32_t downloadWord2 = 0;
  std::int32_t serialNumber = 0;
  std::int32_t pcbNumber = 0;
};

}  // namespace brelin::device
