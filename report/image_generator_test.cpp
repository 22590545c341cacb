#include "report/image_generator.h"

#include <gtest/gtest.h>

#include <set>

namespace brelin::report {
namespace {

TEST(ImageGeneratorTest, DeterministicRealisticRecords) {
  const auto image = GenerateImage(20000, 7);
  ASSERT_EQ(image.size(), 20000u * 12);
  EXPECT_EQ(image, GenerateImage(20000, 7));
  EXPECT_NE(image, GenerateImage(20000, 8));

  // Streaming in pieces gives the same bytes.
  std::vector<std::uint8_t> pieces(image.size());
  ImageGenerator generator(20000, 7);
  std::size_t done = 0;
  while (const std::size_t n = generator.Next(pieces.data() + done * 12, 333)) done += n;
  EXPECT_EQ(pieces, image);

  std::size_t measurements = 0, unknown = 0, outOfOrder = 0;
  std::set<int> points;
  std::int32_t previous = 0;
  for (std::size_t at = 0; at < image.size(); at += 12) {
    const std::uint8_t* r = &image[at];
    if ((r[0] & 0xC0) != 0x80) continue;
    ++measurements;
    points.insert((r[0] & 0x1F) * 32 + (r[1] >> 3));
    if (r[3] > 37) ++unknown;
    const auto t =
        static_cast<std::int32_t>(std::uint32_t{r[8]} << 24 | r[9] << 16 | r[10] << 8 | r[11]);
    EXPECT_GE(t, 1072915200);  // 2004
    EXPECT_LE(t, 1798761599);  // 2026
    if (t < previous) ++outOfOrder;
    previous = t;
  }
  EXPECT_GT(measurements, 19000u);
  EXPECT_LT(measurements, 20000u);
  EXPECT_GT(unknown, 0u);
  EXPECT_GT(outOfOrder, 0u);
  EXPECT_LT(*points.rbegin(), 1000);
  EXPECT_GT(points.size(), 900u);
}

TEST(ImageGeneratorTest, PaddingToWholeBlocks) {
  auto image = GenerateImage(300, 1);
  PadImage(image);
  ASSERT_EQ(image.size(), 3712u);
  EXPECT_EQ(image[3600], 0x1A);
  EXPECT_EQ(image.back(), 0x1A);
}

}  // namespace
}  // namespace brelin::report
