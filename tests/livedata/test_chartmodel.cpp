// The live chart's history: a point per completed cycle and channel, gaps for texts that are not
// numbers, nothing dropped, and a decimation that keeps every pixel column's extremes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "livedata/channels.h"
#include "livedata/chartmodel.h"
#include "livedata/numbers.h"
#include "livedata/recording.h"

using namespace kline;

namespace {
std::array<std::string, 9> Texts(const std::string& rpm, const std::string& battery) {
  return {rpm, "3.46", "12.5", "1013", "21", "85", ".", battery, "-2"};
}
}  // namespace

TEST(ChartModel, ReadsTheWindowsNumbersAndKeepsNonNumbersAsGaps) {
  EXPECT_EQ(ChartModel::ParseValue(" 1250"), 1250.0f);
  EXPECT_FLOAT_EQ(ChartModel::ParseValue("-2.96"), -2.96f);
  EXPECT_FLOAT_EQ(ChartModel::ParseValue(".5"), 0.5f);
  EXPECT_FLOAT_EQ(ChartModel::ParseValue("125."), 125.0f);
  EXPECT_EQ(ChartModel::ParseValue("."), 0.0f);  // "##.##" writes zero as "."
  for (const char* text : {" ----", "", "   ", "12ab", "-", "1.2.3"})
    EXPECT_TRUE(std::isnan(ChartModel::ParseValue(text))) << '"' << text << '"';
  SetDecimalSeparator(',');
  EXPECT_FLOAT_EQ(ChartModel::ParseValue("13,38"), 13.38f);
  SetDecimalSeparator('.');
}

TEST(ChartModel, APointPerCycleAndChannelKeptForTheWholeSession) {
  ChartModel m;
  ASSERT_EQ(m.channelCount(), 9u);
  EXPECT_EQ(m.channel(0).title(), "rpm [tr/m]");
  EXPECT_EQ(m.channel(8).title(), "trimmer value");
  EXPECT_TRUE(m.empty());
  const int cycles = 20000;  // an hour of cycles
  for (int i = 0; i < cycles; ++i) {
    auto t = Texts(i % 100 == 7 ? " ----" : std::to_string(1000 + i), "13.38");
    m.append(static_cast<uint32_t>(i * 180), t);
  }
  for (std::size_t ch = 0; ch < m.channelCount(); ++ch) {
    ASSERT_EQ(m.points(ch).size(), static_cast<std::size_t>(cycles));
    EXPECT_TRUE(m.hasValue(ch));
  }
  EXPECT_LE(sizeof(ChartModel::Point), 24u);
  EXPECT_EQ(m.firstTime(), 0u);
  EXPECT_EQ(m.lastTime(), (cycles - 1) * 180u);
  EXPECT_EQ(m.points(0)[0].value, 1000.0f);  // the oldest point is still there
  EXPECT_TRUE(std::isnan(m.points(0)[7].value));
  EXPECT_EQ(m.points(0)[8].value, 1008.0f);
  EXPECT_FLOAT_EQ(m.points(7)[5].value, 13.38f);
  EXPECT_EQ(m.points(6)[0].value, 0.0f);
  EXPECT_EQ(m.valueAt(0, 8 * 180 + 90), 1008.0f);
  EXPECT_TRUE(std::isnan(m.valueAt(0, 7 * 180)));

  // A channel that never had a number, and a cycle with fewer texts than channels.
  ChartModel dead;
  for (int i = 0; i < 3; ++i) dead.append(static_cast<uint32_t>(i), Texts(" ----", ""));
  EXPECT_FALSE(dead.hasValue(0));
  EXPECT_TRUE(dead.hasValue(1));
  std::array<std::string, 1> one = {"5"};
  dead.append(3, one);
  EXPECT_TRUE(dead.hasValue(0));
  EXPECT_FALSE(dead.hasValue(7));
  EXPECT_TRUE(std::isnan(dead.points(1)[3].value));
  EXPECT_EQ(dead.size(), 4u);
  dead.clear();
  EXPECT_TRUE(dead.empty());
  EXPECT_FALSE(dead.hasValue(1));
}

