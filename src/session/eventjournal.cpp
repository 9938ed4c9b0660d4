#include "session/eventjournal.h"

#include <cstdio>
#include <variant>

#include "livedata/csvrecorder.h"

namespace kline {

EventJournal::EventJournal(std::function<uint64_t()> clock, JournalLimits limits,
                           std::function<WallTime()> wallClock)
    : EventJsonLines(clock),
      clock_(std::move(clock)),
      limits_(limits),
      wallClock_(std::move(wallClock)) {}

void EventJournal::dropFront(bool byCap) {
  bytes_ -= cost(lines_.front());
  lines_.pop_front();
  if (byCap) ++droppedByCap_;
}

void EventJournal::line(uint64_t t, std::string text) {
  while (!lines_.empty() && lines_.front().t + limits_.windowMs < t) dropFront(false);
  lines_.push_back({t, std::move(text)});
  bytes_ += cost(lines_.back());
  while (lines_.size() > 1 && (lines_.size() > limits_.maxLines || bytes_ > limits_.maxBytes))
    dropFront(true);
}

std::string EventJournal::jsonLines(uint64_t now) const {
  std::string out;
  for (const Entry& e : lines_) {
    if (e.t + limits_.windowMs < now) continue;
    out += e.text;
    out += '\n';
  }
  return out;
}

void EventJournal::onEvent(const SessionEvent& e) {
  const auto* l = std::get_if<ev::LinkChanged>(&e);
  // The history keeps the state's changes: a silence's growing count or a change of the stale
  // flags alone says nothing new. Each failed open is its own, though.
  if (l && !links_.empty() && links_.back().state == LinkStateName(l->status.state) &&
      (l->status.state != LinkState::OpenFailed || links_.back().text == l->status.text))
    l = nullptr;
  if (l) {
    links_.push_back({clock_(), LinkStateName(l->status.state), l->status.text,
                      wallClock_ ? std::optional(wallClock_()) : std::nullopt});
    if (links_.size() > limits_.maxLinkChanges) {
      links_.pop_front();
      ++linksDropped_;
    }
  }
  EventJsonLines::onEvent(e);
}

std::string EventJournal::linkHistoryText() const {
  std::string out;
  if (linksDropped_ > 0)
    out += "(" + std::to_string(linksDropped_) + " earlier changes not kept)\n";
  for (const LinkChange& c : links_) {
    char when[32];
    std::snprintf(when, sizeof when, "%10llu.%03u s  ", static_cast<unsigned long long>(c.t / 1000),
                  static_cast<unsigned>(c.t % 1000));
    if (c.at) out += CsvRecorder::IsoTime(*c.at) + "  ";
    out += when + c.state + "  " + c.text + "\n";
  }
  if (links_.empty()) out += "(no change of the link's state in this session)\n";
  return out;
}

}  // namespace kline
