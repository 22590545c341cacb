#include "report/analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "report/file_error.h"
#include "report/image_generator.h"
#include "report/testing/fake_model.h"
#include "report/testing/records.h"
#include "report/testing/temp_dir.h"

namespace brelin::report {
namespace {

using testing::FakeModel;
using testing::Measurement;
using testing::ReadText;
using testing::TempDir;
using testing::WriteBytes;
using testing::WriteText;

std::vector<std::int32_t> Timestamps(const PointTable& table, int point) {
  std::vector<std::int32_t> out;
  for (const PointSlot& slot : table[point]) out.push_back(slot.timestamp);
  return out;
}

// The four slots sorted by timestamp, to compare contents whatever their places.
void OrderSlotsForTest(std::array<PointSlot, kSlotsPerPoint>& slots) {
  std::sort(slots.begin(), slots.end(),
            [](const PointSlot& a, const PointSlot& b) { return a.timestamp < b.timestamp; });
}

class ImageDecoderTest : public ::testing::Test {
 protected:
  void Store(int point, std::int32_t t, std::uint8_t type = 19, std::uint16_t raw = 0x00EA) {
    const auto record = Measurement(point, type, raw, t);
    decoder.DecodeRecord(record.data(), record.size());
  }
  const PointTable& Table() {
    decoder.Finish(model);
    return model.pointTable;
  }

