#include "report/value_format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace brelin::report {
namespace {

std::string Format(int code, std::uint32_t raw, bool metric = true, bool absolute = false) {
  const ReportOptions options{.unitSystem = metric ? kMetric : kImperial,
                              .temperatureScale = absolute ? kAbsolute : kRelative};
  return std::string(FormatValue(options, code, raw).view());
}

struct ValueCase {
  const char* name;
  int code;
  std::uint32_t raw;
  bool metric, absolute;
  const char* text;
};

class FormatValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(FormatValueTest, ByteExact) {
  const ValueCase& c = GetParam();
  EXPECT_EQ(Format(c.code, c.raw, c.metric, c.absolute), c.text);
}

// "\260" is the degree byte 0xB0.
INSTANTIATE_TEST_SUITE_P(
    EveryGroup, FormatValueTest,
    ::testing::Values(
        // dBuV: bits above 10 and the unit system do not count.
        ValueCase{"DbuvZero", 0, 0x01F4, true, false, "   0.0\tdBuV"},
        ValueCase{"DbuvImperial", 0, 0x01F4, false, false, "   0.0\tdBuV"},
        ValueCase{"DbuvLowest", 0, 0, true, false, " -50.0\tdBuV"},
        ValueCase{"DbuvHighest", 0, 0x07FF, true, false, " 154.7\tdBuV"},
        ValueCase{"DbuvHighBitsIgnored", 37, 0xF9F4, true, false, "   0.0\tdBuV"},
        // Mass flow; negative zero keeps its sign.
        ValueCase{"FlowTenths", 17, 0x14D2, true, false, "123.4\tSCCM"},
        ValueCase{"FlowTenthsImperial", 17, 0x14D2, false, false, "4.36\tmSCFM"},
        ValueCase{"FlowWhole", 17, 0x04D2, true, false, " 1234\tSCCM"},
        ValueCase{"FlowWholeImperial", 17, 0x04D2, false, false, "43.58\tmSCFM"},
        ValueCase{"FlowNegative", 17, 0x1CD2, true, false, "-123.4\tSCCM"},
        ValueCase{"FlowNegativeZero", 17, 0x0800, true, false, "   -0\tSCCM"},
        ValueCase{"FlowOddWhole", 17, 0x0005, true, false, "    5\tSCCM"},
        // The longest text of a 16-bit raw value.
        ValueCase{"FlowLongestText", 17, 0x0FFF, false, false, "-72.29\tmSCFM"},
        // Temperature in every unit and scale.
        ValueCase{"Celsius", 19, 0x00EA, true, false, "  23.4\t\260C"},
        ValueCase{"Kelvin", 19, 0x00EA, true, true, " 296.5\t\260K"},
        ValueCase{"Fahrenheit", 19, 0x00EA, false, false, "  74.1\t\260F"},
        ValueCase{"Rankine", 19, 0x00EA, false, true, " 533.8\t\260R"},
        ValueCase{"CelsiusNegative", 19, 0x40EA, true, false, " -23.4\t\260C"},
        ValueCase{"CelsiusNegativeZero", 19, 0x4000, true, false, "  -0.0\t\260C"},
        ValueCase{"InfraredHighest", 23, 0x3FFF, true, false, "1638.3\t\260C"},
        // Sound level, dBA in both unit systems.
        ValueCase{"Dba", 20, 0x0258, true, false, " 60.0\tdBA"},
        ValueCase{"DbaImperial", 20, 0x0258, false, false, " 60.0\tdBA"},
        // Only the low 8 bits of the code count.
        ValueCase{"DbaCodeAbove255", 256 + 20, 0x0258, true, false, " 60.0\tdBA"},
        // RPM: precision follows the magnitude, unit and divisor the top four bits.
        ValueCase{"RpmThreeDecimals", 21, 0x04D2, true, false, " 1.234\tRPM"},
        ValueCase{"RpmBelowOne", 21, 0x03E7, true, false, "0.9990\tRPM"},
        ValueCase{"RpmOne", 21, 1000, true, false, " 1.000\tRPM"},
        ValueCase{"RpmTen", 21, 10000, true, false, " 10.00\tRPM"},
        ValueCase{"RpmHundred", 21, 100000, true, false, " 100.0\tRPM"},
        ValueCase{"RpmThousand", 21, 1000000, true, false, "  1000\tRPM"},
        ValueCase{"RpmTwoDecimals", 21, 0xFFFF, true, false, " 65.54\tRPM"},
        ValueCase{"RpmOneDecimal", 27, 0x0001D4C0, true, false, " 120.0\tRPM"},
        ValueCase{"RpmWhole", 31, 0x001E8480, true, false, "  2000\tRPM"},
        ValueCase{"Count", 21, 0x80000007, true, false, "     7\tCNT"},
        ValueCase{"Metres", 21, 0x90018690, true, false, "9998.4\tMT"},
        // 9999.9 as a float is above the threshold.
        ValueCase{"MetresAboveThreshold", 21, 0x9001869F, true, false, " 10000\tMT"},
        ValueCase{"MetresPerSecond", 21, 0x5000000C, true, false, "0.0120\tMT/S"},
        // INT has a divisor like RPM's, not the metres' one decimal.
        ValueCase{"Integer", 21, 0xC00005DC, true, false, " 1.500\tINT"},
        ValueCase{"RpmUnitWithoutDivisor", 21, 0xD0000001, true, false, "UNKNOWN"},
        // Codes without a decoding.
        ValueCase{"UndecodedCode1", 1, 0x1234, true, false, "UNKNOWN"},
        ValueCase{"UndecodedCode38", 38, 0, true, false, "UNKNOWN"},
        ValueCase{"UndecodedCode255", 255, 0xFFFF, true, false, "UNKNOWN"}),
    [](const ::testing::TestParamInfo<ValueCase>& info) { return info.param.name; });

TEST(FormatValueLocaleTest, DecimalPointWhateverTheLocale) {
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  const std::string text = Format(19, 0x00EA);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(text, "  23.4\t\260C");
}

TEST(ConvertTemperatureTest, ExactScalesZeroOptionsCountAsImperialAndUnits) {
  EXPECT_DOUBLE_EQ(ConvertTemperature(kMetric, kAbsolute, 100.0f).value, 373.15);
  EXPECT_DOUBLE_EQ(ConvertTemperature(kImperial, kAbsolute, 0.0f).value, 273.15 * 1.8);
  const Temperature f = ConvertTemperature(0, kRelative, -40.0f);
  EXPECT_DOUBLE_EQ(f.value, -40.0);
  EXPECT_EQ(MeasureUnit(f.unitIndex), "\260F");
  EXPECT_EQ(MeasureUnit(0), "dBuV");
  EXPECT_EQ(MeasureUnit(13), "RPM");
  EXPECT_EQ(MeasureUnit(-1), "????");
  EXPECT_EQ(MeasureUnit(15), "????");
}

// Callers copy a value text into fixed slots: it is cut to fit, and compares by its characters.
TEST(ValueTextTest, CutToCapacityAndComparedByText) {
  const ValueText text(std::string(30, 'x'));
  EXPECT_EQ(text.view(), std::string(ValueText::kCapacity - 1, 'x'));
  EXPECT_EQ(std::string(text.c_str()), text.view());
  EXPECT_TRUE(ValueText("UNKNOWN") == "UNKNOWN");
  EXPECT_FALSE(ValueText("UNKNOWN") == "UNKNOWX");
}

}  // namespace
}  // namespace brelin::report
