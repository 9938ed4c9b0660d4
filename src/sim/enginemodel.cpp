#include "sim/enginemodel.h"

#include <algorithm>
#include <cmath>

#include "livedata/conversions.h"

namespace kline {

namespace {

constexpr double kPi = 3.14159265358979323846;

uint8_t clampByte(double v) {
  return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// How far the throttle is open, 0..1: a blip every 7 s, opening in 0.4 s, closing over 1.2 s.
double blip(double ms) {
  double t = std::fmod(ms, 7000.0) - 4000.0;
  if (t < 0) return 0;
  if (t < 400) return t / 400.0;
  if (t < 1600) return 1.0 - (t - 400) / 1200.0;
  return 0;
}

}  // namespace

EngineModel::State EngineModel::At(double ms) {
  State s{};
  double open = blip(ms);
  double lag = blip(ms - 250);  // the engine follows the throttle a little late
  s.throttleDeg = 0.6 + 34.0 * open;
  s.rpm = 1100 + 25 * std::sin(ms / 900.0 * 2 * kPi) + 3400 * lag;
  s.injectionMs = 2.4 + 3.2 * open + 0.4 * lag;
  s.advanceDeg = 10 + 16 * lag;
  s.pressureMbar = 340 + 600 * open;
  s.airC = 24 + 0.5 * std::sin(ms / 60000.0);
  s.waterC = 90 - 70 * std::exp(-ms / 240000.0);
  s.batteryV = 13.8 + 0.1 * std::sin(ms / 3100.0 * 2 * kPi) - 0.2 * lag;
  s.trim = 0;
  return s;
}

std::optional<uint8_t> EngineModel::answer(uint8_t code, double ms) {
  State s = At(ms);
  const bool p8 = type_ == EcuType::P8;
  auto temperature = [&](double c) -> uint8_t {
    if (!p8) return clampByte(c + 55);
    // The P8 sends the byte whose table entry is nearest.
    static const TempTable tab = BuildTempTab();
    int best = 0;
    for (int i = 0; i <= 240; ++i)
      if (std::fabs(*tab[static_cast<std::size_t>(i)] - c) <
          std::fabs(*tab[static_cast<std::size_t>(best)] - c))
        best = i;
    return static_cast<uint8_t>(best);
  };
  auto throttle = [&](double deg) -> uint8_t {
    return deg <= 170 * 0.1848 - 1.41 ? clampByte((deg + 1.41) / 0.1848)
                                      : clampByte((deg + 90) / 0.7058);
  };
  switch (code) {
    case 0x01:
      rpmPeriod_ =
          static_cast<uint16_t>(std::clamp((p8 ? 30000000.0 : 15000000.0) / s.rpm, 1.0, 65535.0));
      return static_cast<uint8_t>(rpmPeriod_ >> 8);
    case 0x02:
      return static_cast<uint8_t>(rpmPeriod_ & 0xFF);
    case 0x03:
      injection_ = static_cast<uint16_t>(std::lround(s.injectionMs * 500));
      return static_cast<uint8_t>(injection_ >> 8);
    case 0x04:
      return static_cast<uint8_t>(injection_ & 0xFF);
    case 0x05:
      return clampByte(s.advanceDeg * 2);
    case 0x06:
      return clampByte((s.pressureMbar / 1.33322 - 91) / 2.8758);
    case 0x07:
      return temperature(s.airC);
    case 0x08:
      return temperature(s.waterC);
    case 0x09:
      // The 15Rc sends its sensor's voltage, 0.45 V closed, 0.06 V per degree.
      if (type_ == EcuType::E15Rc) return clampByte((0.45 + 0.06 * s.throttleDeg) / 0.0194);
      return throttle(s.throttleDeg);
    case 0x3A: {
      // The 15Rc's second throttle byte: chosen so that its angle formula gives the angle.
      double b09 = clampByte((0.45 + 0.06 * s.throttleDeg) / 0.0194);
      return clampByte(b09 * 1.42 - 16.3 - s.throttleDeg);
    }
    case 0x0A:
      return clampByte(s.batteryV / 0.0625);
    case 0x0B:
    case 0x0F:
      return clampByte(s.trim + 128);
    default:
      return std::nullopt;
  }
}

}  // namespace kline
