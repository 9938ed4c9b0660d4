#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/eventsink.h"

namespace kline {

// Watches a connection for the ECU's first word and says when to offer the user the checklist
// of a first connection that fails: after Connect, when neither a wake-up burst nor any value
// from the ECU came within kWaitMs of the session's clock. Once per Connect; never once the ECU
// has answered, after Disconnect, or for a port that did not open (the link says why then).
// Only observes: it sends nothing and names no control. Lives on the session thread, where the
// events are published; `offer` runs there.
class FirstAnswerWatch : public EventSink {
 public:
  static constexpr uint32_t kWaitMs = 5000;

  // `clock` is the host's millisecond clock; `offer` is told the connection that waits.
  FirstAnswerWatch(std::function<uint32_t()> clock,
                   std::function<void(const ev::Connecting&)> offer = {});

  // The ECU has said something since the last Connect (its burst, or a value), early or late.
  bool answered() const { return answered_; }
  // The checklist was offered for the last Connect.
  bool offered() const { return offered_; }
  // The last Connect's port and ECU type.
  const ev::Connecting& connection() const { return connection_; }

  // Looks at the clock again: the wait passes its limit without any event.
  void poll();

  void onEvent(const SessionEvent& e) override;
  void onSet(const std::string&, const std::string&, Prop, const PropValue&) override { poll(); }
  void onLog(const std::string&, const std::string&) override { poll(); }
  void onTx(const ByteString&) override { poll(); }
  void onRx(const ByteString&) override { poll(); }
  void onTimer(int) override { poll(); }
  void onOpen(bool ok) override;
  void onLost(const std::string&) override { connected_ = false; }

 private:
  std::function<uint32_t()> clock_;
  std::function<void(const ev::Connecting&)> offer_;
  ev::Connecting connection_;
  bool connected_ = false;  // from Connect to Disconnect, while the port is usable
  bool answered_ = false;
  bool offered_ = false;
  uint32_t since_ = 0;
};

}  // namespace kline
