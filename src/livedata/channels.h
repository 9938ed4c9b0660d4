#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace kline {

// One live channel as every feature names it: the main window's caption (also the recording's
// and the chart's name) and its unit as the window shows it.
struct LiveChannel {
  const char* name;
  const char* unit;  // empty when the channel has none
};

// The nine channels of the main window's fields Text1(0..8), then the 15Rc throttle voltage
// (Text1(9)).
constexpr std::size_t kLiveChannelCount = 10;
const std::array<LiveChannel, kLiveChannelCount>& LiveChannels();

// "rpm [tr/m]", or the bare name of a channel without a unit.
std::string ChannelTitle(const std::string& name, const std::string& unit);

// The header of a recording and of `live --format csv`: `time_ms,time,NAME [UNIT],...`.
std::string RecordingHeader();

}  // namespace kline
