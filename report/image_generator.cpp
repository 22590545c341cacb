#include "report/image_generator.h"

#include <algorithm>

namespace brelin::report {
namespace {

constexpr std::int64_t kFirstTime = 1072915200;  // 2004-01-01 00:00 UTC
constexpr std::int64_t kLastTime = 1798761599;   // 2026-12-31 23:59:59 UTC
constexpr std::size_t kRecordBytes = 12;

// Sensor codes of real probes, weighted by how often an operator uses them.
constexpr std::uint8_t kCommonCodes[] = {0,  0,  5,  6,  7,  8,  9,  10, 18, 19, 19,
                                         19, 20, 20, 21, 22, 23, 23, 26, 27, 31, 32,
                                         33, 34, 35, 36, 37, 17, 17, 19, 0,  8};
constexpr std::uint8_t kRareCodes[] = {1, 3, 12, 16, 25, 29, 38, 77, 200, 255};

}  // namespace

ImageGenerator::ImageGenerator(std::uint32_t records, std::uint32_t seed)
    : left_(records),
      state_(0x9E3779B97F4A7C15ull * (std::uint64_t{seed} + 1)),
      time_(kFirstTime),
      step_(std::max<std::int64_t>(
          1, (kLastTime - kFirstTime) / (std::int64_t{records} + records / 4 + 1))),
      route_(std::clamp<std::uint32_t>(records / 6, 10, 1000)) {}

// splitmix64: small, fast and the same on every platform, unlike the standard distributions.
std::uint32_t ImageGenerator::Random() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
}

void ImageGenerator::MakeRecord(std::uint8_t* out) {
  for (std::size_t i = 0; i < kRecordBytes; ++i) out[i] = static_cast<std::uint8_t>(Random());

  // About one record in 30 is of another kind (bits 7-6 of byte 0 not 10).
  if (Below(30) == 0) {
    static constexpr std::uint8_t kOtherKinds[] = {0x00, 0x40, 0xC0};
    out[0] = static_cast<std::uint8_t>(kOtherKinds[Below(3)] | (out[0] & 0x3F));
    return;
  }

  // An operator walks a route of points again and again; now and then any other point.
  const std::uint32_t point = Below(50) == 0 ? Below(1000) : Below(route_);
  out[0] = static_cast<std::uint8_t>(0x80 | (point >> 5));
  out[1] = static_cast<std::uint8_t>((point & 0x1F) << 3 | (out[1] & 0x07));

  const std::uint8_t code = Below(50) == 0 ? kRareCodes[Below(std::size(kRareCodes))]
                                           : kCommonCodes[Below(std::size(kCommonCodes))];
  out[3] = code;

  std::uint32_t raw = 0;
  switch (code) {
    case 17: {  // mass flow: 0..2047, tenths now and then, rarely negative
      raw = Below(2048) | (Below(3) == 0 ? 0x1000u : 0u) | (Below(20) == 0 ? 0x800u : 0u);
      break;
    }
    case 19:
    case 23: {  // temperature in tenths of a degree Celsius, -40 to 160, sign in bit 14
      const int tenths = static_cast<int>(Below(2001)) - 400;
      raw = tenths < 0 ? 0x4000u | static_cast<std::uint32_t>(-tenths)
                       : static_cast<std::uint32_t>(tenths);
      break;
    }
    case 20:  // sound level 30 to 110 dBA in tenths
      raw = 300 + Below(801);
      break;
    case 21:
    case 27:
    case 31:  // revolutions in thousandths
      raw = Below(65536);
      break;
    default:  // dBuV: -10 to +60 dBuV around the offset 500, and anything for unknown codes
      raw = code < 38 ? 400 + Below(701) : Below(65536);
      break;
  }
  out[6] = static_cast<std::uint8_t>(raw >> 8);
  out[7] = static_cast<std::uint8_t>(raw);

  // Time moves forward by about one step per record; one record in 25 was stamped earlier.
  time_ = std::min(kLastTime, time_ + static_cast<std::int64_t>(Below(static_cast<std::uint32_t>(
                                          std::min<std::int64_t>(2 * step_ + 1, 0x7FFFFFFF)))));
  std::int64_t t = time_;
  if (Below(25) == 0) t = std::max(kFirstTime, t - static_cast<std::int64_t>(Below(30 * 86400)));
  const auto bits = static_cast<std::uint32_t>(t);
  out[8] = static_cast<std::uint8_t>(bits >> 24);
  out[9] = static_cast<std::uint8_t>(bits >> 16);
  out[10] = static_cast<std::uint8_t>(bits >> 8);
  out[11] = static_cast<std::uint8_t>(bits);
}

std::size_t ImageGenerator::Next(std::uint8_t* out, std::size_t maxRecords) {
  const std::size_t count = std::min<std::size_t>(left_, maxRecords);
  for (std::size_t i = 0; i < count; ++i) MakeRecord(out + i * kRecordBytes);
  left_ -= static_cast<std::uint32_t>(count);
  return count;
}

std::vector<std::uint8_t> GenerateImage(std::uint32_t records, std::uint32_t seed) {
  std::vector<std::uint8_t> image(std::size_t{records} * kRecordBytes);
  ImageGenerator(records, seed).Next(image.data(), records);
  return image;
}

void PadImage(std::vector<std::uint8_t>& image, std::size_t block, std::uint8_t fill) {
  image.resize((image.size() + block - 1) / block * block, fill);
}

}  // namespace brelin::report
