#include "report/image_generator.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <tuple>

namespace brelin::report {
namespace {

// Every record is another kind or a measurement of a point below 1000 with a sensor code the
// generator knows, a raw value that code can have and a time from 2004 to 2026; the mix looks like
// a real download, so that tests and benchmarks reach every path of the decoder; and the same seed
// gives the same bytes, whole or in pieces.
TEST(ImageGeneratorTest, WellFormedRealisticAndRepeatable) {
  constexpr std::int64_t kFirst = 1072915200, kLast = 1798761599;
  const std::set<int> kCommon = {0,  5,  6,  7,  8,  9,  10, 17, 18, 19, 20, 21,
                                 22, 23, 26, 27, 31, 32, 33, 34, 35, 36, 37};
  const std::set<int> kRare = {1, 3, 12, 16, 25, 29, 38, 77, 200, 255};
  const auto image = GenerateImage(3000, 7);  // a route of 500 points
  std::map<std::string, int> n;
  std::set<int> kinds, common;
  std::int64_t first = 0, last = 0;
  for (std::size_t at = 0; at < image.size(); at += 12) {
    const std::uint8_t* r = &image[at];
    if ((r[0] & 0xC0) != 0x80) {
      kinds.insert(r[0] & 0xC0);
      continue;
    }
    const int point = (r[0] & 0x3F) * 32 + (r[1] >> 3), code = r[3];
    const unsigned raw = r[6] << 8 | r[7];
    const std::int64_t t = std::int64_t{r[8]} << 24 | r[9] << 16 | r[10] << 8 | r[11];
    ASSERT_TRUE(point < 1000 && t >= kFirst && t <= kLast) << at;
    ASSERT_TRUE(kCommon.contains(code) || kRare.contains(code)) << at;
    const bool flow = code == 17, temperature = code == 19 || code == 23;
    const bool plausible =
        flow          ? raw < 0x2000
        : temperature ? ((raw & 0x4000) ? raw > 0x4000 && raw <= 0x4000 + 400 : raw <= 1600)
        : code == 20
            ? raw >= 300 && raw <= 1100
            : code == 21 || code == 27 || code == 31 || code >= 38 || (raw >= 400 && raw <= 1100);
    EXPECT_TRUE(plausible) << at;
    if (kCommon.contains(code)) common.insert(code);
    ++n["measurements"];
    n["off route"] += point >= 500;
    n["rare"] += kRare.contains(code);
    n["earlier"] += t < last;
    n["flows in tenths"] += flow && (raw & 0x1000);
    n["negative flows"] += flow && (raw & 0x800);
    first = first ? first : t;
    last = std::max(last, t);
  }
  EXPECT_EQ(kinds, (std::set<int>{0x00, 0x40, 0xC0}));
  EXPECT_EQ(common, kCommon);
  const int m = n["measurements"];
  for (const auto& [name, expected, slack] :
       std::initializer_list<std::tuple<const char*, int, int>>{
           {"measurements", 2900, 40},  // one record in 30 of another kind
           {"off route", m / 100, 20},
           {"rare", m / 50, 25},
           {"earlier", m / 25, 45},
           {"flows in tenths", m / 51, 25},  // a third of one code in 16
           {"negative flows", m / 320, 8}}) {
    EXPECT_NEAR(n[name], expected, slack) << name;
  }
  EXPECT_LT(first, kFirst + 86400 * 31);
  EXPECT_TRUE(last > 1609459200 && last < 1704067200);  // 2021 to 2023: about 4/5 of the range

  EXPECT_EQ(image, GenerateImage(3000, 7));
  EXPECT_NE(image, GenerateImage(3000, 8));
  std::vector<std::uint8_t> pieces(image.size());
  ImageGenerator generator(3000, 7);
  for (std::size_t done = 0;
       const std::size_t k = generator.Next(pieces.data() + done * 12, 333);) {
    done += k;
  }
  EXPECT_EQ(pieces, image);
}

TEST(ImageGeneratorTest, PaddedToWholeBlocks) {
  auto image = GenerateImage(300, 7);
  image.resize(3585);  // one byte past a whole block
  PadImage(image);
  ASSERT_EQ(image.size(), 3712u);
  EXPECT_EQ(image[3585], 0x1A);
  EXPECT_EQ(image.back(), 0x1A);
}

}  // namespace
}  // namespace brelin::report
