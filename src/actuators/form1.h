#pragma once

#include <cstdint>
#include <string>

#include "ui/childwindow.h"

namespace kline {

// One button of the test window: its caption, its codes in the two sets of test codes (the
// first and the second TestCodes, each with the name it logs) and the verdict wait in seconds.
struct ActuatorTest {
  const char* button;
  const char* caption;
  int codeA, codeB;
  const char* nameA;
  const char* nameB;
  int duration;
  // The ECU erases its stored faults.
  bool clearsFaults = false;
};
const ActuatorTest* ActuatorTests();  // Command1 .. Command9, in order; Command8 is the custom code

// The actuator test window "Test": nine test buttons, a custom code, CO regulation and the
// trimmer, its own log pane and progress bar. It talks through the main window's port while the
// poll loop is stopped. Session thread only.
class Form1 : public ChildWindow {
 public:
  Form1(MainWindowLink& main, EventSink* sink);

  void Form_Load() override;
  void back_Click();
  void Command_Click(int n);  // Command1_Click .. Command9_Click
  void Command10_Click();
  void Option1_Click();
  void Option2_Click();
  void Slider1_Change();
  void Text2_Change();

  void RunActuatorTest(uint8_t code, const std::string& name, int16_t duration);
  void WaitActuatorVerdict(int16_t duration);

  bool waiting() const { return waiting_; }
  // The trimmer value the main window last read (TrimmerHandover: the live channel's value, the
  // byte read less 128), for what is published when a new value is set.
  void trimmerRead(int value) { trimmer_ = value + 128; }
  // The main window's trimmer field after a 15m cycle: an open window shows the value.
  void TrimmerHandover(const std::string& field);

 private:
  // Writes one byte after a discard and waits for echo and answer; the reply string or nothing.
  bool exchange(uint8_t byte, int timeLimit, int poll1, int poll2, std::string& reply);
  void coRegulation(bool on);
  void leave();

  MainWindowLink& main_;
  bool waiting_ = false;        // a verdict wait runs
  bool backRequested_ = false;  // "Back" was pressed during it
  // What the observers are told: the verdict text of the last wait, the trimmer's last known
  // byte (-1: none) and whether CO regulation is on.
  std::string shown_;
  int trimmer_ = -1;
  bool co_ = false;
};

}  // namespace kline
