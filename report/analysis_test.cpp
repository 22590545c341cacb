#include "report/analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "report/file_error.h"
#include "report/image_generator.h"
#include "report/testing/recording_sink.h"
#include "report/testing/records.h"
#include "report/testing/temp_dir.h"

namespace brelin::report {
namespace {

using testing::Measurement;
using testing::ReadText;
using testing::WriteBytes;
using Stamps = std::vector<std::int32_t>;

class ImageDecoderTest : public ::testing::Test {
 protected:
  void Store(int point, std::int32_t t, std::uint8_t type = 19, std::uint16_t raw = 0x00EA) {
    const auto record = Measurement(point, type, raw, t);
    decoder.DecodeRecord(record.data(), record.size());
  }
  Stamps Timestamps(int point) {
    decoder.Finish(table, options);
    Stamps out;
    for (const PointSlot& slot : table[point]) out.push_back(slot.timestamp);
    return out;
  }
  std::string Text(int point, int slot) { return table[point][slot].valueText; }

  PointTable table{};
  ReportOptions options;
  ImageDecoder decoder;
};

TEST_F(ImageDecoderTest, SlotRules) {
  for (std::int32_t t : {100, 200, 300, 400, 500}) Store(7, t);
  EXPECT_EQ(Timestamps(7), (Stamps{500, 200, 300, 400}));  // filled in order, oldest replaced
  Store(7, 50, 20, 0x0258);                                // older than all: dropped whole
  EXPECT_EQ(Timestamps(7), (Stamps{500, 200, 300, 400}));
  EXPECT_EQ(Text(7, 1), "  23.4\t\260C");
  Store(7, 200, 20, 0x0258);  // equal to the oldest: replaces it completely
  EXPECT_EQ(Timestamps(7), (Stamps{500, 200, 300, 400}));
  EXPECT_EQ(table[7][1].sensorType, 20);
  EXPECT_EQ(Text(7, 1), " 60.0\tdBA");

  for (std::int32_t t : {300, 100, 100, 200, 400}) Store(3, t);  // lowest index among equals
  EXPECT_EQ(Timestamps(3), (Stamps{300, 400, 100, 200}));

  for (std::int32_t t : {0, -1, INT32_MIN}) Store(5, t);
  EXPECT_EQ(Timestamps(5), (Stamps{0, 0, 0, 0}));
  for (std::int32_t t : {INT32_MAX, 1, -100}) Store(5, t);
  EXPECT_EQ(Timestamps(5), (Stamps{INT32_MAX, 1, 0, 0}));
}

TEST_F(ImageDecoderTest, OnlyWholeMeasurementRecordsOfPointsBelow1000) {
  auto record = Measurement(0, 19, 0x00EA, 1000);
  // Other kinds; points 0, 992 and 101 (unused low bits set); points 1000 and 1023.
  const std::uint8_t kHeads[][2] = {{0x7F, 0}, {0x40, 0},    {0xC0, 0},    {0x00, 0},   {0x80, 0},
                                    {0xBF, 0}, {0x83, 0x2F}, {0x9F, 0x40}, {0x9F, 0xF8}};
  for (const auto& head : kHeads) {
    std::copy(head, head + 2, record.begin());
    EXPECT_EQ(decoder.DecodeRecord(record.data(), record.size()), 0);
  }
  // A fragment is never a measurement, even when its bytes say so.
  const auto fragment = Measurement(50, 19, 0x00EA, 1000);
  for (std::size_t count : {1u, 11u}) EXPECT_EQ(decoder.DecodeRecord(fragment.data(), count), 0);
  for (int point : {0, 992, 101}) EXPECT_EQ(Timestamps(point), (Stamps{1000, 0, 0, 0})) << point;
  int stored = 0;
  for (const auto& slots : table) {
    for (const PointSlot& slot : slots) stored += slot.timestamp != 0;
  }
  EXPECT_EQ(stored, 3);
}

TEST_F(ImageDecoderTest, FinishReplacesTheWholeTableAndStoresTheLongestTextWhole) {
  Store(9, 1234);
  Store(9, 1235, 20, 0x0258);
  decoder.Finish(table, options);
  ImageDecoder next;
  next.StoreMeasurement(Measurement(9, 17, 0x0FFF, 999).data());
  next.Finish(table, {.unitSystem = kImperial});
  EXPECT_EQ(table[9][0].timestamp, 999);
  EXPECT_EQ(table[9][1].timestamp, 0);
  EXPECT_EQ(Text(9, 0), "-72.29\tmSCFM");
}

class AnalyseImageTest : public ::testing::Test {
 protected:
  void SetUp() override { request.path = dir.Path("report.txt"); }

