#pragma once

#include <array>
#include <optional>
#include <string>

namespace kline {

// The conversions of the live channels, byte(s) to the text of the value field. The callers
// decide, per ECU type, when a field is written at all.

// Engine speed: constant / (256 hi + lo) truncated, in plain form; the constant is 15000000 for
// 15m, 15Rc and 16m and 30000000 for P8. nullopt for a period of 0 (both bytes 0x00), which
// has no speed.
std::optional<std::string> RpmText(int hi, int lo, double constant);
std::string InjectionText(int hi, int lo);  // ms
std::string AdvanceText(int b);             // degrees
std::string PressureText(int b);            // mBar
std::string TemperatureText(int b);         // degrees, b - 55
std::string BatteryText(int b);             // V
std::string TrimmerText(int b);             // b - 128
// A trimmer byte written to the ECU as the live channel reads it, with the byte:
// "12 (byte 140)"; "unknown" for a negative byte.
std::string TrimmerSetText(int byte);
// Throttle angle, scale "1": two straight lines meeting at byte 170.
std::string ThrottleAngleText(int b);
// Throttle, scale "2".
std::string ThrottleScale2Text(int b);
// 15Rc: the throttle sensor's voltage and the angle from both throttle bytes.
std::string ThrottleVoltageText(int b09);
std::string Throttle15RcText(int b09, int b3A);

// The P8 temperature table, bytes 0 to 256; no value for 241 to 256.
using TempTable = std::array<std::optional<double>, 257>;
TempTable BuildTempTab();
// A table entry as the field shows it ("##.##"), empty for no value.
std::string TempTabText(const std::optional<double>& entry);

// The rpm bar: the number of lit segments for an rpm text (its value / 100, halves to even,
// clamped to 0..120).
int RpmSegments(const std::string& rpmText);

}  // namespace kline
