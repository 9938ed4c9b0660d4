#include "sim/statusregisters.h"

namespace kline {

// A bike with a few stored faults, so every readout has something to show: 0x0F is the trimmer
// channel (answered by the engine model) and 0x17 to 0x20 the identification record, which take
// precedence over these.
std::optional<uint8_t> StatusAnswer(EcuType /*type*/, uint8_t code) {
  switch (code) {
    case 0x10:
      return 0x08;  // second fault byte: EEprom
    case 0x11:
      return 0x41;  // kinds: air temperature and pressure sensors shorted
    case 0x15:
      return 0x62;  // state: no knock retard, signal panel OK, drive position
    case 0x16:
      return 0x01;  // stored first fault byte: throttle valve position sensor
    case 0x71:
      return 0x01;  // immobiliser: no code received
    case 0x72:
      return 0x02;  // immobiliser: code not recognised
    default:
      return std::nullopt;
  }
}

}  // namespace kline
