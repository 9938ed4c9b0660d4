#pragma once

#include <ctime>

namespace kline {

// How far the local time is ahead of UTC at `when`, in minutes (summer time included).
int UtcOffsetMinutes(std::time_t when);

}  // namespace kline
