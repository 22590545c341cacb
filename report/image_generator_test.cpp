#include "report/image_generator.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace brelin::report
