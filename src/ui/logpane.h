#pragma once

#include <string>
#include <vector>

namespace kline {

// A window's log pane (Rtb1): an append-only list of lines. Appending costs O(1) whatever the
// length; text() is exactly what the pane shows: every line followed by CR LF.
class LogPane {
 public:
  void append(std::string line) { lines_.push_back(std::move(line)); }
  const std::vector<std::string>& lines() const { return lines_; }
  std::size_t size() const { return lines_.size(); }
  std::string text() const;
  void clear() { lines_.clear(); }

 private:
  std::vector<std::string> lines_;
};

}  // namespace kline
