#pragma once

#include <string>

#include "session/supportbundle.h"

namespace kline {

// A support bundle's parts about this machine, as both programs gather them: `program`'s version
// and build with the system, the serial ports the system sees, and the last adapter check. Any
// thread; the time it was made (`created`) is the caller's, where the time zone is read.
void AddMachineParts(const std::string& program, SupportBundleParts& parts);

}  // namespace kline
