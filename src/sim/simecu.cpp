#include "sim/simecu.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace kline {

namespace {

const char* identification(EcuType t) {
  switch (t) {
    case EcuType::E15m:
      return "KL15M-0427";
    case EcuType::E16m:
      return "KL16M-0311";
    case EcuType::E15Rc:
      return "KL15R-0102";
    case EcuType::P8:
      return "KLP8--0815";
  }
  return "";
}

constexpr const char* kCalibration = "CAL01.07";
constexpr uint8_t kHandshake[3] = {0x0F, 0xAA, 0xCC};

}  // namespace

std::optional<uint8_t> RecordAnswer(EcuType type, uint8_t code) {
  if (code >= 0x17 && code <= 0x20) return static_cast<uint8_t>(identification(type)[code - 0x17]);
  if (code >= 0x21 && code <= 0x28) return static_cast<uint8_t>(kCalibration[code - 0x21]);
  return std::nullopt;
}

SimEcu::SimEcu(SimConfig config, std::function<int64_t()> micros)
    : cfg_(std::move(config)), micros_(std::move(micros)) {
  CommPort = "sim";
}

int64_t SimEcu::ByteMicros(int baud) {
  return baud > 0 ? std::llround(1e7 / baud) : 0;
}

void SimEcu::push(int64_t at, Event::Kind kind, uint8_t byte, int baud) {
  events_.push(Event{at, seq_++, kind, byte, baud});
}

void SimEcu::doOpen() {
  clearLost();
  open_ = true;
  baud_ = parseSettings(Settings).baud;
  event_ = kEventNone;
  rx_.clear();
  events_ = {};
  babbleAt_ = -1;
  babbled_ = 0;
  openedAt_ = micros_();
  txFree_ = ecuFree_ = openedAt_;
  handshake_ = 0;
  phase_ = Phase::Asleep;
  diag_ = co_ = false;
  ecuBaud_ = cfg_.type == EcuType::P8 ? 7812 : 1200;
  engine_ = EngineModel(cfg_.type);
  push(openedAt_ + static_cast<int64_t>(cfg_.ignitionMs) * 1000, Event::Wake, 0, 0);
}

void SimEcu::doClose() {
  open_ = false;
  rx_.clear();
  events_ = {};
  phase_ = Phase::Asleep;
}

bool SimEcu::getLineSettings(LineSettings& out) {
  if (!isOpen()) return false;
  out = parseSettings(Settings);
  out.baud = baud_;
  return true;
}

bool SimEcu::doSetLineSettings(const LineSettings& in) {
  if (!isOpen() || in.baud <= 0) return false;
  advance();
  baud_ = in.baud;
  return true;
}

void SimEcu::advance() {
  int64_t now = micros_();
  if (open_ && cfg_.lostAfterMs >= 0 &&
      now - openedAt_ >= static_cast<int64_t>(cfg_.lostAfterMs) * 1000) {
    // The adapter is pulled out: nothing more arrives, and the port counts as closed.
    events_ = {};
    rx_.clear();
    reportLost("the device went away (the simulated adapter was unplugged)");
    return;
  }
  // A babbling ECU fills the line back to back; what it says arrives before anything else due.
  // Like a driver's buffer, the port keeps at most kRxCapacity unread bytes.
  if (babbleAt_ >= 0 && babbleAt_ <= now) {
    const int64_t per = ByteMicros(ecuBaud_);
    const int64_t due = (now - babbleAt_) / per + 1;
    babbleAt_ += due * per;
    if (ecuBaud_ == baud_) {
      const int64_t room = static_cast<int64_t>(kRxCapacity) - static_cast<int64_t>(rx_.size());
      babbled_ += static_cast<std::size_t>(std::max<int64_t>(0, due - room));
      for (int64_t i = 0; i < std::min(due, room); ++i)
        rx_.push_back(static_cast<uint8_t>(cfg_.babble[babbled_++ % cfg_.babble.size()]));
      event_ = kEventReceive;
    }
  }
  while (!events_.empty() && events_.top().at <= now) {
    Event e = events_.top();
    events_.pop();
    switch (e.kind) {
      case Event::Arrive:
        // A byte sent at another rate than the port's arrives as nothing readable.
        if (open_ && (e.baud == 0 || e.baud == baud_)) {
          rx_.push_back(e.byte);
          event_ = kEventReceive;
        }
        break;
      case Event::EcuHears:
        if (e.baud == ecuBaud_) ecuHears(e.at, e.byte);
        break;
      case Event::Wake:
        if (!cfg_.babble.empty()) babbleAt_ = e.at + ByteMicros(ecuBaud_);
        if (cfg_.type == EcuType::P8) {
          phase_ = Phase::Ready;
        } else {
          phase_ = Phase::AwaitAnswer;
          if (cfg_.type != EcuType::E15Rc) ecuSends(e.at, cfg_.burst);
        }
        break;
    }
  }
}

