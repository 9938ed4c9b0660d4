#include "connection/linkmonitor.h"

#include <algorithm>
#include <vector>

namespace kline {

int MatchReplies(std::deque<PendingRequest>& pending, const ByteString& bytes) {
  // The first bytes of a read far longer than any reply are noise whatever they are.
  constexpr std::size_t kLongest = 512;
  const std::size_t skip = bytes.size() > kLongest ? bytes.size() - kLongest : 0;
  const std::size_t n = bytes.size() - skip;
  const std::size_t m = pending.size();
  if (m == 0) return static_cast<int>(bytes.size());
  auto byteAt = [&](std::size_t i) { return static_cast<uint8_t>(bytes[skip + i]); };
  // The fewest bytes nobody asked for from byte i on, with request j next and e whether its
  // echo was read, worked out from the end; between readings as good, the one that leaves the
  // fewest requests waiting. Each request takes its echo (a wrong one counts), then an answer
  // byte or none; any byte may be one nobody asked for.
  constexpr int kStray = 1 << 16;
  const std::size_t stride = (m + 1) * 2;
  std::vector<int> cost((n + 1) * stride, 0);
  auto at = [&](std::size_t i, std::size_t j, int e) -> int& {
    return cost[i * stride + j * 2 + e];
  };
  for (std::size_t j = 0; j < m; ++j)
    for (int e : {0, 1}) at(n, j, e) = static_cast<int>(m - j) * 2 - e;
  enum Step { Echo, Answer, NoAnswer, Stray };
  auto best = [&](std::size_t i, std::size_t j, int e, Step* how) {
    int c = at(i + 1, j, e) + kStray;
    Step h = Stray;
    if (!e) {
      const int echo = at(i + 1, j, 1) + (byteAt(i) != pending[j].byte ? kStray : 0);
      if (echo <= c) c = echo, h = Echo;
    } else {
      const int skipped = at(i, j + 1, 0);
      if (skipped <= c) c = skipped, h = NoAnswer;
      const int answer = at(i + 1, j + 1, 0);
      if (answer <= c) c = answer, h = Answer;
    }
    if (how) *how = h;
    return c;
  };
  for (std::size_t i = n; i-- > 0;) {
    at(i, m, 0) = at(i, m, 1) = static_cast<int>(n - i) * kStray;
    for (std::size_t j = m; j-- > 0;)
      for (int e : {1, 0}) at(i, j, e) = best(i, j, e, nullptr);
  }
  // Follows the cheapest reading to learn which requests remain waiting.
  std::size_t i = 0, j = 0;
  int e = pending.front().echoed ? 1 : 0;
  const int total = at(0, 0, e) / kStray + static_cast<int>(skip);
  while (i < n && j < m) {
    Step how;
    best(i, j, e, &how);
    switch (how) {
      case Echo:
        e = 1, ++i;
        break;
      case Answer:
        e = 0, ++i, ++j;
        break;
      case NoAnswer:
        e = 0, ++j;
        break;
      case Stray:
        ++i;
        break;
    }
  }
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(j));
  if (!pending.empty()) pending.front().echoed = e != 0;
  return total;
}

LinkMonitor::LinkMonitor(std::function<const SerialPort*()> port, std::function<uint32_t()> clock,
                         std::function<void(const LinkStatus&)> changed)
    : port_(std::move(port)), clock_(std::move(clock)), changed_(std::move(changed)) {}

std::string LinkMonitor::portName() const {
  const SerialPort* p = port_ ? port_() : nullptr;
  return p ? p->deviceName() : std::string();
}

void LinkMonitor::onEvent(const SessionEvent& e) {
  const auto* answered = std::get_if<ev::EcuAnswered>(&e);
  if (!answered) return;
  if (answered->rpm && phase_ == Phase::Open) rpmStale_ = false;
  heard();
  update();
}

void LinkMonitor::heard() {
  if (phase_ != Phase::Open) return;
  heard_ = true;
  quietSince_ = clock_();
}

void LinkMonitor::onTx(const ByteString& bytes) {
  if (phase_ == Phase::Open) sent(bytes);
  update();
}

void LinkMonitor::onRx(const ByteString& bytes) {
  if (phase_ == Phase::Open) received(bytes);
  update();
}

void LinkMonitor::sent(const ByteString& bytes) {
  requested_ = true;
  // A request whose echo was read and whose answer was not, when the next one goes out, was
  // given up by the window: its answer, if it comes, comes late.
  while (!pending_.empty() && pending_.front().echoed) pending_.pop_front();
  for (unsigned char b : bytes) {
    // Requests nobody reads for are forgotten once many more follow.
    if (pending_.size() >= 64) pending_.pop_front();
    pending_.push_back({b, false});
  }
}

