#pragma once

// The live data of every ECU type: the one-exchange-per-channel cycles of 15m/15Rc, 16m and P8,
// the per-sensor cycle of the second P8 type with its nine procedures, and the rpm bar. They work
// on the main window's controls under their design names (the ticks Check1(i), the fields
// Text1(i), the scales Option3 to Option6, the fields Text5, Text7 and Text11, the bar Line1(i)
// and Label26, the status Label4) and on what the window hands in below, the ECU type included;
// the window itself stays out of this folder.

#include <functional>
#include <string>

#include "host/host.h"
#include "livedata/conversions.h"
#include "serial/serialport.h"
#include "ui/controlmodel.h"

namespace kline::live {

// What a cycle works with, owned by the main window and lent for the length of one call.
struct LiveContext {
  ControlModel& ctl;
  Host& host;
  // The window's port, asked for at every use as the window's own code did: null until the first
  // connect, and a connect replaces it.
  std::function<SerialPort*()> port;
  const TempTable& temptab;
  // A line for the window's log pane.
  std::function<void(const std::string&)> log;
  // Hands the 15m cycle's trimmer value to the test window; may be empty.
  std::function<void()> trimmerHandover;
  // The 15m cycle also reads the throttle sensor's voltage into Text1(9) (the 15Rc's way).
  bool throttleVoltage = false;
};

// One cycle of the ticked channels in index order, the first silent channel ending it. True when
// the cycle ran to its end; false when the port was not open or a channel stayed silent.
bool ReadLive15m(const LiveContext& c);  // 15m, and 15Rc with throttleVoltage
bool ReadLive16m(const LiveContext& c);
bool ReadLiveP8(const LiveContext& c);

// The per-sensor cycle: each ticked sensor after the "Text5" pause, a silent one costing only its
// own reading and its time-out line. False when the port was not open and nothing was asked.
bool ReadLivePerSensor(const LiveContext& c);
// One sensor each, against the "timeout" field Text7. True when the sensor answered, false on a
// time-out (its line logged) or with no port.
bool ReadSensorRpm(const LiveContext& c);
bool ReadSensorInjection(const LiveContext& c);
bool ReadSensorAdvance(const LiveContext& c);
bool ReadSensorPressure(const LiveContext& c);
bool ReadSensorAirTemp(const LiveContext& c);
bool ReadSensorWaterTemp(const LiveContext& c);
bool ReadSensorThrottle(const LiveContext& c);
bool ReadSensorBattery(const LiveContext& c);
bool ReadSensorTrimmer(const LiveContext& c);

// The rpm bar: lights the segments Line1(i) for an rpm text and shows it in Label26.
void ShowRpm(ControlModel& ctl, const std::string& R);

}  // namespace kline::live
