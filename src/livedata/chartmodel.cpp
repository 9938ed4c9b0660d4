#include "livedata/chartmodel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "livedata/channels.h"
#include "livedata/numbers.h"
#include "livedata/recording.h"

namespace kline {

namespace {
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
}

const std::vector<ChartModel::Channel>& ChartModel::LiveChannels() {
  static const std::vector<Channel> channels = [] {
    std::vector<Channel> out;
    for (std::size_t i = 0; i < kLiveChannels; ++i)
      out.push_back({kline::LiveChannels()[i].name, kline::LiveChannels()[i].unit});
    return out;
  }();
  return channels;
}

float ChartModel::ParseValue(const std::string& text) {
  const std::optional<double> v = FieldValue(text);
  return v ? static_cast<float>(*v) : kNaN;
}

ChartModel::ChartModel(std::vector<Channel> channels)
    : channels_(std::move(channels)),
      points_(channels_.size()),
      hasValue_(channels_.size(), false) {}

void ChartModel::append(uint32_t timeMs, std::span<const std::string> texts) {
  std::vector<float> values(channels_.size(), kNaN);
  for (std::size_t i = 0; i < values.size() && i < texts.size(); ++i)
    values[i] = ParseValue(texts[i]);
  appendValues(timeMs, values);
}

void ChartModel::appendValues(uint32_t timeMs, std::span<const float> values) {
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const float v = i < values.size() ? values[i] : kNaN;
    points_[i].push_back({timeMs, v});
    if (!std::isnan(v)) hasValue_[i] = true;
  }
}

void ChartModel::appendGap() {
  if (empty()) return;
  // A row of no values breaks every curve already.
  bool broken = true;
  for (const auto& p : points_) broken = broken && std::isnan(p.back().value);
  if (broken) return;
  const std::vector<float> none(channels_.size(), kNaN);
  appendValues(lastTime() + 1, none);
}

ChartModel ChartModel::FromRecording(const Recording& r) {
  const std::size_t shown = std::min(r.channels.size(), kMaxRecordingChannels);
  std::vector<Channel> channels;
  for (std::size_t c = 0; c < shown; ++c)
    channels.push_back({r.channels[c].name, r.channels[c].unit});
  ChartModel model(std::move(channels));
  model.leftOut_ = r.channels.size() - shown;
  // The usual cycle period: the median step between rows.
  std::vector<uint32_t> steps;
  for (std::size_t i = 1; i < r.timesMs.size(); ++i)
    if (r.timesMs[i] > r.timesMs[i - 1]) steps.push_back(r.timesMs[i] - r.timesMs[i - 1]);
  uint32_t period = 0;
  if (!steps.empty()) {
    std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2),
                     steps.end());
    period = steps[steps.size() / 2];
  }
  std::vector<float> row(shown);
  for (std::size_t i = 0; i < r.timesMs.size(); ++i) {
    if (i > 0 && period > 0 && r.timesMs[i] > r.timesMs[i - 1] &&
        r.timesMs[i] - r.timesMs[i - 1] > 3 * period)
      model.appendGap();
    for (std::size_t c = 0; c < shown; ++c)
      row[c] = i < r.channels[c].values.size() ? r.channels[c].values[i] : kNaN;
    model.appendValues(r.timesMs[i], row);
  }
  return model;
}

void ChartModel::clear() {
  for (auto& p : points_) p.clear();
  std::fill(hasValue_.begin(), hasValue_.end(), false);
}

float ChartModel::valueAt(std::size_t ch, uint32_t timeMs) const {
  const auto& p = points_[ch];
  auto it = std::upper_bound(p.begin(), p.end(), timeMs,
                             [](uint32_t t, const Point& q) { return t < q.timeMs; });
  return it == p.begin() ? kNaN : std::prev(it)->value;
}

std::vector<ChartModel::Column> ChartModel::decimate(std::size_t ch, uint32_t t0, uint32_t t1,
                                                     int columns) const {
  std::vector<Column> out(static_cast<std::size_t>(std::max(columns, 0)));
  if (out.empty() || t1 <= t0) return out;
  const auto& p = points_[ch];
  auto first = std::lower_bound(p.begin(), p.end(), t0,
                                [](const Point& q, uint32_t t) { return q.timeMs < t; });
  const uint64_t span = uint64_t{t1} - t0 + 1;
  for (auto it = first; it != p.end() && it->timeMs <= t1; ++it) {
    Column& c = out[static_cast<std::size_t>((uint64_t{it->timeMs} - t0) * out.size() / span)];
    if (std::isnan(it->value)) {
      (c.hasValue() ? c.gapAfter : c.gapBefore) = true;
    } else if (!c.hasValue()) {
      c.min = c.max = it->value;
    } else {
      c.min = std::min(c.min, it->value);
      c.max = std::max(c.max, it->value);
    }
  }
  return out;
}

}  // namespace kline
