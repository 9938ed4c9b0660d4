// The channels' figures that the report, the records and --replay give: count, min, max and mean
// of the readings with a number, and the texts as the window wrote them.
#include <gtest/gtest.h>

#include "livedata/channelstats.h"
#include "livedata/numbers.h"

using namespace kline;

namespace {

ev::LiveCycle Cycle(const char* rpm, const char* inj, bool completed = true) {
  ev::LiveCycle c;
  c.completed = completed;
  c.channels[0] = {true, FieldValue(rpm), rpm};
  c.channels[1] = {true, FieldValue(inj), inj};
  c.channels[2] = {false, 7.0, "7"};      // not ticked
  c.channels[9] = {true, 12.5, "12.50"};  // the throttle voltage: not a window channel
  return c;
}

}  // namespace

TEST(ChannelStats, NoReadingsGiveNoChannels) {
  ChannelStats stats;
  EXPECT_EQ(stats.size(), kWindowChannelCount);
  EXPECT_TRUE(stats.empty());
  EXPECT_TRUE(stats.summaries().empty());
  const ChannelSummary s = stats.summary(0);
  EXPECT_EQ(s.name, "rpm");
  EXPECT_EQ(s.count, 0u);
  EXPECT_EQ(s.meanText, "");
}

TEST(ChannelStats, OneReadingIsItsOwnMinMaxAndMean) {
  ChannelStats stats;
  stats.add(7, 12.5, " 12.5 ");
  ASSERT_FALSE(stats.empty());
  const auto all = stats.summaries();
  ASSERT_EQ(all.size(), 1u);
  const ChannelSummary& s = all[0];
  EXPECT_EQ(s.index, 7);
  EXPECT_EQ(s.name, "battery");
  EXPECT_EQ(s.unit, "V");
  EXPECT_EQ(s.count, 1u);
  EXPECT_DOUBLE_EQ(s.min, 12.5);
  EXPECT_DOUBLE_EQ(s.max, 12.5);
  EXPECT_DOUBLE_EQ(s.mean, 12.5);
  EXPECT_EQ(s.minText, "12.5");
  EXPECT_EQ(s.maxText, "12.5");
  EXPECT_EQ(s.meanText, "12.5");
}

TEST(ChannelStats, ReadingsWithoutANumberAreLeftOut) {
  ChannelStats stats;
  stats.add(0, std::nullopt, " ----");
  stats.add(1, FieldValue(""), "");
  stats.add(kWindowChannelCount, 3.0, "3");  // past the last channel
  EXPECT_TRUE(stats.empty());
  stats.add(1, 2.0, "2");
  stats.add(1, std::nullopt, "12a");
  EXPECT_EQ(stats.summary(1).count, 1u);
  EXPECT_EQ(stats.summary(0).count, 0u);
  EXPECT_EQ(stats.summaries().size(), 1u);
}

TEST(ChannelStats, CompletedCyclesKeepTheWindowsTexts) {
  // A window that shows "12,50" uses the decimal comma.
  SetDecimalSeparator(',');
  struct Restore {
    ~Restore() { SetDecimalSeparator('.'); }
  } restore;
  ChannelStats stats;
  stats.add(Cycle(" 1200", "12,50"));
  stats.add(Cycle(" 980", " ----"));
  stats.add(Cycle(" 1410", "12,50"));
  stats.add(Cycle(" 1410", "13,1"));
  stats.add(Cycle(" 9999", "99,9", false));  // abandoned: not counted
  const auto c = stats.summaries();
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].name, "rpm");
  EXPECT_EQ(c[0].unit, "tr/m");
  EXPECT_EQ(c[0].count, 4u);
  EXPECT_EQ(c[0].minText, "980");
  EXPECT_EQ(c[0].maxText, "1410");
  EXPECT_EQ(c[0].meanText, "1250");
  EXPECT_DOUBLE_EQ(c[0].mean, 1250);
  EXPECT_EQ(c[1].count, 3u);  // " ----" is no number
  EXPECT_EQ(c[1].minText, "12,50");
  EXPECT_EQ(c[1].maxText, "13,1");
  EXPECT_EQ(c[1].meanText, "12,70");
  EXPECT_DOUBLE_EQ(c[1].min, 12.5);
  EXPECT_DOUBLE_EQ(c[1].max, 13.1);
}

TEST(ChannelStats, AMeanThatRoundsToZeroShowsNoSign) {
  ChannelStats stats;
  stats.add(2, -0.3, "-0.3");
  stats.add(2, 0.2, "0.2");
  stats.add(2, 0.0, "0.0");
  EXPECT_EQ(stats.summary(2).meanText, "0.0");  // -0.033 to one decimal
  stats.add(3, -0.2, "-0");
  EXPECT_EQ(stats.summary(3).meanText, "0");
}

TEST(ChannelStats, ARecordingsChannelsPastTheLiveOnesHaveNoName) {
  ChannelStats stats(12);
  stats.add(11, 5, "");
  const ChannelSummary s = stats.summary(11);
  EXPECT_EQ(s.name, "");
  EXPECT_EQ(s.count, 1u);
  EXPECT_DOUBLE_EQ(s.mean, 5);
  EXPECT_EQ(s.meanText, "5");
}

TEST(ChannelStats, TwoRunsMergedComeOutAsOneRun) {
  // The readings of one run split in two at each point: the merged figures are the whole run's.
  const std::vector<std::pair<double, const char*>> readings = {
      {12.5, "12.5"}, {13.875, "13.875"}, {11.0, "11"}, {11.0, "11.0"}, {14.25, "14,25"}};
  ChannelStats whole;
  for (const auto& [v, t] : readings) whole.add(7, v, t);
  const ChannelSummary expected = whole.summary(7);
  for (std::size_t cut = 0; cut <= readings.size(); ++cut) {
    SCOPED_TRACE(cut);
    ChannelStats earlier, later;
    for (std::size_t i = 0; i < readings.size(); ++i)
      (i < cut ? earlier : later).add(7, readings[i].first, readings[i].second);
    const ChannelSummary m = MergeSummaries(earlier.summary(7), later.summary(7));
    EXPECT_EQ(m.index, 7);
    EXPECT_EQ(m.name, "battery");
    EXPECT_EQ(m.count, expected.count);
    EXPECT_EQ(m.min, expected.min);
    EXPECT_EQ(m.minText, expected.minText);  // the first of equal readings, as in one run
    EXPECT_EQ(m.max, expected.max);
    EXPECT_EQ(m.maxText, expected.maxText);
    EXPECT_DOUBLE_EQ(m.mean, expected.mean);
    EXPECT_EQ(m.meanText, expected.meanText);
  }
}

TEST(ChannelStats, MergedRunsKeepTheChannelsOfEitherInOrder) {
  ChannelStats earlier, later;
  earlier.add(0, 1000, "1000");
  earlier.add(6, 12.5, "12.5");
  later.add(1, 2.5, "2.5");
  later.add(6, 13.5, "13.5");
  const auto m = MergeSummaries(earlier.summaries(), later.summaries());
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].index, 0);
  EXPECT_EQ(m[0].count, 1u);
  EXPECT_EQ(m[1].index, 1);
  EXPECT_EQ(m[1].meanText, "2.5");
  EXPECT_EQ(m[2].index, 6);
  EXPECT_EQ(m[2].count, 2u);
  EXPECT_EQ(m[2].meanText, "13.0");
  EXPECT_TRUE(MergeSummaries(std::vector<ChannelSummary>{}, {}).empty());
}
