#include "boundedhost.h"

#include <cstdio>

namespace kline::fuzz {

void BoundedHost::Sleep(int ms) {
  VirtualHost::Sleep(ms);
  check();
}

void BoundedHost::setTimerHandler(std::function<void()> tick) {
  VirtualHost::setTimerHandler(tick ? measured(std::move(tick)) : std::function<void()>());
}

void BoundedHost::scheduleAction(uint64_t atMs, std::function<void()> action) {
  schedule(atMs, measured(std::move(action)));
}

std::function<void()> BoundedHost::measured(std::function<void()> fn) {
  return [this, fn = std::move(fn)] {
    frames_.push_back({now(), 0});
    fn();
    check();
    uint64_t took = now() - frames_.back().start;
    frames_.pop_back();
    // A handler run inside another (a user action during a wait) counts as its own, not twice.
    if (!frames_.empty()) frames_.back().nested += took;
  };
}

void BoundedHost::check() const {
  if (frames_.empty()) return;
  const Frame& f = frames_.back();
  uint64_t own = now() - f.start - f.nested;
  if (own > bound_) {
    std::fprintf(stderr, "handler ran %llu ms of virtual time (bound %llu ms), started at %llu\n",
                 static_cast<unsigned long long>(own), static_cast<unsigned long long>(bound_),
                 static_cast<unsigned long long>(f.start));
    __builtin_trap();
  }
}

}  // namespace kline::fuzz
