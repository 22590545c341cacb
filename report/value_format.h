#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brelin::report {

// Values of the report options.
inline constexpr int kMetric = 2;
inline constexpr int kImperial = 3;
inline constexpr int kRelative = 0;
inline constexpr int kAbsolute = 1;
inline constexpr int kAscii = 4;
inline constexpr int kCsv = 5;

// How the report's text is stored. Latin-1 with CR LF is the report as spreadsheets have always
// read it; UTF-8 and LF suit grep, Python and the other tools of a Linux system.
enum class TextEncoding { kLatin1, kUtf8 };
enum class LineEnd { kCrLf, kLf };

// The operator's three report choices, and the text form the command line may choose.
struct ReportOptions {
  int unitSystem = kMetric;          // kMetric or kImperial
  int temperatureScale = kRelative;  // kRelative or kAbsolute
  int reportFormat = kAscii;         // kAscii or kCsv
  TextEncoding encoding = TextEncoding::kLatin1;
  LineEnd lineEnd = LineEnd::kCrLf;
};

// A value text: number, tab and unit (the degree sign is the byte 0xB0), or "UNKNOWN".
// At most 13 characters for any argument, at most 12 for a 16-bit raw value.
class ValueText {
 public:
  static constexpr std::size_t kCapacity = 24;

  ValueText() = default;
  explicit ValueText(std::string_view text);

  std::string_view view() const { return {text_, size_}; }
  const char* c_str() const { return text_; }
  bool operator==(std::string_view other) const { return view() == other; }

 private:
  char text_[kCapacity] = {};
  std::size_t size_ = 0;
};

// The value text of a measurement of `sensorType` (low 8 bits count) with raw value `raw`, in the
// units the options select.
ValueText FormatValue(const ReportOptions& options, int sensorType, std::uint32_t raw);

// A Celsius value converted to the chosen unit system and scale, and the index of its unit in the
// unit table (see MeasureUnit).
struct Temperature {
  double value;
  int unitIndex;
};
Temperature ConvertTemperature(int unitSystem, int temperatureScale, float celsius);

// Entry `index` (0 to 14) of the unit table of the dBuV, mass-flow, temperature and dBa groups.
std::string_view MeasureUnit(int index);

// The display name of a sensor type (low 8 bits count), with its padding.
std::string_view SensorTypeName(int sensorType);

}  // namespace brelin::report
