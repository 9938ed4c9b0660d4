#include "diagnosis/form3.h"

#include "host/host.h"
#include "serial/byteexchange.h"

namespace kline {

Form3::Form3(MainWindowLink& main, EventSink* sink)
    : ChildWindow("Form3", "Diag", sink), main_(main) {
  using K = ControlKind;
  const struct {
    const char* name;
    const char* caption;
    void (Form3::*handler)();
  } buttons[] = {{"Command4", "Uniram1", &Form3::Command4_Click},
                 {"Command5", "Uniram2", &Form3::Command5_Click},
                 {"Command6", "Uniram3", &Form3::Command6_Click},
                 {"Command1", "Unirams", &Form3::Command1_Click},
                 {"Command7", "Cuneep1", &Form3::Command7_Click},
                 {"Command3", "Cuneep2", &Form3::Command3_Click},
                 {"Command2", "Cuneep3", &Form3::Command2_Click},
                 {"Command10", "Unieep1A", &Form3::Command10_Click},
                 {"Command9", "Unieep2A", &Form3::Command9_Click},
                 {"Command8", "Unieep3A", &Form3::Command8_Click}};
  for (const auto& b : buttons) {
    auto h = b.handler;
    ctl.add(b.name, K::Button, b.caption).handler = [this, h] { (this->*h)(); };
  }
  ctl.add("back", K::Button, "Back").handler = [this] { back_Click(); };
}

// The text tables are constant data (diagnosis/faulttexts.h): nothing to fill.
void Form3::Form_Load() {}

// The loop resumes faster than after a readout; this window stays open behind the main one.
void Form3::back_Click() {
  main_.TimerOn(20);
  main_.Show();
}

std::string Form3::ReadMemoryByte(uint8_t code) {
  if (!main_.portOpen()) return {};
  const ExchangeParams p{
      .pause = 0, .discardFirst = true, .count = 2, .timeLimit = 2500, .poll1 = 3, .poll2 = 1};
  ExchangeClock clk;
  auto reply = ByteExchange(*main_.port(), main_.host(), code, p, clk);
  if (!reply || ReplyByte(*reply, 1) != code) return {};
  return reply->substr(2, 2);
}

void Form3::readOneText(uint8_t code, const BitTexts& table) {
  const std::string status = ReadMemoryByte(code);
  const std::vector<std::string> lines = SetBitTexts(table, HexToBin(status));
  for (const std::string& line : lines) log(line);
  publishReadout(code, status, lines);
}

void Form3::readTwoTexts(uint8_t code, const BitPairTexts& table) {
  const std::string status = ReadMemoryByte(code);
  const std::vector<std::string> lines = BitPairLines(table, HexToBin(status));
  for (const std::string& line : lines) log(line);
  publishReadout(code, status, lines);
}

void Form3::publishReadout(uint8_t code, const std::string& status,
                           const std::vector<std::string>& lines) {
  // A byte that did not come (no answer, a wrong echo) is no readout.
  if (status.empty()) return;
  Readout r;
  r.kind = ReadoutKind::Diag;
  r.code = code;
  r.bytes[0] = static_cast<uint8_t>(ReplyByte(status, 1));
  r.lines = lines;
  r.fault.assign(lines.size(), false);
  r.time = main_.host().timeGetTime();
  main_.publish(ev::ReadoutDone{r});
}

void Form3::Command4_Click() {
  readOneText(0x0F, errtab1);
}
void Form3::Command5_Click() {
  readOneText(0x10, errtab2);
}
void Form3::Command6_Click() {
  readTwoTexts(0x11, errtype);
}
void Form3::Command1_Click() {
  readTwoTexts(0x15, statetab);
}
void Form3::Command7_Click() {
  readOneText(0x16, errtab1);
}
void Form3::Command3_Click() {
  readOneText(0x17, errtab2);
}
void Form3::Command2_Click() {
  readTwoTexts(0x18, errtype);
}
void Form3::Command10_Click() {
  readOneText(0x1D, errtab1);
}
void Form3::Command9_Click() {
  readOneText(0x1E, errtab2);
}
void Form3::Command8_Click() {
  readTwoTexts(0x1F, errtype);
}

}  // namespace kline
