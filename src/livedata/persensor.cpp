// The per-sensor cycle of the second P8 type: nine procedures, each with its own wait against the
// "timeout" field and its own time-out line, so a silent sensor costs only its own reading.
#include <cmath>
#include <optional>

#include "livedata/livecycle.h"
#include "livedata/numbers.h"
#include "serial/byteexchange.h"
#include "serial/text.h"

namespace kline::live {

namespace {

// Waits for `count` bytes against the "timeout" field, read again at every look. False on
// time-out.
bool SensorWait(const LiveContext& c, int count) {
  SerialPort& com = *c.port();
  Host& host = c.host;
  uint32_t t0 = host.timeGetTime();
  while (com.inBufferCount() < count) {
    if (com.lost() || host.quitting()) return false;
    uint32_t t1 = host.timeGetTime();
    host.Sleep(3);
    double limit = Val(c.ctl.text("Text7"));
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
std::optional<std::string> SensorOne(const LiveContext& c, uint8_t code, const char* timeoutLine) {
  if (!c.port()) {
    // Never connected: there is no port to ask, which reads as a time-out.
    if (timeoutLine) c.log(timeoutLine);
    return std::nullopt;
  }
  SerialPort& com = *c.port();
  com.readAll();
  com.write(ByteString(1, static_cast<char>(code)));
  if (!SensorWait(c, 2)) {
    if (timeoutLine) c.log(timeoutLine);
    return std::nullopt;
  }
  return ToHex(com.readAll());
}

// Two-request form: the second code 8 ms after the first reply, without a discard.
std::optional<std::string> SensorTwo(const LiveContext& c, uint8_t code1, uint8_t code2,
                                     const char* line1, const char* line2) {
  if (!c.port()) {
    c.log(line1);
    return std::nullopt;
  }
  SerialPort& com = *c.port();
  com.readAll();
  com.write(ByteString(1, static_cast<char>(code1)));
  if (!SensorWait(c, 2)) {
    c.log(line1);
    return std::nullopt;
  }
  c.host.Sleep(8);
  com.write(ByteString(1, static_cast<char>(code2)));
  if (!SensorWait(c, 4)) {
    c.log(line2);
    return std::nullopt;
  }
  return ToHex(com.readAll());
}

// A time-out line followed by whatever bytes did arrive, as characters.
void sensorTimeoutWithBytes(const LiveContext& c, const char* line, bool trailingBlank) {
  SerialPort* com = c.port();
  std::string waiting = com ? EightBitText(com->readAll()) : std::string();
  c.log(line + waiting + (trailingBlank ? " " : ""));
}

}  // namespace

bool ReadLivePerSensor(const LiveContext& c) {
  const SerialPort* open = c.port();
  if (!open || !open->isOpen()) return false;
  using Procedure = bool (*)(const LiveContext&);
  static constexpr Procedure procedures[9] = {
      &ReadSensorRpm,      &ReadSensorInjection, &ReadSensorAdvance,
      &ReadSensorPressure, &ReadSensorAirTemp,   &ReadSensorWaterTemp,
      &ReadSensorThrottle, &ReadSensorBattery,   &ReadSensorTrimmer};
  for (std::size_t i = 0; i < 9; ++i) {
    if (c.ctl.value(indexed("Check1", static_cast<int>(i))) != 1) continue;
    Pause(c.host, WholeNumber(c.ctl.text("Text5")));
    procedures[i](c);
  }
  return true;
}

bool ReadSensorRpm(const LiveContext& c) {
  auto reply = SensorTwo(c, 0x01, 0x02, "RPM1 timeout !! ", "RPM2 timeout !! ");
  if (!reply) return false;
  auto hi = DataByte(*reply, 1, 0x01), lo = DataByte(*reply, 3, 0x02);
  if (hi && lo && *hi != 0 && *lo != 0) {
    std::string r = *RpmText(*hi, *lo, 30000000.0);
    c.ctl.setText("Text1(0)", r);
    ShowRpm(c.ctl, r);
  }
  if (hi && lo && *hi == 0xFF && *lo == 0xFF) c.ctl.setText("Text1(0)", " ----");
  if (hi && lo && *hi == 0 && *lo == 0) c.ctl.setText("Text1(0)", " 0");
  return true;
}

bool ReadSensorInjection(const LiveContext& c) {
  auto reply = SensorTwo(c, 0x03, 0x04, "Inj1 timeout !! ", "inj2 timeout !! ");
  if (!reply) return false;
  auto hi = DataByte(*reply, 1, 0x03), lo = DataByte(*reply, 3, 0x04);
  if (hi && lo) c.ctl.setText("Text1(1)", InjectionText(*hi, *lo));
  return true;
}

bool ReadSensorAdvance(const LiveContext& c) {
  auto reply = SensorOne(c, 0x05, "Adv timeout !! ");
  if (!reply) return false;
  if (auto b = DataByte(*reply, 1, 0x05)) c.ctl.setText("Text1(2)", AdvanceText(*b));
  return true;
}

bool ReadSensorPressure(const LiveContext& c) {
  auto reply = SensorOne(c, 0x06, "atmo timeout !! ");
  if (!reply) return false;
  if (auto b = DataByte(*reply, 1, 0x06)) c.ctl.setText("Text1(3)", PressureText(*b));
  return true;
}

bool ReadSensorAirTemp(const LiveContext& c) {
  auto reply = SensorOne(c, 0x07, "Air timeout !! ");
  if (!reply) return false;
  if (auto b = DataByte(*reply, 1, 0x07))
    c.ctl.setText("Text1(4)", TempTabText(c.temptab[static_cast<std::size_t>(*b)]));
  return true;
}

bool ReadSensorWaterTemp(const LiveContext& c) {
  auto reply = SensorOne(c, 0x08, "Eau timeout !! ");
  if (!reply) return false;
  if (auto b = DataByte(*reply, 1, 0x08))
    c.ctl.setText("Text1(5)", TempTabText(c.temptab[static_cast<std::size_t>(*b)]));
  return true;
}

bool ReadSensorThrottle(const LiveContext& c) {
  auto reply = SensorOne(c, 0x09, nullptr);
  if (!reply) {
    sensorTimeoutWithBytes(c, "Throttle timeout!!  ", true);
    return false;
  }
  std::optional<int> b = DataByte(*reply, 1, 0x09);
  if (b && c.ctl.value("Option3")) c.ctl.setText("Text1(6)", ThrottleAngleText(*b));
  if (c.ctl.value("Option4")) c.ctl.setText("Text1(6)", ThrottleScale2Text(b.value_or(0)));
  return true;
}

bool ReadSensorBattery(const LiveContext& c) {
  auto reply = SensorOne(c, 0x0A, nullptr);
  if (!reply) {
    sensorTimeoutWithBytes(c, "Bat timeout!!  ", false);
    return false;
  }
  if (auto b = DataByte(*reply, 1, 0x0A)) c.ctl.setText("Text1(7)", BatteryText(*b));
  return true;
}

bool ReadSensorTrimmer(const LiveContext& c) {
  uint8_t code = c.ctl.value("Option6") ? 0x0B : 0x0F;
  auto reply = SensorOne(c, code, "trim timeout !! ");
  if (!reply) return false;
  if (auto b = DataByte(*reply, 1, code)) c.ctl.setText("Text1(8)", TrimmerText(*b));
  return true;
}

}  // namespace kline::live
