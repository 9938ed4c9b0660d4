#include "serial/byteexchange.h"

#include <algorithm>
#include <cstdlib>

namespace kline {

int ReplyByte(const std::string& reply, int k) {
  std::size_t pos = static_cast<std::size_t>(2 * (k - 1));
  if (k < 1 || pos + 2 > reply.size()) return -1;
  int v = 0;
  for (std::size_t i = pos; i < pos + 2; ++i) {
    char c = reply[i];
    int d = (c >= '0' && c <= '9')   ? c - '0'
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                     : -1;
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

std::optional<int> DataByte(const std::string& reply, int pair, uint8_t code) {
  if (ReplyByte(reply, pair) != code) return std::nullopt;
  const int v = ReplyByte(reply, pair + 1);
  return v < 0 ? std::nullopt : std::optional<int>(v);
}

int64_t ExchangeClock::elapsed() const {
  // By the wrapping difference, so a readout across the 32-bit wrap still logs its few ms.
  return std::llabs(static_cast<int64_t>(static_cast<int32_t>(t1 - t0)));
}

void Pause(Host& host, int64_t ms) {
  if (ms > 0) host.Sleep(static_cast<int>(ms > 0x7FFFFFFF ? 0x7FFFFFFF : ms));
}

void PauseWhileAttached(SerialPort* port, Host& host, int ms) {
  if (!port) return Pause(host, ms);
  // Often enough that a loss is noticed at once, seldom enough to cost nothing.
  constexpr int64_t kLookMs = 10;
  const int64_t end = host.micros() + int64_t{ms} * 1000;
  for (;;) {
    const int64_t left = end - host.micros();
    if (left <= 0 || host.quitting()) return;
    host.Sleep(static_cast<int>(std::min((left + 999) / 1000, kLookMs)));
    // A look at the line is how a port learns that its device went away.
    port->inBufferCount();
    if (port->lost()) return;
  }
}

namespace {

void PollPause(SerialPort& port, Host& host, int count, int ms) {
  if (ms <= 0) return;
  if (!port.sleepUntilWaiting(count, ms)) host.Sleep(ms);
}

}  // namespace

bool WaitForBytes(SerialPort& port, Host& host, int count, int timeLimit, int poll1, int poll2,
                  ExchangeClock& clk) {
  while (port.inBufferCount() < count) {
    // A device that went away delivers nothing more: waiting out the limit would only keep a
    // closing program or the user waiting.
    if (port.lost() || host.quitting()) return false;
    clk.t1 = host.timeGetTime();
    ++clk.polls;
    PollPause(port, host, count, poll1);
    PollPause(port, host, count, poll2);
    if (clk.t1 - clk.t0 > static_cast<uint32_t>(timeLimit < 0 ? 0 : timeLimit)) return false;
  }
  return true;
}

std::optional<std::string> ByteExchange(SerialPort& port, Host& host, uint8_t code,
                                        const ExchangeParams& p, ExchangeClock& clk) {
  Pause(host, p.pause);
  if (p.discardFirst) port.readAll();
  port.write(ByteString(1, static_cast<char>(code)));
  clk.t0 = host.timeGetTime();
  if (!WaitForBytes(port, host, p.count, p.timeLimit, p.poll1, p.poll2, clk)) return std::nullopt;
  return ToHex(port.readAll());
}

}  // namespace kline
