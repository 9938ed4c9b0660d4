#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "host/host.h"

namespace kline {

// A host on virtual time: the clock moves only when the logic sleeps or when the run loop jumps
// to the next timer tick or scheduled user action, so an hour of line time costs a millisecond
// and every run is the same. Single-threaded.
class VirtualHost : public Host {
 public:
  // `clockOrigin` is the value timeGetTime shows at start (to exercise the 32-bit wrap).
  explicit VirtualHost(uint32_t clockOrigin = 0) : origin_(clockOrigin) {}

  uint32_t timeGetTime() override { return static_cast<uint32_t>(origin_ + now_); }
  int64_t micros() override { return static_cast<int64_t>(now_) * 1000; }
  void Sleep(int ms) override;
  bool quitting() const override { return quitting_; }
  void DoEvents() override;
  void setTimer(int intervalMs) override;
  void setTimerHandler(std::function<void()> tick) override { tick_ = std::move(tick); }
  void setClipboard(const std::string& text) override { clipboard_ = text; }

  void setClockOrigin(uint32_t origin) { origin_ = origin; }
  // Milliseconds since start.
  uint64_t now() const { return now_; }
  int timerInterval() const { return interval_; }
  const std::string& clipboard() const { return clipboard_; }

  // A user action at `atMs` since start; actions at the same time run in the order given.
  void schedule(uint64_t atMs, std::function<void()> action);
  // Runs ticks and actions in time order until `endMs`; the clock ends at endMs or later if the
  // last handler ran past it.
  void runUntil(uint64_t endMs);
  // Asked between two handlers and at every sleep: true ends runUntil early, and a handler that
  // runs then sees quitting().
  void setStopCheck(std::function<bool()> check) { stopCheck_ = std::move(check); }
  // A run whose end is final (a timed session): a handler still running this long after the end
  // of runUntil sees quitting(), so that no wait holds the session past its end.
  void setHardStop(uint64_t graceMs) { grace_ = graceMs; }
  // Runs for `ms` more milliseconds.
  void runFor(uint64_t ms) { runUntil(now_ + ms); }

 private:
  void runHandler(const std::function<void()>& fn);

  uint32_t origin_;
  uint64_t now_ = 0;
  int interval_ = 0;
  uint64_t due_ = 0;
  uint64_t timerGeneration_ = 0;
  std::function<void()> tick_;
  std::function<bool()> stopCheck_;
  std::optional<uint64_t> grace_;
  uint64_t hardStop_ = UINT64_MAX;
  bool quitting_ = false;
  std::multimap<uint64_t, std::function<void()>> actions_;
  int depth_ = 0;
  std::string clipboard_;
};

}  // namespace kline
