// Writes a small generated memory image, padded like a download, to the file named by its
// argument: make_sample_image data/sample.bin [records] [seed]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "report/image_generator.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: make_sample_image FILE [RECORDS] [SEED]\n");
    return 2;
  }
  const auto records = static_cast<std::uint32_t>(argc > 2 ? std::stoul(argv[2]) : 300);
  const auto seed = static_cast<std::uint32_t>(argc > 3 ? std::stoul(argv[3]) : 480);
  auto image = brelin::report::GenerateImage(records, seed);
  brelin::report::PadImage(image);
  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file || std::fwrite(image.data(), 1, image.size(), file) != image.size() ||
      std::fclose(file) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
