#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "serial/serialport.h"
#include "ui/eventsink.h"

namespace kline {

// Tells the truth about the link from what a session publishes: the port's open, close and loss,
// the poll loop's timer, and the values the window took from the ECU (ev::EcuAnswered). It never
// talks to the port and changes nothing in the window's logic. Lives where the events are published
// (the session thread); `changed` runs there after every change of the status.
class LinkMonitor : public EventSink {
 public:
  // How long the poll loop may run without a word from the ECU before the user is told.
  static constexpr uint32_t kSilenceMs = 5000;

  // `port` gives the main window's current port (or null), for its name and the reasons of
  // failures; `clock` is the host's millisecond clock.
  LinkMonitor(std::function<const SerialPort*()> port, std::function<uint32_t()> clock,
              std::function<void(const LinkStatus&)> changed = {});

  const LinkStatus& status() const { return status_; }

  // Looks at the clock again: a silence passes its limit without any event.
  void poll() { update(); }

  void onEvent(const SessionEvent& e) override;
  void onSet(const std::string&, const std::string&, Prop, const PropValue&) override { update(); }
  void onLog(const std::string&, const std::string&) override { update(); }
  void onTx(const ByteString&) override { update(); }
  void onRx(const ByteString&) override { update(); }
  void onOpen(bool ok) override;
  void onClose() override;
  void onLost(const std::string& reason) override;
  void onTimer(int interval) override;

 private:
  void heard();
  void update();
  std::string portName() const;

  std::function<const SerialPort*()> port_;
  std::function<uint32_t()> clock_;
  std::function<void(const LinkStatus&)> changed_;
  LinkStatus status_;

  // The port's side of the state; while it is open, Waiting, Live and Silent are worked out
  // from what was heard and when.
  enum class Phase { Closed, Failed, Open, Lost };
  Phase phase_ = Phase::Closed;
  std::string device_;
  std::string reason_;
  bool heard_ = false;
  bool timerRunning_ = false;
  bool rpmStale_ = true;
  uint32_t quietSince_ = 0;
};

}  // namespace kline
