#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "host/host.h"

namespace kline {

// The host of a session thread: the real clock, real sleeps, that thread's event loop and a
// QTimer as Timer1. Constructed on, and used only from, the session thread.
//
// Every entry into the window logic (timer ticks and forwarded user events) goes through
// runGuarded. While a guarded call runs, a tick that fires (for instance inside DoEvents) is
// dropped, so ticks never overlap and never nest; user events may still run nested inside
// DoEvents, as they did under the classic message loop.
class QtHost : public QObject, public Host {
  Q_OBJECT

 public:
  // `clockOrigin` is what timeGetTime shows at construction (lets tests cross the 32-bit wrap).
  explicit QtHost(uint32_t clockOrigin = 0, QObject* parent = nullptr);

  uint32_t timeGetTime() override;
  int64_t micros() override;
  void Sleep(int ms) override;
  void DoEvents() override;
  void setTimer(int intervalMs) override;
  void setTimerHandler(std::function<void()> tick) override { tick_ = std::move(tick); }
  void setClipboard(const std::string& text) override;

  bool quitting() const override {
    return quit_.load(std::memory_order_relaxed) || (quitAt_ >= 0 && clock_.elapsed() >= quitAt_);
  }
  // Quits by itself `ms` from now (the end of a timed run).
  void quitAfter(int64_t ms) { quitAt_ = clock_.elapsed() + ms; }
  // Ends the handler that runs as quickly as it can (see Host::quitting). Safe from any thread
  // and from a signal handler.
  void requestQuit() { quit_.store(true, std::memory_order_relaxed); }

  void setClipboardHandler(std::function<void(const std::string&)> h) { clipboard_ = std::move(h); }

  void runGuarded(const std::function<void()>& fn);
  bool inHandler() const { return depth_ > 0; }
  // Ticks that fired while a handler ran and were dropped, since construction.
  int droppedTicks() const { return dropped_; }
  int timerInterval() const { return timer_.isActive() ? timer_.interval() : 0; }

 private:
  void onTick();

  QElapsedTimer clock_;
  uint32_t origin_;
  QTimer timer_;
  std::function<void()> tick_;
  std::function<void(const std::string&)> clipboard_;
  int depth_ = 0;
  int dropped_ = 0;
  std::atomic<bool> quit_ = false;
  int64_t quitAt_ = -1;
  static_assert(std::atomic<bool>::is_always_lock_free);
};

}  // namespace kline
