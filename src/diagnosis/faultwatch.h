#pragma once

// The latest fault and immobiliser readouts of a session: the lines the window logged, which of
// them report a fault, and when.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/eventsink.h"

namespace kline {

// Whether the fault bytes name a fault, by the readout's own decoding: the readout as a whole,
// and each set bit on its own (the readout compares bytes whole, so a byte with two bits set
// shows no fault line although both faults are stored).
bool FaultStored(uint8_t f1, uint8_t f2, uint8_t kind);

// For each of the thirteen lines of a fault readout, whether it reports a fault: it differs
// from the line the readout gives when no fault byte is set. Fewer lines than thirteen give
// fewer flags; lines past the thirteenth are never a fault.
std::vector<bool> FaultLineFlags(const std::vector<std::string>& lines);

// Keeps the latest fault and immobiliser readouts of the main window, as the logic publishes
// them (ev::ReadoutDone), and tells its listener of each. A readout the ECU left unanswered is
// never published, so it changes nothing. Session thread.
class FaultWatch : public EventSink {
 public:
  using Clock = std::function<uint32_t()>;
  using Listener = std::function<void(const Readout&)>;

  explicit FaultWatch(Clock clock, Listener listener = {})
      : clock_(std::move(clock)), listener_(std::move(listener)) {}

  void onEvent(const SessionEvent& e) override;

  const std::optional<Readout>& faults() const { return faults_; }
  const std::optional<Readout>& immobiliser() const { return immo_; }
  const std::optional<Readout>& immobiliser2() const { return immo2_; }

 private:
  Clock clock_;
  Listener listener_;
  std::optional<Readout> faults_, immo_, immo2_;
};

}  // namespace kline
