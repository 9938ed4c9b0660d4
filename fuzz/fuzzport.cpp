#include "fuzzport.h"

namespace kline::fuzz {

void FuzzPort::deliver(uint64_t at, uint8_t byte) {
  pending_.push({at, seq_++, byte});
}

void FuzzPort::advance() {
  if (!open_ || lost()) return;
  uint64_t now = clock_();
  if (opt_.lostAfterMs >= 0 && now - openedAt_ >= static_cast<uint64_t>(opt_.lostAfterMs)) {
    pending_ = {};
    rx_.clear();
    reportLost("the adapter went away");
    return;
  }
  while (!pending_.empty() && pending_.top().at <= now) {
    rx_.push_back(pending_.top().byte);
    pending_.pop();
    event_ = kEventReceive;
  }
}

void FuzzPort::doOpen() {
  if (!opt_.opens) return;
  clearLost();
  open_ = true;
  openedAt_ = clock_();
  event_ = kEventNone;
  line_ = parseSettings(Settings);
  pending_ = {};
  rx_.clear();
  uint64_t at = openedAt_ + static_cast<uint64_t>(in_.byte()) * 20;
  int n = in_.byte() % 16;
  for (int i = 0; i < n; ++i) deliver(at + static_cast<uint64_t>(i) * 9, in_.byte());
}

void FuzzPort::doClose() {
  open_ = false;
  pending_ = {};
  rx_.clear();
}

int FuzzPort::inBufferCount() {
  advance();
  return static_cast<int>(rx_.size());
}

int16_t FuzzPort::commEvent() {
  advance();
  return event_;
}

bool FuzzPort::getLineSettings(LineSettings& out) {
  if (!isOpen()) return false;
  out = line_;
  return true;
}

bool FuzzPort::doSetLineSettings(const LineSettings& in) {
  if (!isOpen() || opt_.baudRefused) return false;
  line_ = in;
  return true;
}

void FuzzPort::doWrite(const ByteString& bytes) {
  advance();
  if (!isOpen()) return;
  static constexpr int kAnswerLength[4] = {1, 0, 2, 4};
  static constexpr int kDelayMs[7] = {2, 0, 5, 20, 100, 1000, 2100};
  uint64_t now = clock_();
  for (char written : bytes) {
    if (in_.exhausted()) return;
    uint8_t c = in_.byte();
    uint64_t echoAt = now + 2;  // a byte at 7812 baud takes about 1.3 ms
    if (!(c & 0x01)) deliver(echoAt, (c & 0x02) ? in_.byte() : static_cast<uint8_t>(written));
    int d = (c >> 4) & 0x07;
    uint64_t answerAt = echoAt + static_cast<uint64_t>(d < 7 ? kDelayMs[d] : in_.byte() * 16);
    int n = kAnswerLength[(c >> 2) & 0x03];
    for (int i = 0; i < n; ++i) deliver(answerAt + static_cast<uint64_t>(i), in_.byte());
    if (c & 0x80) {
      uint8_t k = in_.byte();
      for (int i = 0; i < (k & 7); ++i) deliver(answerAt + n + (k >> 3), in_.byte());
    }
  }
}

ByteString FuzzPort::doReadAll() {
  advance();
  ByteString out(rx_.begin(), rx_.end());
  rx_.clear();
  return out;
}

}  // namespace kline::fuzz
