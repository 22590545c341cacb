#include "report/value_format.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace brelin::report {
namespace {

enum class Group { kUndecoded, kDbuv, kMassFlow, kTemperature, kDba, kRpm };

struct SensorInfo {
  std::string_view name;
  Group group;
};

constexpr std::string_view kUnknownSensor = "Unknown sensor     ";
constexpr std::string_view kParabolic = "Parabolic Sensor   ";
constexpr std::string_view kClosed = "Closed Sensor      ";
constexpr std::string_view kOpen = "Open Sensor        ";
constexpr std::string_view kContact = "Contact Sensor     ";
constexpr std::string_view kRpmSensor = "RPM Sensor         ";

constexpr SensorInfo kSensors[] = {
    {"Internal Sensor    ", Group::kDbuv},           // 0
    {kUnknownSensor, Group::kUndecoded},             // 1
    {kUnknownSensor, Group::kUndecoded},             // 2
    {kUnknownSensor, Group::kUndecoded},             // 3
    {kUnknownSensor, Group::kUndecoded},             // 4
    {kParabolic, Group::kDbuv},                      // 5
    {kClosed, Group::kDbuv},                         // 6
    {kClosed, Group::kDbuv},                         // 7
    {kOpen, Group::kDbuv},                           // 8
    {kOpen, Group::kDbuv},                           // 9
    {"External Ultrasonic", Group::kDbuv},           // 10
    {kUnknownSensor, Group::kUndecoded},             // 11
    {kUnknownSensor, Group::kUndecoded},             // 12
    {kUnknownSensor, Group::kUndecoded},             // 13
    {kUnknownSensor, Group::kUndecoded},             // 14
    {kUnknownSensor, Group::kUndecoded},             // 15
    {kUnknownSensor, Group::kUndecoded},             // 16
    {"Mass Flow Sensor   ", Group::kMassFlow},       // 17
    {kContact, Group::kDbuv},                        // 18
    {"Temperature Sensor ", Group::kTemperature},    // 19
    {"dBa Sensor         ", Group::kDba},            // 20
    {kRpmSensor, Group::kRpm},                       // 21
    {kContact, Group::kDbuv},                        // 22
    {"IR Temperature Sensor", Group::kTemperature},  // 23
    {kUnknownSensor, Group::kUndecoded},             // 24
    {kUnknownSensor, Group::kUndecoded},             // 25
    {kContact, Group::kDbuv},                        // 26
    {kRpmSensor, Group::kRpm},                       // 27
    {kUnknownSensor, Group::kUndecoded},             // 28
    {kUnknownSensor, Group::kUndecoded},             // 29
    {kUnknownSensor, Group::kUndecoded},             // 30
    {kRpmSensor, Group::kRpm},                       // 31
    {kOpen, Group::kDbuv},                           // 32
    {kOpen, Group::kDbuv},                           // 33
    {"Tanktest           ", Group::kDbuv},           // 34
    {kParabolic, Group::kDbuv},                      // 35
    {kParabolic, Group::kDbuv},                      // 36
    {kParabolic, Group::kDbuv},                      // 37
};

const SensorInfo& Sensor(int sensorType) {
  static constexpr SensorInfo kUnknown{kUnknownSensor, Group::kUndecoded};
  const auto code = static_cast<std::uint8_t>(sensorType);
  return code < std::size(kSensors) ? kSensors[code] : kUnknown;
}

constexpr std::string_view kMeasureUnits[] = {
    "dBuV",
    "dBuV",
    "dBA",
    "dBA",
    "lux ",
    "FtCn",
    "\xB0"
    "C",
    "\xB0"
    "F",
    "\xB0"
    "K",
    "\xB0"
    "R",
    "SCCM",
    "SCFM",
    "RPM",
    "RPM",
    "????",
};
constexpr int kDbuvUnit = 0;
constexpr int kDbaUnit = 2;
constexpr int kCelsiusUnit = 6;
constexpr int kFahrenheitUnit = 7;
constexpr int kKelvinUnit = 8;
constexpr int kRankineUnit = 9;
constexpr int kUnknownUnit = 14;
constexpr int kMassFlowUnit = 10;

// Unit and divisor of the RPM group by the unit code in the raw value's top four bits. Codes 13 to
// 15 have no divisor and give "UNKNOWN".
constexpr std::string_view kRpmUnits[] = {"RPM",  "MT/M", "FT/M", "YD/M", "RPS", "MT/S", "FT/S",
                                          "YD/S", "CNT",  "MT",   "FT",   "YD",  "INT"};
constexpr float kRpmDivisors[] = {1000, 1000, 1000, 1000, 1000, 1000, 1000,
                                  1000, 1,    10,   10,   10,   1000};
constexpr unsigned kRpmCount = 8;

constexpr std::string_view kUnknownValue = "UNKNOWN";
constexpr double kMilliScfmPerSccm = 0.03531467494254303;

// "<number>\t<prefix><unit>" exactly as printf's "%<width>.<precision>f\t%s" in the C locale;
// to_chars never looks at the user's locale.
ValueText Compose(double number, int width, int precision, std::string_view unit,
                  std::string_view prefix = {}) {
  char digits[ValueText::kCapacity];
  const auto [end, ec] =
      std::to_chars(digits, digits + sizeof digits, number, std::chars_format::fixed, precision);
  if (ec != std::errc{}) return ValueText("????");
  const std::string_view number_text(digits, static_cast<std::size_t>(end - digits));

  char text[ValueText::kCapacity * 2];
  std::size_t size = 0;
  for (auto pad = static_cast<std::size_t>(width); pad > number_text.size(); --pad)
    text[size++] = ' ';
  for (std::string_view part : {number_text, std::string_view("\t"), prefix, unit}) {
    if (part.empty()) continue;  // an empty view may have no data pointer
    std::memcpy(text + size, part.data(), part.size());
    size += part.size();
  }
  return ValueText(std::string_view(text, size));
}

ValueText FormatRpm(std::uint32_t raw) {
  const std::uint32_t u = raw >> 28;
  if (u >= std::size(kRpmDivisors)) return ValueText(kUnknownValue);
  const std::uint32_t n = raw & 0x0FFFFFFF;
  const float q = static_cast<float>(static_cast<double>(n) / kRpmDivisors[u]);
  int precision = 0;
  if (u == kRpmCount) {
    precision = 0;
  } else if (u >= 9 && u <= 11) {
    precision = q <= 9999.9 ? 1 : 0;
  } else if (q < 1) {
    precision = 4;
  } else if (q < 10) {
    precision = 3;
  } else if (q < 100) {
    precision = 2;
  } else if (q < 1000) {
    precision = 1;
  }
  return Compose(q, 6, precision, kRpmUnits[u]);
}

}  // namespace

