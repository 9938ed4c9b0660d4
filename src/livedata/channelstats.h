#pragma once

// The figures of live channels over a run: per channel how many readings had a number, the
// smallest, the largest and the mean. The session report, the records and the command line's
// --replay all sum their channels here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ui/sessionevents.h"

namespace kline {

// One channel over a run: the readings with a number, their smallest, largest and mean; the
// smallest and largest also as the window wrote them, and the mean written alike (as many
// decimals as the most precise of them, with their decimal mark).
struct ChannelSummary {
  int index = 0;  // the window's channel order (LiveChannels())
  std::string name, unit;
  uint64_t count = 0;
  double min = 0, max = 0, mean = 0;
  std::string minText, maxText, meanText;
};

// Two runs' figures of one channel as if they had been one run: counts added, the smallest and
// largest of both (the earlier run's on a tie, as in one run), the mean weighted by the counts and
// written with as many decimals as the more precise of the two means.
ChannelSummary MergeSummaries(const ChannelSummary& earlier, const ChannelSummary& later);
// The same channel by channel (by index); a channel in one of them only is kept as it is.
std::vector<ChannelSummary> MergeSummaries(const std::vector<ChannelSummary>& earlier,
                                           const std::vector<ChannelSummary>& later);

// The main window's nine value fields, Text1(0..8): the channels a session's report and records
// sum (the 15Rc's throttle voltage, the tenth live channel, is left out).
inline constexpr std::size_t kWindowChannelCount = 9;

// Sums readings as they come, channel by channel. Readings without a number are left out. One
// thread at a time.
class ChannelStats {
 public:
  // The main window's channels.
  ChannelStats() : ChannelStats(kWindowChannelCount) {}
  // The first `channels` live channels, named as LiveChannels() names them (those past the live
  // channels, as a recording may have, have no name).
  explicit ChannelStats(std::size_t channels);

  // A reading of `channel` (past the last: left out): its value, none when the field showed no
  // number, and its text as shown (blanks around it are dropped).
  void add(std::size_t channel, std::optional<double> value, const std::string& text = {});
  // A live cycle's ticked channels. An abandoned cycle adds nothing: the fields after its silent
  // channel still hold the cycle before's values.
  void add(const ev::LiveCycle& cycle);

  std::size_t size() const { return channels_.size(); }
  // No channel has a reading with a number yet.
  bool empty() const;
  // One channel's figures (count 0: no reading with a number).
  ChannelSummary summary(std::size_t channel) const;
  // The channels with at least one reading with a number, in order.
  std::vector<ChannelSummary> summaries() const;

 private:
  struct Channel {
    ChannelSummary figures;  // all but the mean
    double sum = 0;
    int decimals = 0;
    char point = '.';
  };
  std::vector<Channel> channels_;
};

}  // namespace kline
