#include "livedata/channelstats.h"

#include <algorithm>
#include <cstdio>

#include "livedata/channels.h"
#include "serial/text.h"

namespace kline {

namespace {

// The decimals a value field shows and its decimal mark, for writing the mean alike.
int DecimalsShown(const std::string& text, char& point) {
  const std::size_t p = text.find_first_of(".,");
  if (p == std::string::npos) return 0;
  point = text[p];
  int n = 0;
  for (std::size_t i = p + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ++n;
  return n;
}

// The mean as a value field would write it: `decimals` decimals and the field's decimal mark; a
// mean that rounds to zero shows no sign.
std::string MeanText(double mean, int decimals, char point) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, mean);
  std::string text = buf;
  if (text.find_first_not_of("-0.") == std::string::npos && text[0] == '-') text.erase(0, 1);
  if (point != '.')
    for (char& ch : text)
      if (ch == '.') ch = point;
  return text;
}

}  // namespace

ChannelSummary MergeSummaries(const ChannelSummary& earlier, const ChannelSummary& later) {
  if (later.count == 0) return earlier;
  if (earlier.count == 0) return later;
  ChannelSummary out = earlier;
  out.count = earlier.count + later.count;
  if (later.min < earlier.min) {
    out.min = later.min;
    out.minText = later.minText;
  }
  if (later.max > earlier.max) {
    out.max = later.max;
    out.maxText = later.maxText;
  }
  out.mean = (earlier.mean * static_cast<double>(earlier.count) +
              later.mean * static_cast<double>(later.count)) /
             static_cast<double>(out.count);
  char point = '.', laterPoint = '.';
  const int decimals = DecimalsShown(earlier.meanText, point);
  const int laterDecimals = DecimalsShown(later.meanText, laterPoint);
  if (laterDecimals > 0) point = laterPoint;
  out.meanText = MeanText(out.mean, std::max(decimals, laterDecimals), point);
  return out;
}

std::vector<ChannelSummary> MergeSummaries(const std::vector<ChannelSummary>& earlier,
                                           const std::vector<ChannelSummary>& later) {
  std::vector<ChannelSummary> out = earlier;
  for (const ChannelSummary& l : later) {
    auto it = std::find_if(out.begin(), out.end(),
                           [&](const ChannelSummary& e) { return e.index == l.index; });
    if (it == out.end())
      out.push_back(l);
    else
      *it = MergeSummaries(*it, l);
  }
  std::sort(out.begin(), out.end(),
            [](const ChannelSummary& a, const ChannelSummary& b) { return a.index < b.index; });
  return out;
}

ChannelStats::ChannelStats(std::size_t channels) : channels_(channels) {
  for (std::size_t i = 0; i < channels; ++i) {
    ChannelSummary& f = channels_[i].figures;
    f.index = static_cast<int>(i);
    if (i < kLiveChannelCount) {
      f.name = LiveChannels()[i].name;
      f.unit = LiveChannels()[i].unit;
    }
  }
}

void ChannelStats::add(std::size_t channel, std::optional<double> value, const std::string& text) {
  if (channel >= channels_.size() || !value) return;
  Channel& c = channels_[channel];
  ChannelSummary& f = c.figures;
  const double v = *value;
  char point = c.point;
  const int decimals = DecimalsShown(text, point);
  if (f.count == 0 || v < f.min) {
    f.min = v;
    f.minText = Trim(text);
  }
  if (f.count == 0 || v > f.max) {
    f.max = v;
    f.maxText = Trim(text);
  }
  c.sum += v;
  ++f.count;
  if (decimals > c.decimals) c.decimals = decimals;
  if (decimals > 0) c.point = point;
}

void ChannelStats::add(const ev::LiveCycle& cycle) {
  if (!cycle.completed) return;
  for (std::size_t i = 0; i < channels_.size() && i < cycle.channels.size(); ++i) {
    const ev::ChannelReading& r = cycle.channels[i];
    if (r.ticked) add(i, r.value, r.text);
  }
}

bool ChannelStats::empty() const {
  for (const Channel& c : channels_)
    if (c.figures.count > 0) return false;
  return true;
}

ChannelSummary ChannelStats::summary(std::size_t channel) const {
  const Channel& c = channels_.at(channel);
  ChannelSummary s = c.figures;
  if (s.count == 0) return s;
  s.mean = c.sum / static_cast<double>(s.count);
  s.meanText = MeanText(s.mean, c.decimals, c.point);
  return s;
}

std::vector<ChannelSummary> ChannelStats::summaries() const {
  std::vector<ChannelSummary> out;
  for (std::size_t i = 0; i < channels_.size(); ++i)
    if (channels_[i].figures.count > 0) out.push_back(summary(i));
  return out;
}

}  // namespace kline
