#pragma once

#include <cstdint>
#include <string>

#include "ui/controlmodel.h"

namespace kline {

class Form2;

// The actuator test window "Test": nine test buttons, a custom code, CO regulation and the
// trimmer, its own log pane and progress bar. It talks through the main window's port while the
// poll loop is stopped. Session thread only.
class Form1 {
 public:
  Form1(Form2& main, EventSink* sink);

  ControlModel ctl;  // the control named "Form1" is the window itself (caption, visible)

  bool loaded() const { return loaded_; }
  // Creates the window (runs Form_Load, the open sequence) if it does not exist yet.
  void Load();
  void Unload();
  void Show();
  void Hide();

  void Form_Load();
  void back_Click();

  void log(const std::string& line) { ctl.appendLog(line); }

 private:
  Form2& main_;
  bool loaded_ = false;
};

}  // namespace kline
