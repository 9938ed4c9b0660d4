#pragma once

#include <cstddef>
#include <deque>
#include <string>

namespace kline {

// A window's log pane (Rtb1): an append-only list of lines. Appending costs O(1) whatever the
// length; text() is exactly what the pane shows: every line followed by CR LF.
//
// A session of days would grow the pane without end, so past `limit` lines the oldest leave it,
// and the pane's first line says how many have gone (a log file written alongside keeps every
// line).
class LogPane {
 public:
  static constexpr std::size_t kDefaultLimit = 1000000;

  explicit LogPane(std::size_t limit = kDefaultLimit) : limit_(limit < 1 ? 1 : limit) {}

  void append(std::string line);
  // The lines kept, oldest first, without the line that tells of the removed ones.
  const std::deque<std::string>& lines() const { return lines_; }
  // The lines the pane shows, that line included.
  std::size_t size() const { return lines_.size() + (dropped_ ? 1 : 0); }
  std::size_t dropped() const { return dropped_; }
  std::size_t limit() const { return limit_; }
  std::string text() const;
  void clear() {
    lines_.clear();
    dropped_ = 0;
  }

  // The first line of a pane that has lost `dropped` lines.
  static std::string DroppedLine(std::size_t dropped);

 private:
  std::deque<std::string> lines_;
  std::size_t limit_;
  std::size_t dropped_ = 0;
};

}  // namespace kline
