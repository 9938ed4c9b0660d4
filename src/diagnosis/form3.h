#pragma once

#include <cstdint>
#include <string>

#include "ui/controlmodel.h"

namespace kline {

class Form2;

// The diagnostic memory window "Diag": ten read buttons, its own log pane and "Back". It has no
// port of its own and talks through the main window's while the poll loop is stopped.
// Session thread only.
class Form3 {
 public:
  Form3(Form2& main, EventSink* sink);

  ControlModel ctl;  // the control named "Form3" is the window itself (caption, visible)

  bool loaded() const { return loaded_; }
  // Creates the window (runs Form_Load) if it does not exist yet.
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