  FakeModel model;
  ImageDecoder decoder;
};

TEST_F(ImageDecoderTest, FillsEmptySlotsThenReplacesTheOldestNeverWithOlder) {
  for (std::int32_t t : {100, 200, 300, 400, 500}) Store(7, t);
  EXPECT_EQ(Timestamps(Table(), 7), (std::vector<std::int32_t>{500, 200, 300, 400}));
  Store(7, 50, 20, 0x0258);  // older than everything stored: dropped whole
  EXPECT_EQ(Timestamps(Table(), 7), (std::vector<std::int32_t>{500, 200, 300, 400}));
  EXPECT_EQ(std::string(Table()[7][1].valueText),
            "  23.4\t\xB0"
            "C");
  Store(7, 200, 20, 0x0258);  // equal to the oldest: replaces it completely
  EXPECT_EQ(Timestamps(Table(), 7), (std::vector<std::int32_t>{500, 200, 300, 400}));
  EXPECT_EQ(Table()[7][1].sensorType, 20);
  EXPECT_EQ(std::string(Table()[7][1].valueText), " 60.0\tdBA");
}

TEST_F(ImageDecoderTest, AnyOrderKeepsTheFourNewestWithTheirOwnValues) {
  std::vector<std::int32_t> order{100, 200, 300, 400, 500, 600};
  do {
    ImageDecoder fresh;
    // The dBa value of each record is its timestamp in tenths, so a slot shows whose value it
    // holds.
    for (std::int32_t t : order) {
      fresh.StoreMeasurement(Measurement(4, 20, static_cast<std::uint16_t>(t), t).data());
    }
    fresh.Finish(model);
    OrderSlotsForTest(model.pointTable[4]);
    std::string got;
    for (const PointSlot& slot : model.pointTable[4]) {
      got += std::to_string(slot.timestamp) + "=" + slot.valueText + " ";
    }
    ASSERT_EQ(got, "300= 30.0\tdBA 400= 40.0\tdBA 500= 50.0\tdBA 600= 60.0\tdBA ");
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(ImageDecoderTest, LowestIndexAmongEqualOldest) {
  for (std::int32_t t : {300, 100, 100, 200}) Store(3, t);
  Store(3, 400);
  EXPECT_EQ(Timestamps(Table(), 3), (std::vector<std::int32_t>{300, 400, 100, 200}));
}

TEST_F(ImageDecoderTest, ZeroAndNegativeTimestampsStayEmpty) {
  Store(5, 0);
  Store(5, -1);
  Store(5, INT32_MIN);
  EXPECT_EQ(Timestamps(Table(), 5), (std::vector<std::int32_t>{0, 0, 0, 0}));
  Store(5, INT32_MAX);
  Store(5, 1);
  Store(5, -100);
  EXPECT_EQ(Timestamps(Table(), 5), (std::vector<std::int32_t>{INT32_MAX, 1, 0, 0}));
}

TEST_F(ImageDecoderTest, RecordKindsPointNumbersAndFragments) {
  auto record = Measurement(0, 19, 0x00EA, 1000);
  for (const std::uint8_t kind : {0x7F, 0x40, 0xC0, 0x00}) {
    record[0] = kind;
    decoder.DecodeRecord(record.data(), record.size());
  }
  EXPECT_EQ(Table()[0][0].timestamp, 0);
  EXPECT_EQ(Table()[31][0].timestamp, 0);

  record[0] = 0x80;
  decoder.DecodeRecord(record.data(), record.size());
  record[0] = 0xBF;  // point 31 * 32 = 992
  decoder.DecodeRecord(record.data(), record.size());
  record[0] = 0x83;
  record[1] = 0x2F;  // 3 * 32 + 5, unused low bits set
  decoder.DecodeRecord(record.data(), record.size());
  EXPECT_EQ(Table()[0][0].timestamp, 1000);
  EXPECT_EQ(Table()[992][0].timestamp, 1000);
  EXPECT_EQ(Table()[101][0].timestamp, 1000);

  // A fragment is never a measurement, even when its bytes say so.
  const auto fragment = Measurement(50, 19, 0x00EA, 1000);
  for (std::size_t count : {1u, 4u, 8u, 11u}) decoder.DecodeRecord(fragment.data(), count);
  EXPECT_EQ(Table()[50][0].timestamp, 0);
}

TEST_F(ImageDecoderTest, PointsBeyondTheTableAreSkipped) {
  for (int point = 1000; point < 1024; ++point) Store(point, 1000 + point);
  for (int p = 0; p < kPointCount; ++p) {
    EXPECT_EQ(Timestamps(Table(), p), (std::vector<std::int32_t>{0, 0, 0, 0}));
  }
}

TEST_F(ImageDecoderTest, FinishReplacesTheWholeTableAndKeepsStaleTexts) {
  Store(9, 1234);
  Store(9, 1235, 20, 0x0258);
  decoder.Finish(model);
  ImageDecoder next;
  next.StoreMeasurement(Measurement(9, 21, 0x04D2, 999).data());
  next.Finish(model);
  EXPECT_EQ(Timestamps(model.pointTable, 9), (std::vector<std::int32_t>{999, 0, 0, 0}));
  EXPECT_EQ(std::string(model.pointTable[9][0].valueText), " 1.234\tRPM");
  EXPECT_EQ(std::string(model.pointTable[9][1].valueText), " 60.0\tdBA");
}

class AnalyseImageTest : public ::testing::Test {
 protected:
  void SetUp() override { model.outputFileName = dir.Path("report.txt"); }

  // The report without its first line, which holds the creation time.
  std::string ReportBody() {
    const std::string text = ReadText(model.outputFileName);
    return text.substr(text.find("\r\n") + 2);
  }

  TempDir dir;
  FakeModel model;
};

TEST_F(AnalyseImageTest, ProgressStatusAndReport) {
  const std::string image = dir.Path("image.bin");
  WriteBytes(image, testing::Image({Measurement(7, 19, 0x00EA, 1078136100),
                                    Measurement(2, 20, 0x0258, 1078136160)}));
  model.deviceInfo.serialNumber = 4711;
  AnalyseImage(model, image);
  EXPECT_EQ(model.progress, (std::vector<int>{70, 85, 100}));
  EXPECT_EQ(model.status, "Analysing data.\r\nCreating ASCII file report.\r\n");
  EXPECT_EQ(ReportBody(),
            "Data downloaded from device NE4711\r\n\r\n"
            "Point\tNr\tValue\tType\tTimestamp\r\n"
            "2\t0\t 60.0\tdBA\tdBa Sensor         \tMon Mar 01, 2004 10:16\r\n"
            "7\t0\t  23.4\t\xB0"
            "C\tTemperature Sensor \tMon Mar 01, 2004 10:15\r\n");
}

TEST_F(AnalyseImageTest, TrailingFragmentIsNotDecoded) {
  // 20 bytes: a record and 8 bytes that would make a second one from the first's leftovers.
  auto bytes = testing::Image({Measurement(7, 19, 0x00EA, 1078136100)});
  const auto second = Measurement(8, 19, 0x00EA, 0);
  bytes.insert(bytes.end(), second.begin(), second.begin() + 8);
  const std::string image = dir.Path("image.bin");
  WriteBytes(image, bytes);
  AnalyseImage(model, image);
  EXPECT_EQ(model.pointTable[7][0].timestamp, 1078136100);
  EXPECT_EQ(model.pointTable[8][0].timestamp, 0);
}

TEST_F(AnalyseImageTest, LayoutIsTheChosenOneWithoutAnyMeasurement) {
  const std::string image = dir.Path("empty.bin");
  WriteBytes(image, {});
  for (const bool ascii : {false, true}) {
    model.ascii = ascii;
    model.status.clear();
    AnalyseImage(model, image);
    EXPECT_EQ(model.status, ascii ? "Analysing data.\r\nCreating ASCII file report.\r\n"
                                  : "Analysing data.\r\nCreating CSV file report.\r\n");
    EXPECT_EQ(ReportBody(), ascii
                                ? "Data downloaded from device NE0\r\n\r\n"
                                  "Point\tNr\tValue\tType\tTimestamp\r\n"
                                : "\"Data downloaded from device NE0\"\r\n\r\n"
                                  "\"Point\",\"Nr\",\"Value\",\"Unit\",\"Type\",\"Timestamp\"\r\n");
  }
}

TEST_F(AnalyseImageTest, OddSizesAndRandomBytesGiveAReport) {
  const std::string image = dir.Path("image.bin");
  const std::vector<std::uint8_t> generated = GenerateImage(87382, 3);  // 1 MiB + 8 bytes
  // A trailing fragment changes nothing: each report equals that of the whole records alone.
  for (std::size_t size : {0u, 5u, 12u, 20u, 128u, 1048583u}) {
    std::string reports[2];
    for (std::string& report : reports) {
      const std::size_t length = &report == reports ? size : size - size % 12;
      WriteBytes(image, std::vector<std::uint8_t>(generated.begin(), generated.begin() + length));
      ASSERT_NO_THROW(AnalyseImage(model, image)) << size;
      EXPECT_EQ(model.progress.back(), 100);
      report = ReportBody();
    }
    EXPECT_EQ(reports[0], reports[1]) << size;
  }
  std::vector<std::uint8_t> noise(50000);
  std::uint32_t x = 12345;
  for (auto& b : noise) b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 16);
  WriteBytes(image, noise);
  model.ascii = false;
  AnalyseImage(model, image);
  const std::string csv = ReadText(model.outputFileName);
  EXPECT_LE(std::count(csv.begin(), csv.end(), '\n'), 4 + kPointCount * kSlotsPerPoint);
}

TEST_F(AnalyseImageTest, UnreadableImageLeavesTheReportAlone) {
  WriteText(model.outputFileName, "previous report");
  const std::string missing = dir.Path("missing.bin");
  try {
    AnalyseImage(model, missing);
    FAIL() << "no FileError";
  } catch (const FileError& e) {
    EXPECT_EQ(e.path(), missing);
    EXPECT_EQ(e.reason(), "No such file or directory");
  }
  try {
    AnalyseImage(model, dir.path().string());
    FAIL() << "no FileError";
  } catch (const FileError& e) {
    EXPECT_EQ(e.reason(), "Is a directory");
  }
  EXPECT_EQ(ReadText(model.outputFileName), "previous report");
  EXPECT_EQ(model.progress, (std::vector<int>{70, 70}));
}

TEST_F(AnalyseImageTest, EmptyFileNameShowsTheMessageAndFinishes) {
  const std::string image = dir.Path("image.bin");
  WriteBytes(image, testing::Image({Measurement(7, 19, 0x00EA, 1078136100)}));
  model.outputFileName.clear();
  AnalyseImage(model, image);
  EXPECT_EQ(model.messages, (std::vector<std::string>{"There is no output File name selected "}));
  EXPECT_EQ(model.progress.back(), 100);
  EXPECT_EQ(dir.Count(), 1u);
}

}  // namespace
}  // namespace brelin::report
