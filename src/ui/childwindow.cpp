#include "ui/childwindow.h"

namespace kline {

ChildWindow::ChildWindow(const std::string& name, const std::string& caption, EventSink* sink)
    : ctl(name, sink), name_(name) {
  ctl.add(name, ControlKind::Frame, caption).visible = false;
}

void ChildWindow::Load() {
  if (loaded_) return;
  loaded_ = true;
  Form_Load();
}

void ChildWindow::Unload() {
  if (!loaded_) return;
  Hide();
  loaded_ = false;
}

void ChildWindow::Show() {
  Load();
  if (loaded_) ctl.setVisible(name_, true);
}

void ChildWindow::Hide() {
  ctl.setVisible(name_, false);
}

}  // namespace kline