ValueText::ValueText(std::string_view text) : size_(std::min(text.size(), kCapacity - 1)) {
  std::memcpy(text_, text.data(), size_);
  text_[size_] = '\0';
}

Temperature ConvertTemperature(int unitSystem, int temperatureScale, float celsius) {
  const double c = celsius;
  if (unitSystem == kMetric) {
    return temperatureScale == kAbsolute ? Temperature{c + 273.15, kKelvinUnit}
                                         : Temperature{c, kCelsiusUnit};
  }
  return temperatureScale == kAbsolute ? Temperature{(c + 273.15) * 1.8, kRankineUnit}
                                       : Temperature{c * 1.8 + 32, kFahrenheitUnit};
}

std::string_view MeasureUnit(int index) {
  return index >= 0 && index < static_cast<int>(std::size(kMeasureUnits))
             ? kMeasureUnits[index]
             : kMeasureUnits[kUnknownUnit];
}

std::string_view SensorTypeName(int sensorType) {
  return Sensor(sensorType).name;
}

ValueText FormatValue(const ReportOptions& options, int sensorType, std::uint32_t raw) {
  const bool metric = options.unitSystem == kMetric;
  const int x = static_cast<int>(raw & 0x7FF);

  switch (Sensor(sensorType).group) {
    case Group::kDbuv:
      return Compose((x - 500) * 0.1, 6, 1, kMeasureUnits[kDbuvUnit + (metric ? 0 : 1)]);

    case Group::kMassFlow: {
      double m = x;
      if (raw & 0x1000) m *= 0.1;
      if (raw & 0x800) m = -m;
      const std::string_view unit = kMeasureUnits[kMassFlowUnit + (metric ? 0 : 1)];
      if (metric) return Compose(m, 5, (raw & 0x1000) ? 1 : 0, unit);
      return Compose(m * kMilliScfmPerSccm, 3, 2, unit, "m");
    }

    case Group::kTemperature: {
      float c = static_cast<float>((raw & 0x3FFF) * 0.1);
      if (raw & 0x4000) c = -c;
      const Temperature t = ConvertTemperature(options.unitSystem, options.temperatureScale, c);
      return Compose(t.value, 6, 1, kMeasureUnits[t.unitIndex]);
    }

    case Group::kDba:
      return Compose(x * 0.1, 5, 1, kMeasureUnits[kDbaUnit + (metric ? 0 : 1)]);

    case Group::kRpm:
      return FormatRpm(raw);

    case Group::kUndecoded:
      break;
  }
  return ValueText(kUnknownValue);
}

}  // namespace brelin::report