void SimEcu::ecuSends(int64_t at, const ByteString& bytes) {
  int64_t t = std::max(at, ecuFree_);
  int64_t per = ByteMicros(ecuBaud_);
  for (char c : bytes) {
    t += per;
    push(t, Event::Arrive, static_cast<uint8_t>(c), ecuBaud_);
  }
  ecuFree_ = t;
}

void SimEcu::ecuHears(int64_t at, uint8_t byte) {
  if (phase_ == Phase::Asleep) return;
  if (phase_ == Phase::AwaitAnswer) {
    handshake_ = byte == kHandshake[handshake_] ? handshake_ + 1 : (byte == kHandshake[0] ? 1 : 0);
    if (handshake_ == 3) {
      phase_ = Phase::Ready;
      ecuBaud_ = 7812;
    }
    return;
  }
  if (cfg_.silentAfterMs >= 0 && at - openedAt_ > static_cast<int64_t>(cfg_.silentAfterMs) * 1000)
    return;
  if (cfg_.silent.count(byte) || cfg_.replies.count(byte)) return;
  // The description's answers win over every register; diagnostic mode still follows the bytes.
  std::optional<uint8_t> answer = diagnosticAnswer(at, byte);
  if (auto it = cfg_.answers.find(byte); it != cfg_.answers.end()) answer = it->second;
  if (!answer) answer = RecordAnswer(cfg_.type, byte);
  if (!answer) answer = StatusAnswer(cfg_.type, byte);
  if (!answer) answer = engine_.answer(byte, static_cast<double>(at - openedAt_) / 1000.0);
  if (!answer) return;
  double latency = cfg_.latencyMs;
  if (auto it = cfg_.lateMs.find(byte); it != cfg_.lateMs.end()) latency = it->second;
  ByteString out(1, static_cast<char>(*answer));
  if (auto it = cfg_.stray.find(byte); it != cfg_.stray.end()) out += it->second;
  ecuSends(at + std::llround(latency * 1000), out);
}

std::optional<uint8_t> SimEcu::diagnosticAnswer(int64_t at, uint8_t byte) {
  if (co_) {
    if (byte == 0xFF) co_ = false;
    return byte;
  }
  if (byte == 0xAA) {
    diag_ = true;
    return 0xFF;
  }
  if (!diag_) return std::nullopt;
  if (byte == 0xFF) {
    diag_ = false;
    return 0xFF;
  }
  if (byte == 0x8D) {
    co_ = true;
    return 0x8D;
  }
  if ((byte >= 0x80 && byte <= 0x89) || cfg_.tests.count(byte)) {
    SimConfig::Test t;
    if (auto it = cfg_.tests.find(byte); it != cfg_.tests.end()) t = it->second;
    // The verdict comes on its own later; it does not hold up the answer that goes out now.
    int64_t when = at + static_cast<int64_t>(t.afterMs) * 1000;
    for (char v : t.verdict)
      push(when += ByteMicros(ecuBaud_), Event::Arrive, static_cast<uint8_t>(v), ecuBaud_);
    return t.answer;
  }
  return std::nullopt;
}

void SimEcu::doWrite(const ByteString& bytes) {
  if (!open_) return;
  advance();
  if (lost()) return;
  int64_t now = micros_();
  int64_t per = ByteMicros(baud_);
  for (char c : bytes) {
    uint8_t b = static_cast<uint8_t>(c);
    int64_t start = std::max(now, txFree_);
    int64_t end = start + per;
    txFree_ = end;
    if (auto it = cfg_.replies.find(b); it != cfg_.replies.end()) {
      // The line returns exactly these bytes, paced at the port's rate.
      int64_t t = end + std::llround(cfg_.latencyMs * 1000);
      for (char r : it->second) push(t += per, Event::Arrive, static_cast<uint8_t>(r), 0);
    } else if (cfg_.echo) {
      auto w = cfg_.wrongEcho.find(b);
      uint8_t echo = w != cfg_.wrongEcho.end() ? w->second : b;
      // A garbling line flips two bits of every byte it echoes.
      if (cfg_.garbleEcho) echo ^= 0x21;
      push(end, Event::Arrive, echo, 0);
    }
    push(end, Event::EcuHears, b, baud_);
  }
}

bool SimEcu::sleepUntilWaiting(int count, int ms) {
  if (!sleep_) return false;
  int64_t deadline = micros_() + static_cast<int64_t>(ms) * 1000;
  for (;;) {
    advance();
    if (static_cast<int>(rx_.size()) >= count) return true;
    int64_t now = micros_();
    if (now >= deadline) return true;
    // Sleep to the next thing that happens on the line, or to the end of the pause.
    int64_t until = events_.empty() ? deadline : std::min(deadline, events_.top().at);
    if (until > now) sleep_(until - now);
  }
}

int64_t SimEcu::nextEventAt() const {
  return events_.empty() ? INT64_MAX : events_.top().at;
}

int SimEcu::inBufferCount() {
  advance();
  return static_cast<int>(rx_.size());
}

ByteString SimEcu::doReadAll() {
  advance();
  ByteString out(rx_.begin(), rx_.end());
  rx_.clear();
  return out;
}

}  // namespace kline
