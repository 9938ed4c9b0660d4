// The live data cycles of 15m/15Rc, 16m and P8: one exchange per ticked channel, in index order,
// the first silent channel ending the cycle.
#include "livedata/livecycle.h"

#include <cmath>
#include <optional>

#include "livedata/numbers.h"
#include "serial/byteexchange.h"

namespace kline::live {

namespace {

constexpr int kCycleWaitLimit = 2000;

bool isFF(const std::optional<int>& b) {
  return b && *b == 0xFF;
}

// How the cycle of one ECU type differs from the 15m one.
struct Variant {
  enum Kind { F15m, F16m, P8 } kind;
};

int delayOf(const LiveContext& c, const Variant& v) {
  if (v.kind != Variant::F16m) return 8;
  // The inter-byte delay is read at every use; a negative one is no delay.
  int32_t d = WholeNumber(c.ctl.text("Text11"));
  return d < 0 ? 0 : d;
}

// What channel `index` asks the ECU for: one or two codes, and the pause before the second.
struct StepCodes {
  uint8_t code1 = 0;
  std::optional<uint8_t> code2;
  int secondDelay = 0;
};

StepCodes codesOf(const LiveContext& c, const Variant& v, int index) {
  const ControlModel& ctl = c.ctl;
  const bool rc = v.kind == Variant::F15m && c.throttleVoltage;
  uint8_t code1 = 0;
  std::optional<uint8_t> code2;
  int secondDelay = delayOf(c, v);
  switch (index) {
    case 0:
      code1 = 0x01;
      code2 = 0x02;
      break;
    case 1:
      code1 = 0x03;
      code2 = 0x04;
      break;
    case 2:
      code1 = 0x05;
      break;
    case 3:
      code1 = 0x06;
      break;
    case 4:
      code1 = 0x07;
      break;
    case 5:
      code1 = 0x08;
      break;
    case 6:
      code1 = 0x09;
      if (rc) {
        code2 = 0x3A;
        secondDelay = 0;
      }
      break;
    case 7:
      code1 = 0x0A;
      break;
    default:
      // 16m and P8 ask for the trimmer by the scale selector: "1" 0x0B, "2" 0x0F.
      code1 = (v.kind != Variant::F15m && ctl.value("Option6")) ? 0x0B : 0x0F;
      break;
  }

  return {code1, code2, secondDelay};
}

// Shows what channel `index` answered (`hi`, and `lo` for a two-code channel) in its field.
void showStep(const LiveContext& c, const Variant& v, int index, std::optional<int> hi,
              std::optional<int> lo) {
  ControlModel& ctl = c.ctl;
  const bool p8 = v.kind == Variant::P8;
  const bool rc = v.kind == Variant::F15m && c.throttleVoltage;
  const std::string field = indexed("Text1", index);
  switch (index) {
    case 0: {
      if (p8) {
        if (hi && lo && *hi != 0 && *lo != 0) {
          std::string r = *RpmText(*hi, *lo, 30000000.0);
          ctl.setText(field, r);
          ShowRpm(ctl, r);
        }
        if (isFF(hi) && isFF(lo)) ctl.setText(field, " ----");
        if (hi && lo && *hi == 0 && *lo == 0) ctl.setText(field, " 0");
      } else {
        if (hi && lo && !isFF(hi)) {
          // A period of 0 has no speed: nothing is written.
          if (auto r = RpmText(*hi, *lo, 15000000.0)) {
            ctl.setText(field, *r);
            ShowRpm(ctl, *r);
          }
        }
        if (isFF(hi) && isFF(lo)) ctl.setText(field, " ----");
      }
      break;
    }
    case 1:
      if (hi && lo && (p8 || !isFF(hi))) ctl.setText(field, InjectionText(*hi, *lo));
      break;
    case 2:
      if (hi && (p8 || !isFF(hi))) ctl.setText(field, AdvanceText(*hi));
      break;
    case 3:
      if (hi && (p8 || !isFF(hi))) ctl.setText(field, PressureText(*hi));
      break;
    case 4:
    case 5:
      if (p8) {
        if (hi) ctl.setText(field, TempTabText(c.temptab[static_cast<std::size_t>(*hi)]));
      } else if (hi && !isFF(hi)) {
        ctl.setText(field, TemperatureText(*hi));
      }
      break;
    case 6: {
      if (v.kind == Variant::F15m) {
        if (hi && !isFF(hi)) {
          if (rc) {
            ctl.setText("Text1(9)", ThrottleVoltageText(*hi));
            ctl.setText(field, Throttle15RcText(*hi, lo.value_or(0)));
          } else {
            ctl.setText(field, ThrottleAngleText(*hi));
          }
        }
      } else if (hi && (p8 || !isFF(hi)) && ctl.value("Option3")) {
        ctl.setText(field, ThrottleAngleText(*hi));
      }
      // Scale "2" always overwrites, an empty byte counting as 0.
      if (ctl.value("Option4")) ctl.setText(field, ThrottleScale2Text(hi.value_or(0)));
      break;
    }
    case 7:
      if (hi && (p8 || !isFF(hi))) ctl.setText(field, BatteryText(*hi));
      break;
    case 8:
      if (hi) ctl.setText(field, TrimmerText(*hi));
      if (v.kind == Variant::F15m && c.trimmerHandover) c.trimmerHandover();
      break;
  }
}

bool liveStep(const LiveContext& c, const Variant& v, int index) {
  SerialPort& com = *c.port();
  const auto [code1, code2, secondDelay] = codesOf(c, v, index);
  Pause(c.host, delayOf(c, v));
  com.readAll();
  com.write(ByteString(1, static_cast<char>(code1)));
  ExchangeClock clk;
  clk.t0 = c.host.timeGetTime();
  if (!WaitForBytes(com, c.host, 2, kCycleWaitLimit, 3, 0, clk)) return false;
  if (code2) {
    Pause(c.host, secondDelay);
    com.write(ByteString(1, static_cast<char>(*code2)));
    clk.t0 = c.host.timeGetTime();
    if (!WaitForBytes(com, c.host, 4, kCycleWaitLimit, 3, 0, clk)) return false;
  }
  std::string reply = ToHex(com.readAll());
  std::optional<int> hi = DataByte(reply, 1, code1);
  std::optional<int> lo;
  if (code2) lo = DataByte(reply, 3, *code2);
  showStep(c, v, index, hi, lo);
  return true;
}

bool runCycle(const LiveContext& c, const Variant& v) {
  const SerialPort* open = c.port();
  if (!open || !open->isOpen()) return false;
  Pause(c.host, delayOf(c, v));
  c.port()->readAll();
  for (int i = 0; i < 9; ++i) {
    if (c.ctl.value(indexed("Check1", i)) != 1) continue;
    if (!liveStep(c, v, i)) return false;
  }
  return true;
}

}  // namespace

bool ReadLive15m(const LiveContext& c) {
  return runCycle(c, {Variant::F15m});
}

bool ReadLive16m(const LiveContext& c) {
  return runCycle(c, {Variant::F16m});
}

bool ReadLiveP8(const LiveContext& c) {
  // The one yield of a cycle: clicks on boxes and options take effect before anything is sent.
  c.host.DoEvents();
  c.ctl.setCaption("Label4", "");
  return runCycle(c, {Variant::P8});
}

void ShowRpm(ControlModel& ctl, const std::string& R) {
  int k = RpmSegments(R);
  for (int i = 0; i < 120; ++i) {
    std::string seg = indexed("Line1", i);
    uint32_t want = i < k ? kSysLit : kSysUnlit;
    // Only segments that change are drawn again: no flicker, no flood of updates.
    if (ctl.get(seg).colour != want) ctl.setColour(seg, want);
  }
  ctl.setCaption("Label26", R);
}

}  // namespace kline::live
