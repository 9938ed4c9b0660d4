// The main window's fault and immobiliser readouts.
#include "connection/form2.h"
#include "diagnosis/faulttexts.h"
#include "diagnosis/faultwatch.h"

namespace kline {

namespace {

// Characters 3-4 of the reply when characters 1-2 echo the request code; empty otherwise.
std::string StatusText(const std::string& reply, uint8_t code) {
  if (reply.size() < 4 || reply.compare(0, 2, ToHex(ByteString(1, static_cast<char>(code)))) != 0)
    return {};
  return reply.substr(2, 2);
}

// One status byte of the main window: asks `code` and logs the texts of the set bits. Outside
// the poll loop, which resumes with 50 ms whatever happens.
void ReadStatusByte(Form2& w, uint8_t code, const BitTexts& table) {
  w.pauseLoop("an immobiliser readout");
  if (w.portOpen()) {
    // Bounded by time: a bound by a count of polls gives up within microseconds on any machine
    // fast enough to run this, long before an ECU can answer.
    ExchangeParams p{
        .pause = 0, .discardFirst = true, .count = 2, .timeLimit = 2000, .poll1 = 3, .poll2 = 0};
    ExchangeClock clk;
    if (auto reply = ByteExchange(*w.port(), w.host(), code, p, clk)) {
      std::string status = StatusText(*reply, code);
      Readout r;
      r.kind = code == 0x71 ? ReadoutKind::Immobiliser : ReadoutKind::Immobiliser2;
      r.code = code;
      if (!status.empty()) {
        r.bytes[0] = static_cast<uint8_t>(ReplyByte(status, 1));
        for (const std::string& line : SetBitTexts(table, HexToBin(status))) {
          w.log(line);
          r.lines.push_back(line);
        }
      }
      // Every set bit of the state is a condition to look at.
      r.fault.assign(r.lines.size(), true);
      r.faultStored = !r.lines.empty();
      r.time = w.host().timeGetTime();
      w.publish(ev::ReadoutDone{r});
    }
  }
  w.TimerOn(50);
}

}  // namespace

void Form2::ReadFaults() {
  pauseLoop("a fault readout");
  if (portOpen()) {
    const ExchangeParams p{
        .pause = 0, .discardFirst = true, .count = 2, .timeLimit = 2000, .poll1 = 3, .poll2 = 0};
    const uint8_t codes[3] = {0x0F, 0x10, 0x11};
    uint8_t values[3] = {0, 0, 0};
    bool complete = true;
    for (int i = 0; i < 3 && complete; ++i) {
      ExchangeClock clk;
      auto reply = ByteExchange(*port(), host_, codes[i], p, clk);
      if (!reply) {
        // A silent ECU ends the readout without a line, even after answers already read.
        complete = false;
        break;
      }
      std::string status = StatusText(*reply, codes[i]);
      values[i] = status.empty() ? 0 : static_cast<uint8_t>(ReplyByte(status, 1));
      host_.Sleep(50);
    }
    if (complete) {
      Readout r;
      r.kind = ReadoutKind::Faults;
      r.code = codes[0];
      r.lines = FaultLines(values[0], values[1], values[2]);
      for (const std::string& line : r.lines) log(line);
      r.bytes = {values[0], values[1], values[2]};
      r.fault = FaultLineFlags(r.lines);
      r.faultStored = FaultStored(values[0], values[1], values[2]) || r.anyFaultLine();
      r.time = host_.timeGetTime();
      publish(ev::ReadoutDone{r});
    }
  }
  TimerOn(50);
}

void Form2::ReadImmobiliserStatus() {
  ReadStatusByte(*this, 0x71, immotab);
}
void Form2::ReadImmobiliserStatus2() {
  ReadStatusByte(*this, 0x72, immotab2);
}

}  // namespace kline
