#pragma once

// A main window on virtual time against the simulated ECU, with every event recorded at its
// virtual time.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connection/form2.h"
#include "session/sessioncore.h"
#include "sim/simecu.h"
#include "sim/virtualhost.h"

namespace kline::test {

struct Recorded {
  uint64_t t;
  std::string ev;  // tx, rx, log, set, baud, open, close, timer
  std::string win, ctl, prop;
  std::string text;  // hex for tx/rx, line for log, value for set (strings and numbers)
  int num = 0;
  bool ok = false;
};

class Recorder : public EventSink {
 public:
  explicit Recorder(VirtualHost& h) : host_(h) {}
  void onSet(const std::string& w, const std::string& c, Prop p, const PropValue& v) override;
  void onLog(const std::string& w, const std::string& l) override { add("log", w, l); }
  void onTx(const ByteString& b) override;
  void onRx(const ByteString& b) override;
  void onBaud(int v, bool ok) override;
  void onOpen(bool ok) override;
  void onClose() override { add("close", "", ""); }
  void onTimer(int i) override;

  std::vector<Recorded> events;
  std::vector<Recorded> of(const std::string& ev) const;
  std::vector<std::string> logLines(const std::string& win = "Form2") const;
  // "T:HEX" for each write, for asserting bytes with their times.
  std::vector<std::string> txTimeline() const;

 private:
  Recorded& add(const std::string& ev, const std::string& win, const std::string& text);
  VirtualHost& host_;
};

// Calls `fn` with whether the cycle ran to its end after each live cycle the window publishes.
class OnLiveCycle : public EventSink {
 public:
  explicit OnLiveCycle(std::function<void(bool completed)> fn) : fn_(std::move(fn)) {}
  void onEvent(const SessionEvent& e) override {
    if (const auto* c = std::get_if<ev::LiveCycle>(&e)) fn_(c->completed);
  }

 private:
  std::function<void(bool)> fn_;
};

class SimSession {
 public:
  // The port field "sim" opens the simulated ECU described by `cfg` (as it is at Connect); any
  // other text a port that never opens.
  explicit SimSession(SimConfig cfg, std::string settingsPath = {}, bool load = true);
  ~SimSession();

  // Selects the option (if given), types the port and presses Connect.
  void connect(const char* option = nullptr, const char* port = "sim");
  void disconnect();
  void run(uint64_t ms) { host.runFor(ms); }

  SimConfig cfg;
  VirtualHost host;
  Recorder rec{host};
  // The window's observers: the recorder, then whatever a test adds.
  EventFanout sinks;
  std::string settingsPath;
  std::unique_ptr<SessionCore> core;
  Form2* form = nullptr;
  // The simulated port made at the last connect.
  struct LastSim {
    const SessionCore* core;
    SimEcu* operator->() const { return core->lastSim(); }
  } sim{nullptr};
  // The port texts asked for, one per connect.
  const std::vector<std::string>& opened;
};

// A fresh folder of its own in the temporary folder.
std::filesystem::path TempFolder();
// A settings file path in a fresh temporary folder.
std::string TempSettingsPath();

}  // namespace kline::test
