#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "session/eventjsonlines.h"

namespace kline {

// How much an EventJournal keeps.
struct JournalLimits {
  uint64_t windowMs = 10 * 60 * 1000;  // the events of the last ten minutes
  // A live loop writes a few hundred lines a second; these caps hold even a line that pours
  // bytes in at full rate to a few megabytes, dropping the oldest lines first.
  std::size_t maxLines = 200000;
  std::size_t maxBytes = 16 * 1024 * 1024;
  std::size_t maxLinkChanges = 1000;  // the link's states, the whole session's up to this
};

// Keeps the last minutes of a session's events as JSON Lines (as `--events` writes them) and
// every change of the link's state, for a support bundle. Bounded in time, lines and bytes: the
// oldest go first. Time is the session's clock (ms). Runs on the session's thread; read it there.
class EventJournal : public EventJsonLines {
 public:
  // `wallClock` (may be empty) dates the link's changes for a reader who knows only the hour.
  explicit EventJournal(std::function<uint64_t()> clock, JournalLimits limits = {},
                        std::function<WallTime()> wallClock = {});

  // The kept lines of the last window before `now`, oldest first, each ending in a newline.
  std::string jsonLines(uint64_t now) const;
  std::size_t lineCount() const { return lines_.size(); }
  std::size_t byteCount() const { return bytes_; }
  // Lines the caps dropped before their time was up.
  uint64_t droppedByCap() const { return droppedByCap_; }

  struct LinkChange {
    uint64_t t;
    std::string state;  // LinkStateName
    std::string text;
    std::optional<WallTime> at;
  };
  const std::deque<LinkChange>& linkChanges() const { return links_; }
  // The link's changes as text, one a line, with the wall time when it is known:
  // "2026-12-06T16:20:31.123+01:00      12.345 s  live  The ECU answers".
  std::string linkHistoryText() const;

  void onEvent(const SessionEvent& e) override;

 protected:
  void line(uint64_t t, std::string text) override;

 private:
  struct Entry {
    uint64_t t;
    std::string text;
  };
  static std::size_t cost(const Entry& e) { return sizeof(Entry) + e.text.size(); }
  void dropFront(bool byCap);

  std::function<uint64_t()> clock_;
  JournalLimits limits_;
  std::function<WallTime()> wallClock_;
  std::deque<Entry> lines_;
  std::size_t bytes_ = 0;
  uint64_t droppedByCap_ = 0;
  std::deque<LinkChange> links_;
  uint64_t linksDropped_ = 0;
};

}  // namespace kline
