#include "report/image_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace brelin::report {
namespace {

TEST(ImageGeneratorTest, DeterministicStreamableAndPadded) {
  auto image = GenerateImage(20000, 7);
  ASSERT_EQ(image.size(), 20000u * 12);
  EXPECT_EQ(image, GenerateImage(20000, 7));
  EXPECT_NE(image, GenerateImage(20000, 8));
  std::vector<std::uint8_t> pieces(image.size());
  ImageGenerator generator(20000, 7);
  for (std::size_t done = 0;
       const std::size_t n = generator.Next(pieces.data() + done * 12, 333);) {
    done += n;
  }
  EXPECT_EQ(pieces, image);

  image.resize(300 * 12);
  PadImage(image);
  ASSERT_EQ(image.size(), 3712u);
  EXPECT_EQ(image[3600], 0x1A);
  EXPECT_EQ(image.back(), 0x1A);
}

// Every record is either another kind or a measurement of a point below 1000 with a sensor code
// the generator knows and a raw value that code can have, stamped 2004 to 2026; and the mix looks
// like a real download, so that tests and benchmarks exercise every path of the decoder.
TEST(ImageGeneratorTest, RecordsAreWellFormedAndRealistic) {
  constexpr std::int64_t kFirst = 1072915200, kLast = 1798761599;
  const std::set<int> kCommon = {0,  5,  6,  7,  8,  9,  10, 17, 18, 19, 20, 21,
                                 22, 23, 26, 27, 31, 32, 33, 34, 35, 36, 37};
  const std::set<int> kRare = {1, 3, 12, 16, 25, 29, 38, 77, 200, 255};
  const auto image = GenerateImage(3000, 7);  // a route of 500 points
  std::set<int> kinds, common;
  int measurements = 0, offRoute = 0, rare = 0, flows = 0, flowTenths = 0, flowNegative = 0;
  int temperatures = 0, belowZero = 0, earlier = 0, noise = 0;
  std::int64_t first = 0, last = 0, latest = 0;
  for (std::size_t at = 0; at < image.size(); at += 12) {
    const std::uint8_t* r = &image[at];
    noise += r[2] != 0;
    if ((r[0] & 0xC0) != 0x80) {
      kinds.insert(r[0] & 0xC0);
      continue;
    }
    ++measurements;
    ASSERT_EQ(r[0] & 0x20, 0) << at;
    const int point = (r[0] & 0x1F) * 32 + (r[1] >> 3);
    offRoute += point >= 500;
    const int code = r[3];
    const unsigned raw = r[6] << 8 | r[7];
    const std::int64_t t = std::int64_t{r[8]} << 24 | r[9] << 16 | r[10] << 8 | r[11];
    ASSERT_TRUE(t >= kFirst && t <= kLast) << at;
    if (first == 0) first = t;
    earlier += t < latest;
    latest = std::max(latest, t);
    last = t;
    if (kRare.contains(code)) {
      ++rare;
      EXPECT_TRUE(code >= 38 || (raw >= 400 && raw <= 1100)) << at;
      continue;
    }
    ASSERT_TRUE(kCommon.contains(code)) << at;
    common.insert(code);
    switch (code) {
      case 17:
        ++flows;
        EXPECT_LT(raw, 0x2000u) << at;
        flowTenths += (raw & 0x1000) != 0;
        flowNegative += (raw & 0x800) != 0;
        break;
      case 19:
      case 23:
        ++temperatures;
        belowZero += (raw & 0x4000) != 0;
        EXPECT_TRUE((raw & 0x4000) ? raw >= 0x4001 && raw <= 0x4000 + 400 : raw <= 1600) << at;
        break;
      case 20:
        EXPECT_TRUE(raw >= 300 && raw <= 1100) << at;
        break;
      case 21:
      case 27:
      case 31:
        break;
      default:
        EXPECT_TRUE(raw >= 400 && raw <= 1100) << at;
    }
  }
  EXPECT_EQ(kinds, (std::set<int>{0x00, 0x40, 0xC0}));
  EXPECT_NEAR(3000 - measurements, 100, 40);  // one in 30 of another kind
  EXPECT_NEAR(offRoute, measurements / 100, 20);
  EXPECT_NEAR(rare, measurements / 50, 25);
  EXPECT_EQ(common, kCommon);
  EXPECT_NEAR(flowTenths, flows / 3, 25);
  EXPECT_NEAR(flowNegative, flows / 20, 8);
  EXPECT_NEAR(belowZero, temperatures / 5, 40);
  EXPECT_NEAR(earlier, measurements / 25, 45);
  EXPECT_LT(first, kFirst + 86400 * 31);
  EXPECT_TRUE(last > 1609459200 && last < 1704067200);  // 2021 to 2023: about 4/5 of the range
  EXPECT_GT(noise, 2900);
}

}  // namespace
}  // namespace brelin::report
