#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "serial/serialport.h"
#include "ui/eventsink.h"

namespace kline {

// A request written whose echo or answer byte has not been read yet.
struct PendingRequest {
  uint8_t byte = 0;
  bool echoed = false;
};

// Reads `bytes` as the replies to the `pending` requests, oldest first: each its echo, then one
// answer byte or none. Drops the requests answered and returns how many bytes nobody asked for
// (wrong echoes included), by the reading with the fewest.
int MatchReplies(std::deque<PendingRequest>& pending, const ByteString& bytes);

// Tells the truth about the link from what a session publishes: the port's open, close and loss,
// the poll loop's timer, and the values the window took from the ECU (ev::EcuAnswered). It never
// talks to the port and changes nothing in the window's logic. Lives where the events are published
// (the session thread); `changed` runs there after every change of the status.
class LinkMonitor : public EventSink {
 public:
  // How long the poll loop may run without a word from the ECU before the user is told.
  static constexpr uint32_t kSilenceMs = 5000;
  // A line babbles when it carries at least kStrayLimit bytes nobody asked for within
  // kStrayWindowMs, and stops babbling after a whole window without any. A late answer (two
  // bytes) or a test's verdict byte stays below the limit.
  static constexpr uint32_t kStrayWindowMs = 2000;
  static constexpr int kStrayLimit = 8;

  // `port` gives the main window's current port (or null), for its name and the reasons of
  // failures; `clock` is the host's millisecond clock.
  LinkMonitor(std::function<const SerialPort*()> port, std::function<uint32_t()> clock,
              std::function<void(const LinkStatus&)> changed = {});

  const LinkStatus& status() const { return status_; }

  // Whether what the ECU said just now can be believed: false while the line babbles.
  bool lineTrusted();
  // Bytes nobody asked for since the port opened: read before a request, beyond the echo and one
  // answer byte of each request, and echoes that were not the byte written.
  uint64_t strayBytes() const { return strayTotal_; }

  // Looks at the clock again: a silence passes its limit without any event.
  void poll() { update(); }

  void onEvent(const SessionEvent& e) override;
  void onSet(const std::string&, const std::string&, Prop, const PropValue&) override { update(); }
  void onLog(const std::string&, const std::string&) override { update(); }
  void onTx(const ByteString& bytes) override;
  void onRx(const ByteString& bytes) override;
  void onOpen(bool ok) override;
  void onClose() override;
  void onLost(const std::string& reason) override;
  void onTimer(int interval) override;

 private:
  void heard();
  void sent(const ByteString& bytes);
  void received(const ByteString& bytes);
  void resetLine();
  void update();
  std::string portName() const;

  std::function<const SerialPort*()> port_;
  std::function<uint32_t()> clock_;
  std::function<void(const LinkStatus&)> changed_;
  LinkStatus status_;

  // The port's side of the state; while it is open, Waiting, Live and Silent are worked out
  // from what was heard and when.
  enum class Phase { Closed, Failed, Open, Lost };
  Phase phase_ = Phase::Closed;
  std::string device_;
  std::string reason_;
  bool heard_ = false;
  bool timerRunning_ = false;
  bool rpmStale_ = true;
  uint32_t quietSince_ = 0;

  // The requests written whose echo or answer byte has not been read yet, oldest first.
  std::deque<PendingRequest> pending_;
  bool requested_ = false;  // a request went out since the port opened (the burst comes first)
  // Bytes nobody asked for within the window: (when read, how many), and their sum.
  std::deque<std::pair<uint32_t, int>> stray_;
  int strayInWindow_ = 0;
  uint64_t strayTotal_ = 0;
  bool strayHeard_ = false;
  uint32_t lastStrayAt_ = 0;
  bool babbling_ = false;
  int rate_ = 0;  // bytes a second, as last told
  uint32_t rateAt_ = 0;
};

}  // namespace kline
