// The per-sensor cycle of the second P8 type: nine procedures, each with its own wait against the
// "timeout" field and its own time-out line, so a silent sensor costs only its own reading.
#include <cmath>

#include "connection/form2.h"
#include "livedata/numbers.h"

namespace kline {

namespace {

// The bytes of a time-out line as characters (8-bit text, kept as UTF-8).
std::string asCharacters(const ByteString& bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    if (b >= 0x80) {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

std::optional<int> dataAfter(const std::string& reply, int pair, uint8_t code) {
  if (ReplyByte(reply, pair) != code) return std::nullopt;
  int v = ReplyByte(reply, pair + 1);
  return v < 0 ? std::nullopt : std::optional<int>(v);
}

}  // namespace

// Waits for `count` bytes against the "timeout" field, read again at every look. False on
// time-out.
static bool SensorWait(Form2& f, int count) {
  SerialPort& com = *f.port();
  Host& host = f.host();
  uint32_t t0 = host.timeGetTime();
  while (com.inBufferCount() < count) {
    if (com.lost() || host.quitting()) return false;
    uint32_t t1 = host.timeGetTime();
    host.Sleep(3);
    double limit = Val(f.ctl.text("Text7"));
    if (limit < 0) limit = 0;
    // The clock's difference of two readings measures up to 2^32 - 1 ms before it wraps; a limit
    // beyond 2^31 - 1 ms (about 24.8 days) is held there, so the wait always ends.
    if (limit > kLongestWaitMs) limit = kLongestWaitMs;
    if (static_cast<double>(t1 - t0) > limit) return false;
  }
  return true;
}

// One-request form: discard, write, wait; the reply string, or nullopt after logging the line.
// A null line leaves the time-out to the caller.
static std::optional<std::string> SensorOne(Form2& f, uint8_t code, const char* timeoutLine) {
  if (!f.port()) {
    // Never connected: there is no port to ask, which reads as a time-out.
    if (timeoutLine) f.log(timeoutLine);
    return std::nullopt;
  }
  SerialPort& com = *f.port();
  com.readAll();
  com.write(ByteString(1, static_cast<char>(code)));
  if (!SensorWait(f, 2)) {
    if (timeoutLine) f.log(timeoutLine);
    return std::nullopt;
  }
  return ToHex(com.readAll());
}

// Two-request form: the second code 8 ms after the first reply, without a discard.
static std::optional<std::string> SensorTwo(Form2& f, uint8_t code1, uint8_t code2,
                                            const char* line1, const char* line2) {
  if (!f.port()) {
    f.log(line1);
    return std::nullopt;
  }
  SerialPort& com = *f.port();
  com.readAll();
  com.write(ByteString(1, static_cast<char>(code1)));
  if (!SensorWait(f, 2)) {
    f.log(line1);
    return std::nullopt;
  }
  f.host().Sleep(8);
  com.write(ByteString(1, static_cast<char>(code2)));
  if (!SensorWait(f, 4)) {
    f.log(line2);
    return std::nullopt;
  }
  return ToHex(com.readAll());
}

void Form2::ReadLivePerSensor() {
  if (!portOpen()) return;
  using Procedure = void (Form2::*)();
  static constexpr Procedure procedures[9] = {
      &Form2::ReadSensorRpm,      &Form2::ReadSensorInjection, &Form2::ReadSensorAdvance,
      &Form2::ReadSensorPressure, &Form2::ReadSensorAirTemp,   &Form2::ReadSensorWaterTemp,
      &Form2::ReadSensorThrottle, &Form2::ReadSensorBattery,   &Form2::ReadSensorTrimmer};
  for (std::size_t i = 0; i < 9; ++i) {
    if (ctl.value(indexed("Check1", static_cast<int>(i))) != 1) continue;
    Pause(host_, WholeNumber(ctl.text("Text5")));
    const Procedure p = procedures[i];
    (this->*p)();
  }
}

void Form2::ReadSensorRpm() {
  auto reply = SensorTwo(*this, 0x01, 0x02, "RPM1 timeout !! ", "RPM2 timeout !! ");
  if (!reply) return;
  auto hi = dataAfter(*reply, 1, 0x01), lo = dataAfter(*reply, 3, 0x02);
  if (hi && lo && *hi != 0 && *lo != 0) {
    std::string r = *RpmText(*hi, *lo, 30000000.0);
    ctl.setText("Text1(0)", r);
    ShowRpm(r);
  }
  if (hi && lo && *hi == 0xFF && *lo == 0xFF) ctl.setText("Text1(0)", " ----");
  if (hi && lo && *hi == 0 && *lo == 0) ctl.setText("Text1(0)", " 0");
}

void Form2::ReadSensorInjection() {
  auto reply = SensorTwo(*this, 0x03, 0x04, "Inj1 timeout !! ", "inj2 timeout !! ");
  if (!reply) return;
  auto hi = dataAfter(*reply, 1, 0x03), lo = dataAfter(*reply, 3, 0x04);
  if (hi && lo) ctl.setText("Text1(1)", InjectionText(*hi, *lo));
}

void Form2::ReadSensorAdvance() {
  if (auto reply = SensorOne(*this, 0x05, "Adv timeout !! "))
    if (auto b = dataAfter(*reply, 1, 0x05)) ctl.setText("Text1(2)", AdvanceText(*b));
}

void Form2::ReadSensorPressure() {
  if (auto reply = SensorOne(*this, 0x06, "atmo timeout !! "))
    if (auto b = dataAfter(*reply, 1, 0x06)) ctl.setText("Text1(3)", PressureText(*b));
}

void Form2::ReadSensorAirTemp() {
  if (auto reply = SensorOne(*this, 0x07, "Air timeout !! "))
    if (auto b = dataAfter(*reply, 1, 0x07))
      ctl.setText("Text1(4)", TempTabText(temptab[static_cast<std::size_t>(*b)]));
}

void Form2::ReadSensorWaterTemp() {
  if (auto reply = SensorOne(*this, 0x08, "Eau timeout !! "))
    if (auto b = dataAfter(*reply, 1, 0x08))
      ctl.setText("Text1(5)", TempTabText(temptab[static_cast<std::size_t>(*b)]));
}

void Form2::sensorTimeoutWithBytes(const char* line, bool trailingBlank) {
  std::string waiting = MSComm1 ? asCharacters(MSComm1->readAll()) : std::string();
  log(line + waiting + (trailingBlank ? " " : ""));
}

void Form2::ReadSensorThrottle() {
  std::optional<int> b;
  auto reply = SensorOne(*this, 0x09, nullptr);
  if (!reply) {
    sensorTimeoutWithBytes("Throttle timeout!!  ", true);
  } else {
    b = dataAfter(*reply, 1, 0x09);
    if (b && ctl.value("Option3")) ctl.setText("Text1(6)", ThrottleAngleText(*b));
    if (ctl.value("Option4")) ctl.setText("Text1(6)", ThrottleScale2Text(b.value_or(0)));
  }
}

void Form2::ReadSensorBattery() {
  auto reply = SensorOne(*this, 0x0A, nullptr);
  if (!reply) {
    sensorTimeoutWithBytes("Bat timeout!!  ", false);
    return;
  }
  if (auto b = dataAfter(*reply, 1, 0x0A)) ctl.setText("Text1(7)", BatteryText(*b));
}

void Form2::ReadSensorTrimmer() {
  uint8_t code = ctl.value("Option6") ? 0x0B : 0x0F;
  if (auto reply = SensorOne(*this, code, "trim timeout !! "))
    if (auto b = dataAfter(*reply, 1, code)) ctl.setText("Text1(8)", TrimmerText(*b));
}

}  // namespace kline
