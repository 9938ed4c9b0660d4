#include "ui/sessionevents.h"

#include <algorithm>

namespace kline {

const char* LinkStateName(LinkState s) {
  switch (s) {
    case LinkState::Idle:
      return "idle";
    case LinkState::OpenFailed:
      return "open-failed";
    case LinkState::Waiting:
      return "waiting";
    case LinkState::Live:
      return "live";
    case LinkState::Silent:
      return "silent";
    case LinkState::Lost:
      return "lost";
    case LinkState::Babbling:
      return "babbling";
  }
  return "?";
}

const char* ReadoutKindName(ReadoutKind k) {
  switch (k) {
    case ReadoutKind::Faults:
      return "faults";
    case ReadoutKind::Immobiliser:
      return "immobiliser";
    case ReadoutKind::Immobiliser2:
      return "immobiliser2";
    case ReadoutKind::Diag:
      return "diag";
  }
  return "faults";
}

bool Readout::anyFaultLine() const {
  return std::find(fault.begin(), fault.end(), true) != fault.end();
}

namespace ev {

const char* VerdictName(Verdict v) {
  switch (v) {
    case Verdict::Passed:
      return "passed";
    case Verdict::Failed:
      return "failed";
    case Verdict::Unknown:
      return "unknown";
    case Verdict::Cancelled:
      return "cancelled";
  }
  return "?";
}

Verdict VerdictOfShown(const std::string& shown) {
  if (shown == "OK" || shown == "Test finish") return Verdict::Passed;
  if (shown == "Erreur" || shown == "Test failed") return Verdict::Failed;
  return Verdict::Unknown;
}

}  // namespace ev

const char* EventName(const SessionEvent& e) {
  static const char* const kNames[] = {
      "link",           "connecting", "ecu-answered", "disconnected",
      "ecu-identified", "live-cycle", "loop-paused",  "readout",
      "test-started",   "test-ended", "trimmer-set",  "co-regulation",
  };
  static_assert(std::size(kNames) == std::variant_size_v<SessionEvent>);
  return kNames[e.index()];
}

}  // namespace kline
