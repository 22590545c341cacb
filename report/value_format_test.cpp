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

TEST(FormatValueTest, DbuvIgnoresBitsAboveTenAndUnitSystem) {
  for (const bool metric : {true, false}) {
    EXPECT_EQ(Format(0, 0x01F4, metric), "   0.0\tdBuV");
    EXPECT_EQ(Format(0, 0, metric), " -50.0\tdBuV");
    EXPECT_EQ(Format(0, 0x07FF, metric), " 154.7\tdBuV");
    EXPECT_EQ(Format(37, 0xF9F4, metric), "   0.0\tdBuV");
  }
}

TEST(FormatValueTest, MassFlowInSccmOrMilliScfm) {
  EXPECT_EQ(Format(17, 0x14D2), "123.4\tSCCM");
  EXPECT_EQ(Format(17, 0x14D2, false), "4.36\tmSCFM");
  EXPECT_EQ(Format(17, 0x04D2), " 1234\tSCCM");
  EXPECT_EQ(Format(17, 0x04D2, false), "43.58\tmSCFM");
  EXPECT_EQ(Format(17, 0x1CD2), "-123.4\tSCCM");
  // Negative zero keeps its sign, as printf gives it.
  EXPECT_EQ(Format(17, 0x0800), "   -0\tSCCM");
  // The longest text of a 16-bit raw value.
  EXPECT_EQ(Format(17, 0x0FFF, false), "-72.29\tmSCFM");
}

TEST(FormatValueTest, TemperatureInEveryUnitAndScale) {
  EXPECT_EQ(Format(19, 0x00EA, true, false),
            "  23.4\t\xB0"
            "C");
  EXPECT_EQ(Format(19, 0x00EA, true, true), " 296.5\t\xB0K");
  EXPECT_EQ(Format(19, 0x00EA, false, false),
            "  74.1\t\xB0"
            "F");
  EXPECT_EQ(Format(19, 0x00EA, false, true), " 533.8\t\xB0R");
  EXPECT_EQ(Format(19, 0x40EA),
            " -23.4\t\xB0"
            "C");
  EXPECT_EQ(Format(19, 0x4000),
            "  -0.0\t\xB0"
            "C");
  EXPECT_EQ(Format(23, 0x3FFF),
            "1638.3\t\xB0"
            "C");
}

TEST(FormatValueTest, SoundLevelInDba) {
  EXPECT_EQ(Format(20, 0x0258), " 60.0\tdBA");
  EXPECT_EQ(Format(20, 0x0258, false), " 60.0\tdBA");
}

TEST(FormatValueTest, RpmPrecisionFollowsMagnitudeAndUnitCode) {
  EXPECT_EQ(Format(21, 0x04D2), " 1.234\tRPM");
  EXPECT_EQ(Format(21, 0x03E7), "0.9990\tRPM");
  EXPECT_EQ(Format(21, 0xFFFF), " 65.54\tRPM");
  EXPECT_EQ(Format(27, 0x0001D4C0), " 120.0\tRPM");  // 120000 / 1000
  EXPECT_EQ(Format(31, 0x001E8480), "  2000\tRPM");
  EXPECT_EQ(Format(21, 0x80000007), "     7\tCNT");
  EXPECT_EQ(Format(21, 0x90018690), "9998.4\tMT");
  // 9999.9 in single precision is just above the threshold.
  EXPECT_EQ(Format(21, 0x9001869F), " 10000\tMT");
  EXPECT_EQ(Format(21, 0xA00186A0), " 10000\tFT");
  EXPECT_EQ(Format(21, 0x5000000C), "0.0120\tMT/S");
  // Unit codes without a divisor.
  EXPECT_EQ(Format(21, 0xD0000001), "UNKNOWN");
  EXPECT_EQ(Format(21, 0xF0000001), "UNKNOWN");
}

