#include "actuators/actionguard.h"

#include <cctype>

#include "actuators/form1.h"
#include "livedata/channels.h"
#include "serial/text.h"

namespace kline {

void ActionGuard::onEvent(const SessionEvent& e) {
  if (std::holds_alternative<ev::Connecting>(e)) {
    running_ = true;
    rpm_.reset();
    faultsEarlier_ = faults_.has_value();
  } else if (std::holds_alternative<ev::Disconnected>(e)) {
    running_ = false;
    rpm_.reset();
  } else if (const auto* c = std::get_if<ev::LiveCycle>(&e)) {
    // A cycle abandoned before the engine speed keeps the last one known.
    const ev::ChannelReading& rpm = c->channels[0];
    if (rpm.value) {
      rpm_ = rpm.value;
      rpmText_ = rpm.text;
    }
  } else if (const auto* r = std::get_if<ev::ReadoutDone>(&e)) {
    if (r->readout.kind == ReadoutKind::Faults) {
      faults_ = r->readout;
      faultsEarlier_ = false;
    }
  }
}

ActionGuard::Question ActionGuard::check(const std::string& name, bool clearsFaults) const {
  Question q;
  if (!running_) return q;
  const bool turning = rpm_ && *rpm_ > 0;
  const std::string engine =
      turning ? "The engine turns at " + rpmText_ + " " + LiveChannels()[0].unit : std::string();
  if (clearsFaults) {
    q.ask = q.clearsFaults = true;
    q.title = "Clear the stored faults?";
    q.text = "\"" + name + "\" erases the faults stored in the ECU; they cannot be read again.";
    if (turning) q.text += "\n" + engine + ".";
    q.text += "\nClear them?";
    q.go = "Clear faults";
    if (!faults_) {
      q.faults =
          "No fault readout this session: what would be erased is unknown (\"DTC\" reads it).";
    } else {
      std::string lines;
      for (std::size_t i = 0; i < faults_->lines.size(); ++i)
        if (i < faults_->fault.size() && faults_->fault[i]) lines += "\n" + faults_->lines[i];
      q.faults =
          lines.empty() ? "The last fault readout found no fault." : "Faults last read:" + lines;
      if (faultsEarlier_) q.faults += "\n(Read on an earlier connection.)";
      if (!faults_->trusted)
        q.faults += "\n(Read while the line carried bytes nobody asked for: it may be noise.)";
    }
    return q;
  }
  if (turning) {
    q.ask = true;
    q.title = "The engine turns";
    q.text = engine + ": run " + name + " anyway?";
    q.go = "Run anyway";
  }
  return q;
}

bool TestButtonClearsFaults(int n, bool codesA, const std::string& customCode) {
  if (n < 1 || n > 9) return false;
  const ActuatorTest* tests = ActuatorTests();
  if (n != 8) return tests[n - 1].clearsFaults;
  // The custom code is read as the window reads it: one or two hexadecimal digits.
  const std::string code = Trim(customCode);
  if (code.empty() || code.size() > 2) return false;
  for (char ch : code)
    if (!std::isxdigit(static_cast<unsigned char>(ch))) return false;
  const int byte = std::stoi(code, nullptr, 16);
  for (int i = 0; i < 9; ++i)
    if (tests[i].clearsFaults && byte == (codesA ? tests[i].codeA : tests[i].codeB)) return true;
  return false;
}

}  // namespace kline
