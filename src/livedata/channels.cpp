#include "livedata/channels.h"

namespace kline {

namespace {
constexpr const char* kDegree = "\xC2\xB0";
}

const std::array<LiveChannel, kLiveChannelCount>& LiveChannels() {
  static const std::array<LiveChannel, kLiveChannelCount> table = {{
      {"rpm", "tr/m"},
      {"inj duration", "ms"},
      {"ign advance", kDegree},
      {"manifold pressure", "mBar"},
      {"air temp", kDegree},
      {"water temp", kDegree},
      {"throttle", kDegree},
      {"battery", "V"},
      {"trimmer value", ""},
      {"throttle voltage", "V"},
  }};
  return table;
}

std::string ChannelTitle(const std::string& name, const std::string& unit) {
  return unit.empty() ? name : name + " [" + unit + "]";
}

std::string RecordingHeader() {
  std::string h = "time_ms,time";
  for (const LiveChannel& c : LiveChannels()) h += "," + ChannelTitle(c.name, c.unit);
  return h;
}

}  // namespace kline
