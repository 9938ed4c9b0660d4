#include "connection/linkmonitor.h"

namespace kline {

LinkMonitor::LinkMonitor(std::function<const SerialPort*()> port, std::function<uint32_t()> clock,
                         std::function<void(const LinkStatus&)> changed)
    : port_(std::move(port)), clock_(std::move(clock)), changed_(std::move(changed)) {}

std::string LinkMonitor::portName() const {
  const SerialPort* p = port_ ? port_() : nullptr;
  return p ? p->deviceName() : std::string();
}

void LinkMonitor::onEvent(const SessionEvent& e) {
  const auto* answered = std::get_if<ev::EcuAnswered>(&e);
  if (!answered) return;
  if (answered->rpm && phase_ == Phase::Open) rpmStale_ = false;
  heard();
  update();
}

void LinkMonitor::heard() {
  if (phase_ != Phase::Open) return;
  heard_ = true;
  quietSince_ = clock_();
}

void LinkMonitor::onOpen(bool ok) {
  device_ = portName();
  heard_ = false;
  rpmStale_ = true;
  if (ok) {
    phase_ = Phase::Open;
    reason_.clear();
    quietSince_ = clock_();
  } else {
    phase_ = Phase::Failed;
    const SerialPort* p = port_ ? port_() : nullptr;
    reason_ = p ? p->openError() : std::string();
  }
  update();
}

void LinkMonitor::onClose() {
  phase_ = Phase::Closed;
  heard_ = false;
  rpmStale_ = true;
  update();
}

void LinkMonitor::onLost(const std::string& reason) {
  if (phase_ != Phase::Open) return;
  phase_ = Phase::Lost;
  reason_ = reason;
  rpmStale_ = true;
  update();
}

void LinkMonitor::onTimer(int interval) {
  const bool running = interval > 0;
  // Silence counts while the poll loop asks; a paused loop (a test, the other windows) asks
  // nothing, so its time does not count.
  if (running && !timerRunning_) quietSince_ = clock_();
  timerRunning_ = running;
  update();
}

void LinkMonitor::update() {
  LinkStatus s = status_;
  const std::string& dev = device_;
  s.valuesStale = false;
  s.rpmStale = rpmStale_;
  switch (phase_) {
    case Phase::Closed:
      s.state = LinkState::Idle;
      s.text = dev.empty() ? "Not connected" : "Port " + dev + " closed";
      break;
    case Phase::Failed:
      s.state = LinkState::OpenFailed;
      s.text = "Port " + dev + " not opened" + (reason_.empty() ? "" : ": " + reason_);
      break;
    case Phase::Lost:
      s.state = LinkState::Lost;
      s.text = "Port " + dev + " lost: " + reason_;
      s.valuesStale = heard_;
      break;
    case Phase::Open: {
      const uint32_t quiet = clock_() - quietSince_;
      if (timerRunning_ && quiet >= kSilenceMs) {
        s.state = LinkState::Silent;
        const std::string secs = std::to_string(quiet / 1000);
        s.text = "No answer from the ECU on " + dev + " for " + secs + " s: " +
                 (heard_ ? "is the ignition still on? Check the cable"
                         : "switch the ignition on, check that the adapter is powered and that " +
                               dev + " is its port");
        s.valuesStale = heard_;
      } else if (heard_) {
        s.state = LinkState::Live;
        s.text = "Port " + dev + " open, the ECU answers";
      } else {
        s.state = LinkState::Waiting;
        s.text = "Port " + dev + " open, waiting for the ECU";
      }
      break;
    }
  }
  if (s == status_) return;
  status_ = s;
  if (changed_) changed_(status_);
}

}  // namespace kline
