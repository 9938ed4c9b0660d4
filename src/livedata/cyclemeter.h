#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace kline {

// Measures the live data as the user sees it: completed cycles per second over the last few
// seconds, and how long the last cycle took from the start of its tick. Fed by the session's
// thread, read there too.
class CycleMeter {
 public:
  // The span over which cycles are counted.
  static constexpr uint32_t kWindowMs = 5000;

  void begin(uint32_t ms) { start_ = ms; }
  void end(uint32_t ms, bool completed);
  void reset();

  // Completed cycles per second; 0 until two have completed.
  double perSecond() const;
  // The last completed cycle's duration in ms, or -1.
  int64_t lastMs() const { return last_; }
  // "8.3 cycles/s, last 118 ms", or empty before the first completed cycle.
  std::string text() const;

 private:
  uint32_t start_ = 0;
  int64_t last_ = -1;
  std::deque<uint32_t> ends_;
};

}  // namespace kline
