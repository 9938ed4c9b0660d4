#include "sim/virtualhost.h"

#include <algorithm>

namespace kline {

void VirtualHost::Sleep(int ms) {
  if (ms <= 0 || quitting_) return;
  if (stopCheck_ && stopCheck_()) {
    quitting_ = true;
    return;
  }
  uint64_t end = now_ + static_cast<uint64_t>(ms);
  if (end >= hardStop_) {
    now_ = std::max(now_, hardStop_);
    quitting_ = true;
    return;
  }
  now_ = end;
}

void VirtualHost::setTimer(int intervalMs) {
  interval_ = intervalMs > 0 ? intervalMs : 0;
  due_ = now_ + static_cast<uint64_t>(interval_);
  ++timerGeneration_;
}

void VirtualHost::schedule(uint64_t atMs, std::function<void()> action) {
  actions_.emplace(atMs, std::move(action));
}

void VirtualHost::runHandler(const std::function<void()>& fn) {
  ++depth_;
  fn();
  --depth_;
}

void VirtualHost::DoEvents() {
  // Pending user actions run here, nested in the handler that yields; timer ticks do not.
  while (!actions_.empty() && actions_.begin()->first <= now_) {
    auto fn = std::move(actions_.begin()->second);
    actions_.erase(actions_.begin());
    runHandler(fn);
  }
}

void VirtualHost::runUntil(uint64_t endMs) {
  if (grace_) hardStop_ = endMs + *grace_;
  for (;;) {
    if (quitting_) return;
    if (stopCheck_ && stopCheck_()) {
      quitting_ = true;
      return;
    }
    bool haveAction = !actions_.empty();
    uint64_t actionAt = haveAction ? actions_.begin()->first : 0;
    bool haveTick = interval_ > 0 && tick_;
    uint64_t next;
    if (haveAction && (!haveTick || actionAt <= due_))
      next = actionAt;
    else if (haveTick)
      next = due_;
    else
      break;
    if (next > endMs) break;
    if (next > now_) now_ = next;
    if (haveAction && (!haveTick || actionAt <= due_)) {
      auto fn = std::move(actions_.begin()->second);
      actions_.erase(actions_.begin());
      runHandler(fn);
      continue;
    }
    uint64_t gen = timerGeneration_;
    uint64_t firedAt = due_;
    runHandler(tick_);
    if (gen == timerGeneration_ && interval_ > 0) {
      // A tick that overran its interval is followed at once by the next one, then the rhythm
      // starts again from there, as a message-loop timer does.
      due_ = firedAt + static_cast<uint64_t>(interval_);
      if (due_ < now_) due_ = now_;
    }
  }
  if (now_ < endMs) now_ = endMs;
}

}  // namespace kline
