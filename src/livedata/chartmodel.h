#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace kline {

struct Recording;

// The history behind the live chart: per channel, one point (ms since connect, value) per
// completed cycle, kept for the whole session. A text that is not a number (" ----", empty) is
// kept as NaN, a gap in the curve. `decimate` reduces any stretch of it to one min/max pair per
// pixel column, so an hour draws as fast as a minute. Used on one thread (the GUI's).
class ChartModel {
 public:
  struct Channel {
    std::string name;
    std::string unit;  // empty when the channel has none
    // "rpm [tr/m]", or the bare name without a unit.
    std::string title() const { return unit.empty() ? name : name + " [" + unit + "]"; }
  };
  struct Point {
    uint32_t timeMs;
    float value;  // NaN: no value in that cycle
  };
  // One pixel column: the smallest and largest value of the points in it (NaN when it holds no
  // number), and whether a point without a value came before or after its numbers (the curve
  // breaks there).
  struct Column {
    float min = std::numeric_limits<float>::quiet_NaN();
    float max = std::numeric_limits<float>::quiet_NaN();
    bool gapBefore = false;
    bool gapAfter = false;
    bool hasValue() const { return min == min; }
  };

  static constexpr std::size_t kLiveChannels = 9;
  // The nine live channels of the main window, in the order of its fields.
  static const std::vector<Channel>& LiveChannels();
  // A window's number as a float: blanks around it, an optional sign, digits and the decimal
  // separator (DecimalSeparator() or '.'); "." alone is the zero of the "##.##" format. Anything
  // else is NaN.
  static float ParseValue(const std::string& text);

  ChartModel() : ChartModel(LiveChannels()) {}
  explicit ChartModel(std::vector<Channel> channels);

  std::size_t channelCount() const { return channels_.size(); }
  const Channel& channel(std::size_t ch) const { return channels_[ch]; }
  // One completed cycle: a text per channel (missing ones count as no value).
  void append(uint32_t timeMs, std::span<const std::string> texts);
  void appendValues(uint32_t timeMs, std::span<const float> values);
  // The values stopped being measured (the poll loop paused, a cycle abandoned): the curves
  // break after the last point instead of drawing a line across what was never read.
  void appendGap();
  // The most channels of a recording a chart takes: ours have kLiveChannelCount, and the margin
  // leaves room for a few more. A strip costs far more than a column of numbers.
  static constexpr std::size_t kMaxRecordingChannels = 16;
  // A recording's first kMaxRecordingChannels channels and its rows; a time step of more than
  // three times the usual cycle period (the poll loop was paused) breaks the curves as appendGap
  // does.
  static ChartModel FromRecording(const Recording& r);
  // How many channels of the recording FromRecording left out.
  std::size_t leftOut() const { return leftOut_; }
  void clear();

  const std::vector<Point>& points(std::size_t ch) const { return points_[ch]; }
  std::size_t size() const { return points_.empty() ? 0 : points_[0].size(); }
  bool empty() const { return size() == 0; }
  uint32_t firstTime() const { return empty() ? 0 : points_[0].front().timeMs; }
  uint32_t lastTime() const { return empty() ? 0 : points_[0].back().timeMs; }
  // Whether the channel ever had a number.
  bool hasValue(std::size_t ch) const { return hasValue_[ch]; }
  // The value of the last point at or before `timeMs` (NaN when none or a gap).
  float valueAt(std::size_t ch, uint32_t timeMs) const;

  // The points with t0 <= time <= t1 spread over `columns` equal columns (t1 > t0).
  std::vector<Column> decimate(std::size_t ch, uint32_t t0, uint32_t t1, int columns) const;

 private:
  std::vector<Channel> channels_;
  std::vector<std::vector<Point>> points_;
  std::vector<bool> hasValue_;
  std::size_t leftOut_ = 0;
};

}  // namespace kline
