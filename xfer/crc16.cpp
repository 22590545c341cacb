#include "xfer/crc16.h"

#include <array>

namespace brelin::xfer {

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    table[i] = static_cast<std::uint16_t>(crc);
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

std::uint16_t Crc16Xmodem(std::size_t count, std::uint16_t start, const std::uint8_t* bytes) {
  unsigned crc = start;
  for (std::size_t i = 0; i < count; ++i) {
    crc = kCrcTable[((crc >> 8) ^ bytes[i]) & 0xFF] ^ ((crc << 8) & 0xFFFF);
  }
  return static_cast<std::uint16_t>(crc);
}

}  // namespace brelin::xfer
