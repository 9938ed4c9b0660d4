#include "connection/firstanswerwatch.h"

namespace kline {

FirstAnswerWatch::FirstAnswerWatch(std::function<uint32_t()> clock,
                                   std::function<void(const ev::Connecting&)> offer)
    : clock_(std::move(clock)), offer_(std::move(offer)) {}

void FirstAnswerWatch::onEvent(const SessionEvent& e) {
  if (const auto* c = std::get_if<ev::Connecting>(&e)) {
    connection_ = *c;
    connected_ = true;
    answered_ = offered_ = false;
    since_ = clock_();
    return;
  }
  if (std::holds_alternative<ev::Disconnected>(e)) {
    connected_ = false;
    return;
  }
  // The burst of the types that send one is shown as the identification's first part; a value
  // in a field is an answer of any type.
  const auto* id = std::get_if<ev::EcuIdentified>(&e);
  if (std::holds_alternative<ev::EcuAnswered>(e) || (id && !id->isoCode.empty())) {
    if (connected_) answered_ = true;
    return;
  }
  poll();
}

void FirstAnswerWatch::onOpen(bool ok) {
  if (!ok) connected_ = false;
  poll();
}

void FirstAnswerWatch::poll() {
  if (!connected_ || answered_ || offered_ || clock_() - since_ < kWaitMs) return;
  offered_ = true;
  if (offer_) offer_(connection_);
}

}  // namespace kline