TEST(FormatValueTest, UndecodedCodesAndLowEightBits) {
  EXPECT_EQ(Format(1, 0x1234), "UNKNOWN");
  EXPECT_EQ(Format(38, 0), "UNKNOWN");
  EXPECT_EQ(Format(255, 0xFFFF), "UNKNOWN");
  EXPECT_EQ(Format(256 + 20, 0x0258), " 60.0\tdBA");
}

TEST(FormatValueTest, EveryCodeAndRawStaysShortEnoughForASlot) {
  FakeModel model;
  std::size_t longest = 0;
  for (const bool metric : {true, false}) {
    model.metric = metric;
    for (const bool absolute : {true, false}) {
      model.absolute = absolute;
      for (int code = 0; code < 256; ++code) {
        for (std::uint32_t raw = 0; raw < 0x10000; raw += (code == 17 || code == 19) ? 1 : 61) {
          longest = std::max(longest, FormatValue(model, code, raw).view().size());
        }
      }
    }
  }
  EXPECT_EQ(longest, 12u);
}

TEST(FormatValueTest, OptionsAreReadAtEveryCall) {
  FakeModel model;
  EXPECT_EQ(FormatValue(model, 19, 0x00EA),
            "  23.4\t\xB0"
            "C");
  EXPECT_EQ(CurrentReportOptions().reportFormat, kAscii);
  model.metric = false;
  model.ascii = false;
  model.absolute = true;
  EXPECT_EQ(FormatValue(model, 19, 0x00EA), " 533.8\t\xB0R");
  EXPECT_EQ(CurrentReportOptions().unitSystem, kImperial);
  EXPECT_EQ(CurrentReportOptions().temperatureScale, kAbsolute);
  EXPECT_EQ(CurrentReportOptions().reportFormat, kCsv);
}

TEST(FormatValueTest, DecimalPointWhateverTheLocale) {
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  const std::string text = Format(19, 0x00EA);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(text,
            "  23.4\t\xB0"
            "C");
}

TEST(ConvertTemperatureTest, ScalesAndUnitIndices) {
  const Temperature c = ConvertTemperature(kMetric, kRelative, 100.0f);
  EXPECT_DOUBLE_EQ(c.value, 100.0);
  EXPECT_EQ(MeasureUnit(c.unitIndex),
            "\xB0"
            "C");
  const Temperature k = ConvertTemperature(kMetric, kAbsolute, 100.0f);
  EXPECT_DOUBLE_EQ(k.value, 373.15);
  EXPECT_EQ(MeasureUnit(k.unitIndex), "\xB0K");
  const Temperature f = ConvertTemperature(kImperial, kRelative, -40.0f);
  EXPECT_DOUBLE_EQ(f.value, -40.0);
  EXPECT_EQ(MeasureUnit(f.unitIndex),
            "\xB0"
            "F");
  const Temperature r = ConvertTemperature(kImperial, kAbsolute, 0.0f);
  EXPECT_DOUBLE_EQ(r.value, 273.15 * 1.8);
  EXPECT_EQ(MeasureUnit(r.unitIndex), "\xB0R");
  // Anything but metric counts as imperial.
  EXPECT_EQ(ConvertTemperature(0, kRelative, 0.0f).unitIndex, f.unitIndex);
}

TEST(SensorTypeNameTest, NamesArePaddedExceptInfrared) {
  EXPECT_EQ(SensorTypeName(0), "Internal Sensor    ");
  EXPECT_EQ(SensorTypeName(10), "External Ultrasonic");
  EXPECT_EQ(SensorTypeName(19), "Temperature Sensor ");
  EXPECT_EQ(SensorTypeName(23), "IR Temperature Sensor");
  EXPECT_EQ(SensorTypeName(34), "Tanktest           ");
  EXPECT_EQ(SensorTypeName(38), "Unknown sensor     ");
  EXPECT_EQ(SensorTypeName(256 + 17), "Mass Flow Sensor   ");
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(SensorTypeName(code).size(), code == 23 ? 21u : 19u) << code;
  }
}

}  // namespace
}  // namespace brelin::report
