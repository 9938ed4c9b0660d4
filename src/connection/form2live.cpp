// The main window's live data handlers. The cycles themselves live in livedata/ and see only what
// is lent to them here: the window's controls, its host, its port, the temperature table, the log
// pane and the hand-over of the trimmer value to the test window.
#include "connection/ecutypes.h"
#include "connection/form2.h"
#include "livedata/livecycle.h"

namespace kline {

namespace {

live::LiveContext ContextOf(Form2& f) {
  return live::LiveContext{
      f.ctl,
      f.host(),
      [&f] { return f.port(); },
      f.temptab,
      [&f](const std::string& line) { f.log(line); },
      [&f] { f.TrimmerHandover(); },
      SelectedEcuTypeInfo(f.ctl).throttleVoltage,
  };
}

}  // namespace

void Form2::ReadLive15m() {
  lastCycleCompleted_ = live::ReadLive15m(ContextOf(*this));
}

void Form2::ReadLive16m() {
  lastCycleCompleted_ = live::ReadLive16m(ContextOf(*this));
}

void Form2::ReadLiveP8() {
  lastCycleCompleted_ = live::ReadLiveP8(ContextOf(*this));
}

void Form2::ReadLivePerSensor() {
  live::ReadLivePerSensor(ContextOf(*this));
  // A silent sensor does not end the cycle: it runs to its end while the port stays open.
  lastCycleCompleted_ = portOpen();
}

void Form2::ReadSensorAirTemp() {
  live::ReadSensorAirTemp(ContextOf(*this));
}

}  // namespace kline
