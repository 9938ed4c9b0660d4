#include "actuators/form1.h"

#include "connection/form2.h"

namespace kline {

Form1::Form1(Form2& main, EventSink* sink) : ctl("Form1", sink), main_(main) {
  using K = ControlKind;
  Control& w = ctl.add("Form1", K::Frame, "Test");
  w.visible = false;
  ctl.add("back", K::Button, "Back").handler = [this] { back_Click(); };
}

void Form1::Load() {
  if (loaded_) return;
  loaded_ = true;
  Form_Load();
}

void Form1::Unload() {
  if (!loaded_) return;
  Hide();
  loaded_ = false;
}

void Form1::Show() {
  Load();
  if (loaded_) ctl.setVisible("Form1", true);
}

void Form1::Hide() { ctl.setVisible("Form1", false); }

void Form1::Form_Load() {}

void Form1::back_Click() {
  main_.TimerOn(20);
  main_.Show();
  Unload();
}

}  // namespace kline
