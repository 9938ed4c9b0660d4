#pragma once

// Virtual time that measures every handler: a timer tick or a user action may not keep the
// session busy longer than the longest wait the code's limits allow.
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/virtualhost.h"

namespace kline::fuzz {

class BoundedHost : public VirtualHost {
 public:
  BoundedHost(uint32_t clockOrigin, uint64_t boundMs) : VirtualHost(clockOrigin), bound_(boundMs) {}

  // Checked at every pause, so a wait that never ends is caught once it passes the bound.
  void Sleep(int ms) override;
  void setTimerHandler(std::function<void()> tick) override;
  // A user action, measured like a tick.
  void scheduleAction(uint64_t atMs, std::function<void()> action);

 private:
  struct Frame {
    uint64_t start;
    uint64_t nested;  // time spent in handlers run inside this one (pending user actions)
  };
  std::function<void()> measured(std::function<void()> fn);
  void check() const;

  uint64_t bound_;
  std::vector<Frame> frames_;
};

}  // namespace kline::fuzz
