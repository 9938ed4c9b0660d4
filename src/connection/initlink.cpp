// The wake-up handshake of the main window.
#include "connection/ecutypes.h"
#include "connection/form2.h"

namespace kline {

void Form2::InitLink() {
  if (!portOpen()) return;
  SerialPort& com = *MSComm1;
  // A type without a handshake, chosen after Connect, waits for a burst here and the line stays
  // at 1200 baud.
  const EcuTypeInfo& type = SelectedEcuTypeInfo(ctl);
  if (type.wakeUp == WakeUp::AnswerAtOnce) {
    log("initial => 15rc ecu, skip isocode ");
  } else {
    // Until the ECU has sent anything, each tick returns here at once.
    if (com.commEvent() != kEventReceive) return;
    ExchangeClock clk;
    clk.t0 = host_.timeGetTime();
    if (!WaitForBytes(com, host_, 6, 3000, 3, 1, clk)) {
      ctl.setEnabled("Check1(0)", true);
      init = kTrue;
      return;
    }
    // Let the rest of the burst arrive.
    host_.Sleep(100);
    std::string h = ToHex(com.readAll());
    log("iso: ");
    log("RX=> " + h + " ");
    std::size_t p = h.find("55");
    if (!h.empty()) log("buff= " + h + "  Lbuff= " + std::to_string(h.size()));
    const std::string iso = p == std::string::npos ? h : h.substr(p, 12);
    identified(&ev::EcuIdentified::isoCode, "Iso Code    : ", iso);
    log("Iso code OK");
  }
  ctl.setCaption("Label4", "");
  host_.Sleep(510);
  host_.Sleep(8);
  com.readAll();
  // The answer bytes go out 110 ms apart, timed from the start of each byte.
  const struct {
    uint8_t byte;
    const char* line;
  } answers[] = {{0x0F, "Tx => 0x0F"}, {0xAA, "Tx => 0xAA"}, {0xCC, "Tx => 0xCC"}};
  for (const auto& a : answers) {
    com.write(ByteString(1, static_cast<char>(a.byte)));
    log(a.line);
    host_.Sleep(110);
  }
  log("init successfull");
  if (type.wakeUp != WakeUp::None) {
    setBaud7812();
    log("7812");
  }
  ctl.setEnabled("Check1(0)", true);
  init = kTrue;
}

}  // namespace kline
