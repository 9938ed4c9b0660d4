#pragma once

#include <cstdint>
#include <string>

namespace kline {

// Why a --port text is refused (empty when it is fine): a port is a number from 1 to 32767, a
// device name or path, or sim.
std::string CheckPortArgument(const std::string& text);

// Why a --duration text is refused (empty when it is fine): whole ms from 0 to a week.
std::string CheckDurationArgument(const std::string& text);

// Why a whole-number option's text is refused (empty when it is fine): one that is no number is
// said to be none, one out of range says the range.
std::string CheckWholeNumber(const std::string& text, uint64_t lo, uint64_t hi);

}  // namespace kline
