#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "serial/serialport.h"
#include "ui/eventsink.h"

namespace kline {

// What the link is doing, as far as the user can act on it.
enum class LinkState {
  Idle,        // no port open
  OpenFailed,  // the last Connect could not open the port
  Waiting,     // port open, nothing heard from the ECU yet
  Live,        // the ECU answers
  Silent,      // port open, the poll loop runs, and the ECU has said nothing for a while
  Lost,        // the device went away while open
};

const char* LinkStateName(LinkState s);

// The link as the window and the command line show it.
struct LinkStatus {
  LinkState state = LinkState::Idle;
  // One line for the status bar or stderr.
  std::string text = "Not connected";
  // The value fields hold readings that are no longer coming in.
  bool valuesStale = false;
  // The engine-speed readout and bar show a reading from before the port was last opened (or
  // lost): they are live again at the next computed engine speed.
  bool rpmStale = true;
  // "Wait for ignition.." is still up although the ECU answers.
  bool waitCaptionOutdated = false;
  bool operator==(const LinkStatus&) const = default;
};

// Tells the truth about the link from what a session publishes: the port's open, close and loss,
// the poll loop's timer, and the main window's writes of values from the ECU. It never talks to
// the port and changes nothing in the window's logic. Lives where the events are published (the
// session thread); `changed` runs there after every change of the status.
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

  void onSet(const std::string& win, const std::string& ctl, Prop prop,
             const PropValue& value) override;
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
  bool waitCaption_ = false;
  bool rpmStale_ = true;
  uint32_t quietSince_ = 0;
};

}  // namespace kline
