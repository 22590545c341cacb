#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brelin::report {

// Makes realistic memory images: mostly measurement records of the known sensor codes with
// plausible raw values, a few unknown codes and other record kinds, points 0 to 999, timestamps
// rising from 2004 to 2026 with some out of order. The same seed gives the same bytes.
class ImageGenerator {
 public:
  ImageGenerator(std::uint32_t records, std::uint32_t seed);

  // Writes the next records (12 bytes each) into `out`, at most `maxRecords`; returns how many.
  std::size_t Next(std::uint8_t* out, std::size_t maxRecords);

 private:
  std::uint32_t Random();
  std::uint32_t Below(std::uint32_t bound) { return Random() % bound; }
  void MakeRecord(std::uint8_t* out);

  std::uint32_t left_;
  std::uint64_t state_;
  std::int64_t time_;
  std::int64_t step_;
  std::uint32_t route_;
};

// `records` records of ImageGenerator, without padding.
std::vector<std::uint8_t> GenerateImage(std::uint32_t records, std::uint32_t seed);

// Pads `image` with `fill` up to a multiple of `block` bytes, as a download stores it.
void PadImage(std::vector<std::uint8_t>& image, std::size_t block = 128, std::uint8_t fill = 0x1A);

}  // namespace brelin::report
