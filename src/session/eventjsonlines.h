#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ui/eventsink.h"

namespace kline {

// Turns what a session publishes into JSON Lines, one object per event with `t` in ms on the
// given clock: what the windows and the port do as {"t":..,"ev":"set"|"log"|"tx"|...}, and each
// typed event as {"t":..,"ev":"event","event":"test-ended"|"readout"|..., its fields}. A
// subclass says where each line goes. Runs on the session's thread.
class EventJsonLines : public EventSink {
 public:
  explicit EventJsonLines(std::function<uint64_t()> clock) : clock_(std::move(clock)) {}

  void onSet(const std::string& w, const std::string& c, Prop p, const PropValue& v) override;
  void onLog(const std::string& w, const std::string& text) override;
  void onTx(const ByteString& b) override;
  void onRx(const ByteString& b) override;
  void onBaud(int v, bool ok) override;
  void onOpen(bool ok) override;
  void onClose() override;
  void onLost(const std::string& reason) override;
  void onTimer(int interval) override;
  void onEvent(const SessionEvent& e) override;

 protected:
  // One line, without its end, stamped `t`.
  virtual void line(uint64_t t, std::string text) = 0;

 private:
  std::function<uint64_t()> clock_;
};

}  // namespace kline
