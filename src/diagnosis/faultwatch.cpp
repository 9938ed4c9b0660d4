#include "diagnosis/faultwatch.h"

#include <algorithm>

#include "diagnosis/faulttexts.h"

namespace kline {

bool FaultStored(uint8_t f1, uint8_t f2, uint8_t kind) {
  const auto ok = FaultLines(0, 0, 0);
  if (FaultLines(f1, f2, kind) != ok) return true;
  for (int bit = 0; bit < 8; ++bit) {
    auto b = static_cast<uint8_t>(1u << bit);
    if ((f1 & b) && FaultLines(b, 0, 0) != ok) return true;
    if ((f2 & b) && FaultLines(0, b, 0) != ok) return true;
  }
  return false;
}

std::vector<bool> FaultLineFlags(const std::vector<std::string>& lines) {
  static const std::vector<std::string> ok = FaultLines(0, 0, 0);
  std::vector<bool> out;
  for (std::size_t i = 0; i < lines.size(); ++i) out.push_back(i < ok.size() && lines[i] != ok[i]);
  return out;
}

bool Readout::anyFaultLine() const {
  return std::find(fault.begin(), fault.end(), true) != fault.end();
}

void FaultWatch::onLog(const std::string& win, const std::string& line) {
  if (stopped_ && win == "Form2") lines_.push_back(line);
}

void FaultWatch::onTx(const ByteString& bytes) {
  if (!stopped_) return;
  for (char c : bytes) requests_.push_back({static_cast<uint8_t>(c), {}});
}

void FaultWatch::onRx(const ByteString& bytes) {
  if (stopped_ && !requests_.empty()) requests_.back().second += bytes;
}

void FaultWatch::onTimer(int interval) {
  if (interval == 0) {
    // A stop inside a stop (a handler that stops the loop again) keeps what came so far.
    if (!stopped_) {
      requests_.clear();
      lines_.clear();
    }
    stopped_ = true;
    return;
  }
  if (stopped_) finish();
  stopped_ = false;
}

uint8_t FaultWatch::status(std::size_t i) const {
  const auto& [code, reply] = requests_[i];
  return reply.size() >= 2 && static_cast<uint8_t>(reply[0]) == code
             ? static_cast<uint8_t>(reply[1])
             : 0;
}

void FaultWatch::finish() {
  std::vector<uint8_t> codes;
  for (const auto& r : requests_) codes.push_back(r.first);
  Readout r;
  std::optional<Readout>* slot = nullptr;
  if (codes == std::vector<uint8_t>{0x0F, 0x10, 0x11} && lines_.size() == 13) {
    r.kind = ReadoutKind::Faults;
    r.bytes = {status(0), status(1), status(2)};
    r.fault = FaultLineFlags(lines_);
    r.faultStored = FaultStored(r.bytes[0], r.bytes[1], r.bytes[2]) || r.anyFaultLine();
    slot = &faults_;
  } else if (codes.size() == 1 && (codes[0] == 0x71 || codes[0] == 0x72)) {
    // No answer (nothing after the echo) is no readout; an answer with no bit set is one.
    if (requests_[0].second.size() < 2) return;
    r.kind = codes[0] == 0x71 ? ReadoutKind::Immobiliser : ReadoutKind::Immobiliser2;
    r.bytes = {status(0), 0, 0};
    r.fault.assign(lines_.size(), true);
    r.faultStored = !lines_.empty();
    slot = codes[0] == 0x71 ? &immo_ : &immo2_;
  } else {
    return;
  }
  r.lines = lines_;
  r.time = clock_ ? clock_() : 0;
  *slot = r;
  if (listener_) listener_(**slot);
}

}  // namespace kline
