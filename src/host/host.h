#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kline {

// What the window logic needs from its platform: time, pauses, the message loop, the timer and
// the clipboard. The Qt host runs on the session thread; the virtual host runs tests and
// `--virtual-time` sessions on a clock that only moves when the logic sleeps.
class Host {
 public:
  virtual ~Host() = default;

  // Milliseconds since an arbitrary start, 32 bits, wrapping; compare by unsigned difference.
  virtual uint32_t timeGetTime() = 0;
  // Microseconds of the same clock, 64 bits, for the simulated line.
  virtual int64_t micros() = 0;
  virtual void Sleep(int ms) = 0;
  // Lets pending user events run once. Timer ticks are not delivered from inside a handler:
  // ticks never overlap and never nest in another handler.
  virtual void DoEvents() = 0;
  // The timer Timer1: interval in ms, 0 stops it. Each call restarts the interval.
  virtual void setTimer(int intervalMs) = 0;
  virtual void setTimerHandler(std::function<void()> tick) = 0;

  // The program is closing (the window closed, a signal, the end of a timed run): every sleep
  // returns at once and every wait gives up, so the handler that runs ends within moments and
  // the port can be closed. A user's Disconnect is not this: it waits for the handler.
  virtual bool quitting() const { return false; }

  virtual void setClipboard(const std::string& text) = 0;
};

}  // namespace kline
