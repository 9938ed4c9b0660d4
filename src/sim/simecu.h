#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <queue>
#include <vector>

#include "serial/serialport.h"
#include "sim/enginemodel.h"
#include "sim/simconfig.h"
#include "sim/statusregisters.h"

namespace kline {

// The simulated ECU's register map for the records: identification and calibration texts.
std::optional<uint8_t> RecordAnswer(EcuType type, uint8_t code);

// A K-line adapter with an ECU behind it, as a port. The adapter echoes every byte written; each
// byte takes 10 bit times on the line at the current rate; the ECU hears a byte only at the rate
// it listens at and answers one byte `latency` after a request has arrived. Opening the port
// powers the ECU up: it wakes `ignition_ms` later and, for 15m and 16m, sends its burst at 1200
// baud; after the answer 0F AA CC it listens at 7812. A 15Rc takes the answer without a burst;
// a P8 listens at 7812 from the start.
// Driven by the microsecond clock it is given; single-threaded (the session thread).
class SimEcu : public SerialPort {
 public:
  SimEcu(SimConfig config, std::function<int64_t()> micros);

  bool isOpen() const override { return open_ && !lost(); }
  int inBufferCount() override;
  int16_t commEvent() override {
    advance();
    return event_;
  }
  bool getLineSettings(LineSettings& out) override;
  std::string name() const override { return "MSComm1"; }
  std::string deviceName() const override { return "sim"; }

  // On a real clock the simulated line can wake a wait when its bytes arrive, as the real
  // adapter does; give it a way to sleep (microseconds). On virtual time leave it unset: the
  // waits then pause exactly as long as the logic asks.
  void setSleeper(std::function<void(int64_t)> sleepMicros) { sleep_ = std::move(sleepMicros); }
  bool sleepUntilWaiting(int count, int ms) override;

  const SimConfig& config() const { return cfg_; }
  SimConfig& config() { return cfg_; }
  int baud() const { return baud_; }
  int ecuBaud() const { return ecuBaud_; }
  bool awake() const { return phase_ != Phase::Asleep; }
  bool inDiagnosticMode() const { return diag_; }
  // When the next thing happens on the line (µs of the clock), or INT64_MAX when nothing will.
  int64_t nextEventAt() const;

  // Unread bytes the port keeps, as a driver's receive buffer does.
  static constexpr std::size_t kRxCapacity = 4096;

  // Microseconds one byte takes on the line at `baud`.
  static int64_t ByteMicros(int baud);

 protected:
  void doOpen() override;
  void doClose() override;
  void doWrite(const ByteString& bytes) override;
  ByteString doReadAll() override;
  bool doSetLineSettings(const LineSettings& in) override;

 private:
  enum class Phase { Asleep, AwaitAnswer, Ready };
  struct Event {
    int64_t at;
    uint64_t seq;
    enum Kind { Arrive, EcuHears, Wake } kind;
    uint8_t byte;
    int baud;  // Arrive: rate the byte was sent at (0: the adapter's echo). EcuHears: PC rate.
    bool operator>(const Event& o) const { return at != o.at ? at > o.at : seq > o.seq; }
  };

  void advance();
  void push(int64_t at, Event::Kind kind, uint8_t byte, int baud);
  void ecuHears(int64_t at, uint8_t byte);
  void ecuSends(int64_t at, const ByteString& bytes);
  // Diagnostic mode's answer to a byte, scheduling a verdict where a test asks for one.
  std::optional<uint8_t> diagnosticAnswer(int64_t at, uint8_t byte);

  SimConfig cfg_;
  std::function<int64_t()> micros_;
  std::function<void(int64_t)> sleep_;
  bool open_ = false;
  int baud_ = 1200;
  int ecuBaud_ = 1200;
  int16_t event_ = kEventNone;
  Phase phase_ = Phase::Asleep;
  int64_t openedAt_ = 0;
  int64_t txFree_ = 0;     // when the PC side of the line is free again
  int64_t ecuFree_ = 0;    // when the ECU side is free again
  int64_t babbleAt_ = -1;  // when the next babbled byte arrives (-1: not babbling)
  std::size_t babbled_ = 0;
  std::size_t handshake_ = 0;
  uint64_t seq_ = 0;
  std::priority_queue<Event, std::vector<Event>, std::greater<Event>> events_;
  EngineModel engine_{EcuType::E15m};
  bool diag_ = false;  // diagnostic mode: actuator tests, CO regulation
  bool co_ = false;    // CO regulation: trimmer bytes are echoed as answers
  std::deque<uint8_t> rx_;
};

}  // namespace kline
