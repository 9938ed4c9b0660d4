#pragma once

#include <cstdint>
#include <optional>

#include "sim/simconfig.h"

namespace kline {

// The running engine behind the simulated ECU: idle around 1100 tr/m with a blip of the throttle
// every few seconds, an engine warming up, a battery near 13.8 V. Answers are a pure function of
// the time since power-up, so every run is the same. The two bytes of engine speed and injection
// time come from one sample: the first request latches the value the second one reads.
class EngineModel {
 public:
  explicit EngineModel(EcuType type) : type_(type) {}

  // The answer to a live channel code at `ms` since power-up; nullopt for other codes.
  std::optional<uint8_t> answer(uint8_t code, double ms);

  // The physical values at a moment, for tests and the curious.
  struct State {
    double rpm, throttleDeg, injectionMs, advanceDeg, pressureMbar, airC, waterC, batteryV, trim;
  };
  static State At(double ms);

 private:
  EcuType type_;
  uint16_t rpmPeriod_ = 0;
  uint16_t injection_ = 0;
};

}  // namespace kline
