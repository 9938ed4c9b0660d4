#pragma once

#include <vector>

#include "connection/connectchecklist.h"

namespace kline {

// The serial ports the system sees now, as the connection checklist lists them (the simulated
// ECU left out), in PortList's order.
std::vector<SeenPort> SeenPorts();

}  // namespace kline
