#pragma once

// Watches a session's events for the main window's fault and immobiliser readouts and keeps the
// latest of each: the lines the window logged, which of them report a fault, and when.
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

enum class ReadoutKind { Faults, Immobiliser, Immobiliser2 };

struct Readout {
  ReadoutKind kind = ReadoutKind::Faults;
  std::vector<std::string> lines;  // as logged, in order
  std::vector<bool> fault;         // one flag per line
  // The fault bytes 0F, 10 and 11 (fault readout) or the state byte (immobiliser, first entry)
  // as the window read them; 0 when its echo was wrong.
  std::array<uint8_t, 3> bytes = {0, 0, 0};
  // Fault readout: the bytes name a fault (FaultStored), shown or not. Immobiliser: a state bit
  // is set.
  bool faultStored = false;
  uint32_t time = 0;  // the host's millisecond clock when the readout ended

  bool anyFaultLine() const;
};

// An observer of the main window (Form2): a readout runs with the poll loop stopped, between
// the timer's stop and its restart; it is recognised by the request bytes written meanwhile
// (0F 10 11 with thirteen lines logged; 71 or 72 alone). Every set bit of an immobiliser state
// is a condition to look at, so each of its lines reports a fault. A readout the ECU left
// unanswered changes nothing.
class FaultWatch : public EventSink {
 public:
  using Clock = std::function<uint32_t()>;
  using Listener = std::function<void(const Readout&)>;

  explicit FaultWatch(Clock clock, Listener listener = {})
      : clock_(std::move(clock)), listener_(std::move(listener)) {}

  void onLog(const std::string& win, const std::string& line) override;
  void onTx(const ByteString& bytes) override;
  void onRx(const ByteString& bytes) override;
  void onTimer(int interval) override;

  const std::optional<Readout>& faults() const { return faults_; }
  const std::optional<Readout>& immobiliser() const { return immo_; }
  const std::optional<Readout>& immobiliser2() const { return immo2_; }

 private:
  // The status byte of the answer to the i-th request: the byte after a correct echo, else 0.
  uint8_t status(std::size_t i) const;
  void finish();

  Clock clock_;
  Listener listener_;
  bool stopped_ = false;
  std::vector<std::pair<uint8_t, ByteString>> requests_;
  std::vector<std::string> lines_;
  std::optional<Readout> faults_, immo_, immo2_;
};

}  // namespace kline
