#include "report/value_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "report/testing/fake_model.h"

namespace brelin::report {
namespace {

using testing::FakeModel;

std::string Format(int code, std::uint32_t raw, bool metric = true, bool absolute = false) {
  FakeModel model;
  model.metric = metric;
  model.absolute = absolute;
  return std::string(FormatValue(model, code, raw).view());
}

// "\260" is the degree byte 0xB0.
TEST(FormatValueTest, EveryGroupByteExact) {
  const struct {
    int code;
    std::uint32_t raw;
    bool metric, absolute;
    const char* text;
  } kCases[] = {
      // dBuV: bits above 10 and the unit system do not count.
      {0, 0x01F4, true, false, "   0.0\tdBuV"},
      {0, 0x01F4, false, false, "   0.0\tdBuV"},
      {0, 0, true, false, " -50.0\tdBuV"},
      {0, 0x07FF, true, false, " 154.7\tdBuV"},
      {37, 0xF9F4, true, false, "   0.0\tdBuV"},
      // Mass flow; negative zero keeps its sign.
      {17, 0x14D2, true, false, "123.4\tSCCM"},
      {17, 0x14D2, false, false, "4.36\tmSCFM"},
      {17, 0x04D2, true, false, " 1234\tSCCM"},
      {17, 0x04D2, false, false, "43.58\tmSCFM"},
      {17, 0x1CD2, true, false, "-123.4\tSCCM"},
      {17, 0x0800, true, false, "   -0\tSCCM"},
      {17, 0x0FFF, false, false, "-72.29\tmSCFM"},  // the longest text of a 16-bit raw value
      // Temperature in every unit and scale.
      {19, 0x00EA, true, false, "  23.4\t\260C"},
      {19, 0x00EA, true, true, " 296.5\t\260K"},
      {19, 0x00EA, false, false, "  74.1\t\260F"},
      {19, 0x00EA, false, true, " 533.8\t\260R"},
      {19, 0x40EA, true, false, " -23.4\t\260C"},
      {19, 0x4000, true, false, "  -0.0\t\260C"},
      {23, 0x3FFF, true, false, "1638.3\t\260C"},
      // Sound level, dBA in both unit systems.
      {20, 0x0258, true, false, " 60.0\tdBA"},
      {20, 0x0258, false, false, " 60.0\tdBA"},
      {256 + 20, 0x0258, true, false, " 60.0\tdBA"},  // only the low 8 bits of the code count
      // RPM: precision follows the magnitude, unit and divisor the top four bits.
      {21, 0x04D2, true, false, " 1.234\tRPM"},
      {21, 0x03E7, true, false, "0.9990\tRPM"},
      {21, 0xFFFF, true, false, " 65.54\tRPM"},
      {27, 0x0001D4C0, true, false, " 120.0\tRPM"},
      {31, 0x001E8480, true, false, "  2000\tRPM"},
      {21, 0x80000007, true, false, "     7\tCNT"},
      {21, 0x90018690, true, false, "9998.4\tMT"},
      {21, 0x9001869F, true, false, " 10000\tMT"},  // 9999.9 as a float is above the threshold
      {21, 0x5000000C, true, false, "0.0120\tMT/S"},
      {21, 0xD0000001, true, false, "UNKNOWN"},
      // Codes without a decoding.
      {1, 0x1234, true, false, "UNKNOWN"},
      {38, 0, true, false, "UNKNOWN"},
      {255, 0xFFFF, true, false, "UNKNOWN"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << c.code << ' ' << c.raw << ' ' << c.metric);
    EXPECT_EQ(Format(c.code, c.raw, c.metric, c.absolute), c.text);
    EXPECT_EQ(CurrentReportOptions().unitSystem, c.metric ? kMetric : kImperial);
    EXPECT_EQ(CurrentReportOptions().temperatureScale, c.absolute ? kAbsolute : kRelative);
  }
}

TEST(FormatValueTest, DecimalPointWhateverTheLocale) {
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  const std::string text = Format(19, 0x00EA);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(text, "  23.4\t\260C");
}

TEST(ConvertTemperatureTest, ExactScalesAndZeroOptionsCountAsImperial) {
  EXPECT_DOUBLE_EQ(ConvertTemperature(kMetric, kAbsolute, 100.0f).value, 373.15);
  EXPECT_DOUBLE_EQ(ConvertTemperature(kImperial, kAbsolute, 0.0f).value, 273.15 * 1.8);
  const Temperature f = ConvertTemperature(0, kRelative, -40.0f);
  EXPECT_DOUBLE_EQ(f.value, -40.0);
  EXPECT_EQ(MeasureUnit(f.unitIndex), "\260F");
}

TEST(SensorTypeNameTest, NamesArePaddedExceptInfrared) {
  EXPECT_EQ(SensorTypeName(0), "Internal Sensor    ");
  EXPECT_EQ(SensorTypeName(23), "IR Temperature Sensor");
  EXPECT_EQ(SensorTypeName(38), "Unknown sensor     ");
  EXPECT_EQ(SensorTypeName(256 + 17), "Mass Flow Sensor   ");
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(SensorTypeName(code).size(), code == 23 ? 21u : 19u) << code;
  }
}

}  // namespace
}  // namespace brelin::report
