#include "sim/statusregisters.h"

namespace kline {

std::optional<uint8_t> StatusAnswer(EcuType /*type*/, uint8_t /*code*/) { return std::nullopt; }

}  // namespace kline
