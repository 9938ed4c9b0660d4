#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/eventsink.h"

namespace kline {

// The facts that every JSON output of the programs writes in one shape (docs/json.md): a window
// by the user's word for it ("main", "tests", "diag"; another name as it is), an ECU type by its
// command-line name ("15rc", "p8-sensor"; another text as it is), a text of the
// window's as trimmed, a readout's bytes as two hex digits each ("0F"; the three fault bytes of a
// fault readout, the state byte of the others).
std::string WindowWord(const std::string& window);
std::string EcuWord(const std::string& ecu);
std::string JsonTrimmed(const std::string& text);
std::vector<std::string> ReadoutHexBytes(const Readout& r);

// Turns what a session publishes into JSON Lines, one object per event with `t_ms` in ms on the
// given clock (since the session's start): what the windows and the port do as
// {"t_ms":..,"ev":"set"|"log"|"tx"|...}, and each typed event as
// {"t_ms":..,"ev":"event","event":"test-ended"|"readout"|..., its fields}. A subclass says where
// each line goes. Runs on the session's thread.
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
