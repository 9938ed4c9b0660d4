#pragma once

#include <string>

namespace kline::fuzz {

// True when `line`, logged in window `win`, is one of the system's log texts or one of its
// formatted forms.
bool KnownLogLine(const std::string& win, const std::string& line);

}  // namespace kline::fuzz
