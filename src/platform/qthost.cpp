#include "platform/qthost.h"

#include <QCoreApplication>
#include <QThread>
#include <algorithm>

#include "platform/system.h"

namespace kline {

QtHost::QtHost(uint32_t clockOrigin, QObject* parent)
    : QObject(parent), origin_(clockOrigin), timer_(this) {
  clock_.start();
  sys::UseFineTimers();
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &QtHost::onTick);
}

uint32_t QtHost::timeGetTime() {
  return origin_ + static_cast<uint32_t>(static_cast<uint64_t>(clock_.elapsed()));
}

int64_t QtHost::micros() {
  return clock_.nsecsElapsed() / 1000;
}

void QtHost::Sleep(int ms) {
  if (ms <= 0 || quitting()) return;
  // A long pause is slept in slices so that a quit ends it within one slice.
  constexpr qint64 kSlice = 20;
  if (ms <= kSlice) {
    QThread::msleep(static_cast<unsigned long>(ms));
    return;
  }
  QElapsedTimer t;
  t.start();
  for (qint64 left = ms; left > 0 && !quitting(); left = ms - t.elapsed())
    QThread::msleep(static_cast<unsigned long>(std::min(left, kSlice)));
}

void QtHost::DoEvents() {
  QCoreApplication::processEvents();
}

void QtHost::setTimer(int intervalMs) {
  if (intervalMs <= 0) {
    timer_.stop();
    return;
  }
  timer_.start(intervalMs);
}

void QtHost::setClipboard(const std::string& text) {
  if (clipboard_) clipboard_(text);
}

void QtHost::runGuarded(const std::function<void()>& fn) {
  struct Depth {
    int& d;
    explicit Depth(int& v) : d(v) { ++d; }
    ~Depth() { --d; }
  } guard(depth_);
  fn();
}

void QtHost::onTick() {
  if (depth_ > 0) {
    ++dropped_;
    return;
  }
  if (tick_) runGuarded(tick_);
}

}  // namespace kline
