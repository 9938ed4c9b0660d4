#pragma once

#include <string>
#include <vector>

#include "platform/portlist.h"

namespace kline {

// The ports as JSON (an array, indented by 2), as `klinediag-cli ports --json` prints them and
// the support bundle keeps them.
std::string PortsJson(const std::vector<PortRecord>& ports);

}  // namespace kline
