// The main window's fault and immobiliser readouts.
#include "diagnosis/faults.h"

#include "diagnosis/faulttexts.h"
#include "diagnosis/faultwatch.h"
#include "serial/byteexchange.h"

namespace kline {

namespace {

// Characters 3-4 of the reply when characters 1-2 echo the request code; empty otherwise.
std::string StatusText(const std::string& reply, uint8_t code) {
  if (reply.size() < 4 || reply.compare(0, 2, ToHex(ByteString(1, static_cast<char>(code)))) != 0)
    return {};
  return reply.substr(2, 2);
}

// One status byte of the main window: asks `code` and logs the texts of the set bits.
std::optional<Readout> ReadStatusByte(SerialPort& port, Host& host, uint8_t code,
                                      const BitTexts& table, const LogLine& log) {
  // Bounded by time: a bound by a count of polls gives up within microseconds on any machine
  // fast enough to run this, long before an ECU can answer.
  ExchangeParams p{
      .pause = 0, .discardFirst = true, .count = 2, .timeLimit = 2000, .poll1 = 3, .poll2 = 0};
  ExchangeClock clk;
  auto reply = ByteExchange(port, host, code, p, clk);
  if (!reply) return std::nullopt;
  std::string status = StatusText(*reply, code);
  Readout r;
  r.kind = code == 0x71 ? ReadoutKind::Immobiliser : ReadoutKind::Immobiliser2;
  r.code = code;
  if (!status.empty()) {
    r.bytes[0] = static_cast<uint8_t>(ReplyByte(status, 1));
    for (const std::string& line : SetBitTexts(table, HexToBin(status))) {
      log(line);
      r.lines.push_back(line);
    }
  }
  // Every set bit of the state is a condition to look at.
  r.fault.assign(r.lines.size(), true);
  r.faultStored = !r.lines.empty();
  r.time = host.timeGetTime();
  return r;
}

}  // namespace

std::optional<Readout> ReadFaults(SerialPort& port, Host& host, const LogLine& log) {
  const ExchangeParams p{
      .pause = 0, .discardFirst = true, .count = 2, .timeLimit = 2000, .poll1 = 3, .poll2 = 0};
  const uint8_t codes[3] = {0x0F, 0x10, 0x11};
  uint8_t values[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    ExchangeClock clk;
    auto reply = ByteExchange(port, host, codes[i], p, clk);
    // A silent ECU ends the readout without a line, even after answers already read.
    if (!reply) return std::nullopt;
    std::string status = StatusText(*reply, codes[i]);
    values[i] = status.empty() ? 0 : static_cast<uint8_t>(ReplyByte(status, 1));
    host.Sleep(50);
  }
  Readout r;
  r.kind = ReadoutKind::Faults;
  r.code = codes[0];
  r.lines = FaultLines(values[0], values[1], values[2]);
  for (const std::string& line : r.lines) log(line);
  r.bytes = {values[0], values[1], values[2]};
  r.fault = FaultLineFlags(r.lines);
  r.faultStored = FaultStored(values[0], values[1], values[2]) || r.anyFaultLine();
  r.time = host.timeGetTime();
  return r;
}

std::optional<Readout> ReadImmobiliserStatus(SerialPort& port, Host& host, const LogLine& log) {
  return ReadStatusByte(port, host, 0x71, immotab, log);
}

std::optional<Readout> ReadImmobiliserStatus2(SerialPort& port, Host& host, const LogLine& log) {
  return ReadStatusByte(port, host, 0x72, immotab2, log);
}

}  // namespace kline
