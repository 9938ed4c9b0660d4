#pragma once

#include "gui/windows/modelwindow.h"

class QCloseEvent;

// The actuator test window "Test": the nine test buttons, the custom code, the CO regulation
// frame with the trimmer, its own progress bar and log pane, and "Back".
class Form1Window : public ModelWindow {
  Q_OBJECT

 public:
  // `owner` is the main window, which this one stands in for while it is hidden.
  explicit Form1Window(Session& session, QWidget* owner = nullptr);

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  QWidget* owner_;
};
