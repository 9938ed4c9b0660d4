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

void FaultWatch::onEvent(const SessionEvent& e) {
  const auto* done = std::get_if<ev::ReadoutDone>(&e);
  if (!done) return;
  std::optional<Readout>* slot = nullptr;
  switch (done->readout.kind) {
    case ReadoutKind::Faults:
      slot = &faults_;
      break;
    case ReadoutKind::Immobiliser:
      slot = &immo_;
      break;
    case ReadoutKind::Immobiliser2:
      slot = &immo2_;
      break;
    case ReadoutKind::Diag:
      return;
  }
  *slot = done->readout;
  if (clock_) (*slot)->time = clock_();
  if (listener_) listener_(**slot);
}

}  // namespace kline
