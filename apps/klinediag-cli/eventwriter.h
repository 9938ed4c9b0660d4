#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "ui/eventsink.h"

namespace kline {

// Writes a session's events as JSON Lines, one object per event with `t` in ms since start: what
// the windows and the port do as {"t":..,"ev":"set"|"log"|"tx"|...}, and each typed event of the
// session as {"t":..,"ev":"event","event":"test-ended"|"readout"|..., its fields}.
class JsonEventWriter : public EventSink {
 public:
  JsonEventWriter(std::ostream& out, std::function<uint64_t()> clock, bool flushEach)
      : out_(out), clock_(std::move(clock)), flush_(flushEach) {}
  void onSet(const std::string& w, const std::string& c, Prop p, const PropValue& v) override;
  void onLog(const std::string& w, const std::string& line) override;
  void onTx(const ByteString& b) override;
  void onRx(const ByteString& b) override;
  void onBaud(int v, bool ok) override;
  void onOpen(bool ok) override;
  void onClose() override;
  void onLost(const std::string& reason) override;
  void onTimer(int interval) override;
  void onEvent(const SessionEvent& e) override;

 private:
  template <class J>
  void put(J&& obj);
  std::ostream& out_;
  std::function<uint64_t()> clock_;
  bool flush_;
};

// Writes one window's log pane as plain lines.
class LogLineWriter : public EventSink {
 public:
  LogLineWriter(std::ostream& out, std::string window, bool flushEach)
      : out_(out), window_(std::move(window)), flush_(flushEach) {}
  void onLog(const std::string& w, const std::string& line) override;

 private:
  std::ostream& out_;
  std::string window_;
  bool flush_;
};

// What a person likes to read: the log lines of every window and the new lines of the ECU info
// pane as they come.
class ReadableWriter : public EventSink {
 public:
  ReadableWriter(std::ostream& out, bool flushEach) : out_(out), flush_(flushEach) {}
  void onEvent(const SessionEvent& e) override;
  void onLog(const std::string& w, const std::string& line) override;

 private:
  std::ostream& out_;
  bool flush_;
};

}  // namespace kline