void LinkMonitor::received(const ByteString& bytes) {
  // The wake-up burst arrives before the first request and is asked for by switching on.
  if (!requested_) return;
  const int stray = MatchReplies(pending_, bytes);
  if (stray == 0) return;
  lastStrayAt_ = clock_();
  strayHeard_ = true;
  stray_.emplace_back(lastStrayAt_, stray);
  strayInWindow_ += stray;
  strayTotal_ += static_cast<uint64_t>(stray);
}

void LinkMonitor::resetLine() {
  pending_.clear();
  requested_ = false;
  stray_.clear();
  strayInWindow_ = 0;
  strayTotal_ = 0;
  babbling_ = false;
  strayHeard_ = false;
}

bool LinkMonitor::lineTrusted() {
  update();
  return !babbling_;
}

void LinkMonitor::onOpen(bool ok) {
  device_ = portName();
  resetLine();
  heard_ = false;
  rpmStale_ = true;
  if (ok) {
    phase_ = Phase::Open;
    reason_.clear();
    quietSince_ = clock_();
  } else {
    phase_ = Phase::Failed;
    const SerialPort* p = port_ ? port_() : nullptr;
    reason_ = p ? p->openError() : std::string();
  }
  update();
}

void LinkMonitor::onClose() {
  phase_ = Phase::Closed;
  resetLine();
  heard_ = false;
  rpmStale_ = true;
  update();
}

void LinkMonitor::onLost(const std::string& reason) {
  if (phase_ != Phase::Open) return;
  phase_ = Phase::Lost;
  resetLine();
  reason_ = reason;
  rpmStale_ = true;
  update();
}

void LinkMonitor::onTimer(int interval) {
  const bool running = interval > 0;
  // Silence counts while the poll loop asks; a paused loop (a test, the other windows) asks
  // nothing, so its time does not count.
  if (running && !timerRunning_) quietSince_ = clock_();
  timerRunning_ = running;
  update();
}

void LinkMonitor::update() {
  const uint32_t now = clock_();
  while (!stray_.empty() && now - stray_.front().first >= kStrayWindowMs) {
    strayInWindow_ -= stray_.front().second;
    stray_.pop_front();
  }
  const bool was = babbling_;
  if (strayInWindow_ >= kStrayLimit)
    babbling_ = true;
  else if (strayInWindow_ == 0)
    babbling_ = false;
  // The rate told is taken anew at most once a second, so that the text does not flicker.
  if (babbling_ && (!was || now - rateAt_ >= 1000)) {
    // Over the time the window's bytes came in, a quarter of a second at least.
    const uint32_t span = std::max<uint32_t>(now - stray_.front().first, 250);
    rate_ = static_cast<int>(static_cast<int64_t>(strayInWindow_) * 1000 / span);
    rateAt_ = now;
  }

  LinkStatus s = status_;
  const std::string& dev = device_;
  s.valuesStale = false;
  s.rpmStale = rpmStale_;
  switch (phase_) {
    case Phase::Closed:
      s.state = LinkState::Idle;
      s.text = dev.empty() ? "Not connected" : "Port " + dev + " closed";
      break;
    case Phase::Failed:
      s.state = LinkState::OpenFailed;
      s.text = "Port " + dev + " not opened" + (reason_.empty() ? "" : ": " + reason_);
      break;
    case Phase::Lost:
      s.state = LinkState::Lost;
      s.text = "Port " + dev + " lost: " + reason_;
      s.valuesStale = heard_;
      break;
    case Phase::Open: {
      const uint32_t quiet = now - quietSince_;
      if (babbling_) {
        // Never "no answer" while bytes pour in: the line is busy with something else.
        s.state = LinkState::Babbling;
        s.text = "Bytes nobody asked for on " + dev + " (about " + std::to_string(rate_) +
                 " a second): is another device on the K-line? Check the adapter, its rate and "
                 "the ECU type; what is read now cannot be trusted";
        s.valuesStale = heard_;
      } else if (timerRunning_ && quiet >= kSilenceMs) {
        s.state = LinkState::Silent;
        const std::string secs = std::to_string(quiet / 1000);
        if (strayHeard_ && now - lastStrayAt_ < kSilenceMs)
          // Bytes come, but not as answers in time: late answers, or a few stray bytes.
          s.text = "No answer in time from the ECU on " + dev + " for " + secs +
                   " s, only late or stray bytes: check the adapter, its rate and the ECU type";
        else
          s.text = "No answer from the ECU on " + dev + " for " + secs + " s: " +
                   (heard_ ? "is the ignition still on? Check the cable"
                           : "switch the ignition on, check that the adapter is powered and that " +
                                 dev + " is its port");
        s.valuesStale = heard_;
      } else if (heard_) {
        s.state = LinkState::Live;
        s.text = "Port " + dev + " open, the ECU answers";
      } else {
        s.state = LinkState::Waiting;
        s.text = "Port " + dev + " open, waiting for the ECU";
      }
      break;
    }
  }
  if (s == status_) return;
  status_ = s;
  if (changed_) changed_(status_);
}

}  // namespace kline
