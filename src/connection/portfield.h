#pragma once

#include <string>

namespace kline {

// What the port field holds: the simulated ECU ("sim"), a device name or path ("COM7",
// "/dev/ttyUSB0", "ttyUSB0"), or else a port number read by the leading-number parse.
struct PortField {
  enum class Kind { Sim, Device, Number };
  Kind kind = Kind::Number;
  std::string device;  // Sim: "sim"; Device: the name as typed, trimmed
  int number = 0;      // Number: 16-bit port number (out of range reads as 0)

  // The text the port object is opened with and the settings file stores.
  std::string text() const;
};

PortField ParsePortField(const std::string& field);

}  // namespace kline
