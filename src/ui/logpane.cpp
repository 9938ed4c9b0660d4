#include "ui/logpane.h"

namespace kline {

void LogPane::append(std::string line) {
  lines_.push_back(std::move(line));
  // The line that tells of the removed ones takes a place of its own.
  while (lines_.size() + (dropped_ ? 1 : 0) > limit_ && !lines_.empty()) {
    lines_.pop_front();
    ++dropped_;
  }
}

std::string LogPane::DroppedLine(std::size_t dropped) {
  return "(" + std::to_string(dropped) + " older lines removed from this pane)";
}

std::string LogPane::text() const {
  std::size_t n = 0;
  for (const auto& l : lines_) n += l.size() + 2;
  std::string out;
  const std::string first = dropped_ ? DroppedLine(dropped_) : std::string();
  out.reserve(n + first.size() + 2);
  if (dropped_) out += first + "\r\n";
  for (const auto& l : lines_) {
    out += l;
    out += "\r\n";
  }
  return out;
}

}  // namespace kline