TEST(ChartModel, DecimationKeepsEachColumnsMinAndMaxAndTheGaps) {
  ChartModel m(std::vector<ChartModel::Channel>{{"a", ""}});
  // A spiky curve: every column holds a single extreme point among ordinary ones.
  for (uint32_t i = 0; i < 10000; ++i) {
    float v = static_cast<float>(i % 37);
    if (i % 997 == 0) v = 1000.0f + static_cast<float>(i);
    if (i % 1013 == 0) v = -1000.0f - static_cast<float>(i);
    if (i >= 5000 && i < 5100) v = std::numeric_limits<float>::quiet_NaN();
    m.appendValues(i * 10, std::array<float, 1>{v});
  }
  const uint32_t t0 = 1234, t1 = 87654;
  const int columns = 333;
  const auto cols = m.decimate(0, t0, t1, columns);
  ASSERT_EQ(cols.size(), static_cast<std::size_t>(columns));
  // Brute force: the same columns by hand.
  std::vector<float> lo(columns, INFINITY), hi(columns, -INFINITY);
  std::vector<bool> nan(columns, false);
  for (const auto& p : m.points(0)) {
    if (p.timeMs < t0 || p.timeMs > t1) continue;
    const auto c = static_cast<std::size_t>((uint64_t{p.timeMs} - t0) * columns / (t1 - t0 + 1));
    if (std::isnan(p.value)) {
      nan[c] = true;
      continue;
    }
    lo[c] = std::min(lo[c], p.value);
    hi[c] = std::max(hi[c], p.value);
  }
  int gaps = 0;
  for (int c = 0; c < columns; ++c) {
    if (std::isinf(lo[c])) {
      EXPECT_FALSE(cols[c].hasValue()) << c;
    } else {
      EXPECT_EQ(cols[c].min, lo[c]) << c;
      EXPECT_EQ(cols[c].max, hi[c]) << c;
    }
    EXPECT_EQ(cols[c].gapBefore || cols[c].gapAfter, nan[c]) << c;
    gaps += nan[c];
  }
  EXPECT_GT(gaps, 0);
  // The spikes survive decimation of the whole hour into a narrow strip.
  const auto narrow = m.decimate(0, 0, m.lastTime(), 10);
  float top = -INFINITY, bottom = INFINITY;
  for (const auto& c : narrow) {
    top = std::max(top, c.max);
    bottom = std::min(bottom, c.min);
  }
  EXPECT_EQ(top, 1000.0f + 9970.0f);
  EXPECT_EQ(bottom, -1000.0f - 9117.0f);
  // Where the gap starts and ends inside a column, the curve breaks on that side.
  ChartModel g(std::vector<ChartModel::Channel>{{"g", ""}});
  const float nanv = std::numeric_limits<float>::quiet_NaN();
  for (float v : {1.0f, nanv, nanv, 4.0f}) g.appendValues(g.lastTime() + 10, std::array{v});
  const auto two = g.decimate(0, 10, 49, 2);
  EXPECT_EQ(two[0].max, 1.0f);
  EXPECT_TRUE(two[0].gapAfter);
  EXPECT_TRUE(two[1].gapBefore);
  EXPECT_EQ(two[1].min, 4.0f);
  EXPECT_TRUE(m.decimate(0, 50, 50, 10)[0].min != m.decimate(0, 50, 50, 10)[0].min);
}

TEST(ChartModel, APausedLoopBreaksTheCurvesLiveAndInARecording) {
  // Live: the session says the loop paused; the next cycle does not join the one before.
  ChartModel live;
  const std::array<std::string, 9> a{" 1200", "2.5"}, b{" 1300", "2.6"};
  live.append(100, a);
  live.appendGap();
  live.appendGap();  // a second pause adds nothing
  live.append(20000, b);
  ASSERT_EQ(live.size(), 3u);
  EXPECT_TRUE(std::isnan(live.points(0)[1].value));
  EXPECT_EQ(live.points(0)[1].timeMs, 101u);

  // A recording: a step of more than three cycle periods is a pause, shorter ones are not.
  Recording r;
  r.channels.push_back({"rpm", "tr/m", {}});
  for (uint32_t t : {0u, 100u, 200u, 350u, 450u, 14000u, 14100u}) {
    r.timesMs.push_back(t);
    r.channels[0].values.push_back(static_cast<float>(1000 + t % 500));
  }
  const ChartModel m = ChartModel::FromRecording(r);
  std::vector<uint32_t> gapsAt;
  for (const auto& p : m.points(0))
    if (std::isnan(p.value)) gapsAt.push_back(p.timeMs);
  EXPECT_EQ(gapsAt, std::vector<uint32_t>{451});
  EXPECT_EQ(m.size(), 8u);
  EXPECT_EQ(m.channel(0).title(), "rpm [tr/m]");
}

TEST(ChartModel, ARecordingWithManyChannelsGivesTheFirstOnesAndCountsTheRest) {
  Recording r;
  for (int c = 0; c < 1000; ++c) r.channels.push_back({"c" + std::to_string(c), "u", {}});
  for (uint32_t t = 0; t < 3; ++t) {
    r.timesMs.push_back(t * 100);
    for (std::size_t c = 0; c < r.channels.size(); ++c)
      r.channels[c].values.push_back(static_cast<float>(c + t));
  }
  const ChartModel m = ChartModel::FromRecording(r);
  ASSERT_EQ(m.channelCount(), ChartModel::kMaxRecordingChannels);
  EXPECT_EQ(m.leftOut(), 1000 - ChartModel::kMaxRecordingChannels);
  const std::size_t last = ChartModel::kMaxRecordingChannels - 1;
  EXPECT_EQ(m.channel(last).title(), "c" + std::to_string(last) + " [u]");
  EXPECT_EQ(m.points(last)[2].value, static_cast<float>(last + 2));
  // A recording of ours is shown whole.
  r.channels.resize(kLiveChannelCount);
  const ChartModel ours = ChartModel::FromRecording(r);
  EXPECT_EQ(ours.channelCount(), kLiveChannelCount);
  EXPECT_EQ(ours.leftOut(), 0u);
}
