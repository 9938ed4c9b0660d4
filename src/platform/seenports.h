#pragma once

#include <optional>
#include <string>
#include <vector>

#include "connection/connectchecklist.h"
#include "ui/sessionevents.h"

namespace kline {

// The serial ports the system sees now, as the connection checklist lists them (the simulated
// ECU left out), in PortList's order.
std::vector<SeenPort> SeenPorts();

// The checklist for a Connect that heard nothing (`c`: its port and ECU type), with the ports
// the system sees now. How the user runs the adapter check from where they are: `simHint` for
// the simulated ECU, `deviceHint` for a serial device; while it listens for the ECU, in its
// words (`listening`). None for an unknown ECU type.
std::optional<ConnectChecklist> NoAnswerChecklist(
    const ev::Connecting& c, const std::string& simHint, const std::string& deviceHint,
    const std::string& listening = ChecklistContext().listening);

}  // namespace kline
