#pragma once

#include <cstddef>
#include <cstdint>

namespace brelin::xfer {

// The CRC-16 of XMODEM blocks (polynomial 0x1021, no reflection) over count bytes, continuing
// from start (0 for a whole block). The receiver checks blocks with it; a sender frames them.
std::uint16_t Crc16Xmodem(std::size_t count, std::uint16_t start, const std::uint8_t* bytes);

}  // namespace brelin::xfer
