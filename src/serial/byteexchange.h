#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/host.h"
#include "serial/serialport.h"
#include "serial/text.h"  // ToHex, for the replies

namespace kline {

// The pair of hex digits at byte k (1-based) of a reply string, as a number; -1 if absent or bad.
int ReplyByte(const std::string& reply, int k);
// A data byte: the byte after pair `pair` of a reply when that pair is `code` (its echo), or
// none.
std::optional<int> DataByte(const std::string& reply, int pair, uint8_t code);

// The values of one request/reply exchange.
struct ExchangeParams {
  int pause = 8;             // ms slept before the request
  bool discardFirst = true;  // read and drop waiting bytes before writing
  int count = 2;             // waiting bytes that complete the reply (echo and answer)
  int timeLimit = 3000;      // ms after the request after which the wait gives up
  int poll1 = 3;             // ms slept between two looks at the receive count
  int poll2 = 0;             // a second pause after the first (identification sleeps 3 then 1)
};

// Clock readings of a readout: t0 when the last request was written, t1 the last reading taken
// inside a reply wait. Both start at 0 with the readout.
struct ExchangeClock {
  uint32_t t0 = 0;
  uint32_t t1 = 0;
  int polls = 0;  // looks that found too few bytes, counted by WaitForBytes
  // |t1 - t0| in ms, as logged after a readout.
  int64_t elapsed() const;
};

// Polls the receive count until `count` bytes wait. Each look that finds too few reads the clock
// into clk.t1, pauses, and gives up once t1 - t0 exceeds the limit. The pauses end early when the
// port can tell that the bytes have arrived. Returns false on time-out.
bool WaitForBytes(SerialPort& port, Host& host, int count, int timeLimit, int poll1, int poll2,
                  ExchangeClock& clk);

// One exchange: pause, optional discard, the request code, the wait, then every waiting byte as a
// reply string. nullopt on time-out (the bytes stay in the buffer).
std::optional<std::string> ByteExchange(SerialPort& port, Host& host, uint8_t code,
                                        const ExchangeParams& p, ExchangeClock& clk);

// The longest time limit a wait honours: the wrapping difference of two 32-bit clock readings
// measures it without ambiguity. A limit typed beyond it is held at it.
constexpr double kLongestWaitMs = 2147483647.0;

// Sleeps a pause given in ms; zero and negative pauses cost nothing.
void Pause(Host& host, int64_t ms);

// Sleeps a pause of `ms` as Pause does, but ends it as soon as the port's device goes away: one
// that is gone sends nothing worth waiting for. The port is looked at every few ms; the slices
// add up to the whole pause when nothing is lost. Without a port, a plain pause.
void PauseWhileAttached(SerialPort* port, Host& host, int ms);

}  // namespace kline
