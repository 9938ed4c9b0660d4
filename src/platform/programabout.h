#pragma once

#include <string>

namespace kline {

// What the program is and runs on, one fact a line: version, build type, compiler, system
// (kernel, name and version), Qt the program was built with and runs on.
std::string ProgramAbout(const std::string& program);

// Now, local time, ISO 8601 with the offset.
std::string LocalTimeText();

}  // namespace kline
