#include "diagnosis/form3.h"

#include "connection/form2.h"

namespace kline {

Form3::Form3(Form2& main, EventSink* sink) : ctl("Form3", sink), main_(main) {
  using K = ControlKind;
  Control& w = ctl.add("Form3", K::Frame, "Diag");
  w.visible = false;
  ctl.add("back", K::Button, "Back").handler = [this] { back_Click(); };
}

void Form3::Load() {
  if (loaded_) return;
  loaded_ = true;
  Form_Load();
}

void Form3::Unload() {
  if (!loaded_) return;
  Hide();
  loaded_ = false;
}

void Form3::Show() {
  Load();
  ctl.setVisible("Form3", true);
}

void Form3::Hide() { ctl.setVisible("Form3", false); }

void Form3::Form_Load() {}

void Form3::back_Click() {
  main_.TimerOn(20);
  main_.Show();
  Hide();
}

}  // namespace kline
