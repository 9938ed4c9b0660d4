#pragma once

#include <functional>
#include <optional>
#include <string>

#include "host/host.h"
#include "serial/serialport.h"
#include "ui/sessionevents.h"

namespace kline {

// Writes one line to the log pane of the window that runs a readout.
using LogLine = std::function<void(const std::string& line)>;

// The main window's fault readout: asks 0F, 10 and 11 with 50 ms after each answer, logs the
// decoded lines and returns them with the bytes. Nothing (and no line) when one of the three
// goes unanswered, even after answers already read. The port must be open.
std::optional<Readout> ReadFaults(SerialPort& port, Host& host, const LogLine& log);

// The main window's immobiliser state bytes, 71 and 72: logs the texts of the set bits and
// returns them. Nothing when the ECU is silent; a readout without lines when the echo is wrong.
// The port must be open.
std::optional<Readout> ReadImmobiliserStatus(SerialPort& port, Host& host, const LogLine& log);
std::optional<Readout> ReadImmobiliserStatus2(SerialPort& port, Host& host, const LogLine& log);

}  // namespace kline
