#include "livedata/conversions.h"

#include <cmath>

#include "livedata/numbers.h"

namespace kline {

std::optional<std::string> RpmText(int hi, int lo, double constant) {
  int period = 256 * hi + lo;
  if (period == 0) return std::nullopt;
  return PlainForm(std::trunc(constant / period));
}

std::string InjectionText(int hi, int lo) {
  return PlainForm((2.0 * (256 * hi + lo)) / 1000.0);
}
std::string AdvanceText(int b) {
  return PlainForm(b / 2.0);
}
std::string PressureText(int b) {
  return PlainForm(std::trunc((b * 2.8758 + 91) * 1.33322));
}
std::string TemperatureText(int b) {
  return PlainForm(b - 55.0);
}
std::string BatteryText(int b) {
  return PlainForm(b * 0.0625);
}
std::string TrimmerText(int b) {
  return PlainForm(b - 128.0);
}

std::string TrimmerSetText(int byte) {
  return byte < 0 ? std::string("unknown")
                  : TrimmerText(byte) + " (byte " + std::to_string(byte) + ")";
}

std::string ThrottleAngleText(int b) {
  return FormatNumber(b <= 170 ? b * 0.1848 - 1.41 : b * 0.7058 - 90, "##.##");
}

std::string ThrottleScale2Text(int b) {
  return FormatNumber(b * 0.4234 - 2.9638, "##.##");
}

std::string ThrottleVoltageText(int b09) {
  return FormatNumber(b09 * 0.0194 + 0.0023, "0.00");
}

std::string Throttle15RcText(int b09, int b3A) {
  return FormatNumber(b09 * 0.42 + b09 - b3A - 16.3, "0.#");
}

TempTable BuildTempTab() {
  TempTable t;
  struct Step {
    int last;
    double minus;
  } steps[] = {{48, 2.9},    {64, 1.2125},   {80, 0.73125},  {96, 0.6},
               {112, 0.525}, {128, 0.46875}, {144, 0.5},     {160, 0.4875},
               {176, 0.5},   {192, 0.625},   {208, 1.05625}, {224, 1.64375}};
  int i = 0;
  for (; i <= 32; ++i) t[static_cast<std::size_t>(i)] = 125.0;
  for (const auto& s : steps)
    for (; i <= s.last; ++i)
      t[static_cast<std::size_t>(i)] = *t[static_cast<std::size_t>(i - 1)] - s.minus;
  for (; i <= 240; ++i) t[static_cast<std::size_t>(i)] = -55.0;
  return t;
}

std::string TempTabText(const std::optional<double>& entry) {
  return entry ? FormatNumber(*entry, "##.##") : std::string();
}

int RpmSegments(const std::string& rpmText) {
  int64_t k = RoundHalfEven(Val(rpmText) / 100.0);
  if (k < 0) return 0;
  return k > 120 ? 120 : static_cast<int>(k);
}

}  // namespace kline
