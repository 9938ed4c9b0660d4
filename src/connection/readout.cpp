// The identification and calibration records, one byte per request.
#include "connection/form2.h"
#include "serial/text.h"

namespace kline {

namespace {

struct RecordReadout {
  const char* check;
  const char* askLine;
  uint8_t firstCode;
  int length;
  int poll2;
  const char* infoPrefix;
  const char* logPrefix;
  std::string ev::EcuIdentified::*part;
};

const RecordReadout kEcuInfo{
    "Check3", "ask ecu info... ", 0x17,         10,
    1,        "ecu data    : ",   "Ecu info: ", &ev::EcuIdentified::identification};
const RecordReadout kCalibration{
    "Check4", "ask ecu calibration... ", 0x21,    8,
    0,        "calibration : ",          "Cal: ", &ev::EcuIdentified::calibration};

// Runs one readout; returns when done, whether it completed or not.
void RunReadout(Form2& f, const RecordReadout& r) {
  ExchangeClock clk;
  std::string record;
  if (f.ctl.value(r.check) == 1 && f.portOpen()) {
    f.log(r.askLine);
    ExchangeParams p;
    p.poll2 = r.poll2;
    bool complete = true;
    for (int i = 0; i < r.length; ++i) {
      auto reply = ByteExchange(*f.port(), f.host(), static_cast<uint8_t>(r.firstCode + i), p, clk);
      if (!reply) {
        complete = false;
        break;
      }
      int answer = ReplyByte(*reply, 2);
      if (answer >= 0) record += EightBitText(ByteString(1, static_cast<char>(answer)));
    }
    if (complete) f.identified(r.part, r.infoPrefix, record);
  }
  f.log(r.logPrefix + std::to_string(clk.elapsed()) + " " + record);
}

}  // namespace

void Form2::ReadEcuInfo() {
  RunReadout(*this, kEcuInfo);
  ecuinf = kTrue;
}

void Form2::ReadCalibration() {
  RunReadout(*this, kCalibration);
  cal_ask = kTrue;
}

}  // namespace kline
