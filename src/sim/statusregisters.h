#pragma once

#include <cstdint>
#include <optional>

#include "sim/simconfig.h"

namespace kline {

// The simulated ECU's status and fault bytes (fault memory, immobiliser, state), by request
// code; nullopt for codes that are not status registers.
std::optional<uint8_t> StatusAnswer(EcuType type, uint8_t code);

}  // namespace kline