  void Analyse(const std::string& path) { AnalyseImage(sink, table, path, request); }
  // The report without its first line, which holds the creation time.
  std::string ReportBody() {
    const std::string text = ReadText(request.path);
    return text.substr(text.find("\r\n") + 2);
  }

  testing::TempDir dir;
  testing::RecordingSink sink;
  PointTable table{};
  ReportRequest request;
  std::string image = dir.Path("image.bin");
};

TEST_F(AnalyseImageTest, LayoutIsTheChosenOneWithoutAnyMeasurement) {
  WriteBytes(image, {});
  for (const bool ascii : {false, true}) {
    request.options.reportFormat = ascii ? kAscii : kCsv;
    sink.status.clear();
    sink.progress.clear();
    Analyse(image);
    EXPECT_EQ(sink.progress, (std::vector<int>{70, 85, 100}));
    EXPECT_EQ(sink.status, ascii ? "Analysing data.\r\nCreating ASCII file report.\r\n"
                                 : "Analysing data.\r\nCreating CSV file report.\r\n");
    EXPECT_EQ(ReportBody(), ascii
                                ? "Data downloaded from device NE0\r\n\r\n"
                                  "Point\tNr\tValue\tType\tTimestamp\r\n"
                                : "\"Data downloaded from device NE0\"\r\n\r\n"
                                  "\"Point\",\"Nr\",\"Value\",\"Unit\",\"Type\",\"Timestamp\"\r\n");
  }
  // Without a file name the analysis shows the message and still finishes.
  request.path.clear();
  Analyse(image);
  EXPECT_EQ(sink.messages, (std::vector<std::string>{"There is no output File name selected "}));
  EXPECT_EQ(sink.progress.back(), 100);
  EXPECT_EQ(dir.Count(), 2u);
}

TEST_F(AnalyseImageTest, TrailingFragmentIsNotDecoded) {
  // 20 bytes: a record and 8 bytes that would make a second one with the first's leftovers.
  auto bytes = testing::Image({Measurement(7, 19, 0x00EA, 1078136100)});
  const auto second = Measurement(8, 19, 0x00EA, 0);
  bytes.insert(bytes.end(), second.begin(), second.begin() + 8);
  WriteBytes(image, bytes);
  const AnalysisSummary summary = AnalyseImage(sink, table, image, request);
  EXPECT_EQ(table[7][0].timestamp, 1078136100);
  EXPECT_EQ(table[8][0].timestamp, 0);
  EXPECT_EQ(summary.records, 1u);
  EXPECT_EQ(summary.measurements, 1u);
  EXPECT_EQ(summary.trailingBytes, 8u);
  EXPECT_EQ(summary.readings, 1);
  EXPECT_EQ(summary.points, 1);

  // Any size gives the report of its whole records alone.
  const std::vector<std::uint8_t> generated = GenerateImage(87382, 3);  // 1 MiB + 8 bytes
  for (std::size_t size : {0u, 5u, 12u, 20u, 128u, 1048583u}) {
    std::string reports[2];
    for (const int whole : {0, 1}) {
      const std::size_t length = whole ? size - size % 12 : size;
      WriteBytes(image, std::vector<std::uint8_t>(generated.begin(), generated.begin() + length));
      ASSERT_NO_THROW(Analyse(image)) << size;
      EXPECT_EQ(sink.progress.back(), 100);
      reports[whole] = ReportBody();
    }
    EXPECT_EQ(reports[0], reports[1]) << size;
    const AnalysisSummary summary = AnalyseImage(sink, table, image, request);
    EXPECT_EQ(summary.records, size / 12) << size;
    EXPECT_EQ(summary.trailingBytes, 0u) << size;
  }
}

TEST_F(AnalyseImageTest, UnreadableImageLeavesTheReportAlone) {
  testing::WriteText(request.path, "previous report");
  const std::string missing = dir.Path("missing.bin");
  for (const std::string& path : {missing, dir.path().string()}) {
    try {
      Analyse(path);
      ADD_FAILURE() << "no FileError";
    } catch (const FileError& e) {
      EXPECT_EQ(e.path(), path);
      EXPECT_EQ(e.reason(), path == missing ? "No such file or directory" : "Is a directory");
    }
  }
  EXPECT_EQ(ReadText(request.path), "previous report");
  EXPECT_EQ(sink.progress, (std::vector<int>{70, 70}));
}

}  // namespace
}  // namespace brelin::report
