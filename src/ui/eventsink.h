#pragma once

#include <string>
#include <variant>
#include <vector>

#include "ui/sessionevents.h"

namespace kline {

// A byte string: each char carries one byte value 0..255 (read it as unsigned char).
using ByteString = std::string;

// Properties of a control that the logic writes and observers see.
enum class Prop { Text, Caption, Value, Enabled, Visible, Colour, Max, Items };

const char* propName(Prop p);

using PropValue = std::variant<bool, int, std::string, std::vector<std::string>>;

// Everything a session publishes: control writes and log lines of the windows, and what happens
// on the port and the timer. Called on the session thread; the front ends forward or print it.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void onSet(const std::string& /*win*/, const std::string& /*ctl*/, Prop /*prop*/,
                     const PropValue& /*value*/) {}
  virtual void onLog(const std::string& /*win*/, const std::string& /*line*/) {}
  virtual void onTx(const ByteString& /*bytes*/) {}
  virtual void onRx(const ByteString& /*bytes*/) {}
  virtual void onBaud(int /*value*/, bool /*ok*/) {}
  virtual void onOpen(bool /*ok*/) {}
  virtual void onClose() {}
  // The device went away while open (an adapter unplugged, the far end of a pty closed).
  virtual void onLost(const std::string& /*reason*/) {}
  virtual void onTimer(int /*interval*/) {}
  // A remark about the port for the status line (not a log line of the window): for instance
  // that the driver's low-latency mode could not be set.
  virtual void onNotice(const std::string& /*text*/) {}
  // What happened, as a typed event (see sessionevents.h).
  virtual void onEvent(const SessionEvent& /*event*/) {}
};

// Hands every event to several sinks in order.
class EventFanout : public EventSink {
 public:
  void add(EventSink* s) { sinks_.push_back(s); }
  void onSet(const std::string& w, const std::string& c, Prop p, const PropValue& v) override {
    for (auto* s : sinks_) s->onSet(w, c, p, v);
  }
  void onLog(const std::string& w, const std::string& l) override {
    for (auto* s : sinks_) s->onLog(w, l);
  }
  void onTx(const ByteString& b) override {
    for (auto* s : sinks_) s->onTx(b);
  }
  void onRx(const ByteString& b) override {
    for (auto* s : sinks_) s->onRx(b);
  }
  void onBaud(int v, bool ok) override {
    for (auto* s : sinks_) s->onBaud(v, ok);
  }
  void onOpen(bool ok) override {
    for (auto* s : sinks_) s->onOpen(ok);
  }
  void onClose() override {
    for (auto* s : sinks_) s->onClose();
  }
  void onLost(const std::string& r) override {
    for (auto* s : sinks_) s->onLost(r);
  }
  void onTimer(int i) override {
    for (auto* s : sinks_) s->onTimer(i);
  }
  void onNotice(const std::string& t) override {
    for (auto* s : sinks_) s->onNotice(t);
  }
  void onEvent(const SessionEvent& e) override {
    for (auto* s : sinks_) s->onEvent(e);
  }

 private:
  std::vector<EventSink*> sinks_;
};

}  // namespace kline
