#pragma once

#include "gui/windows/modelwindow.h"

class QCloseEvent;

// The diagnostic memory window "Diag": the read buttons in their three groups of three and the
// state button alone, its own log pane and "Back".
class Form3Window : public ModelWindow {
  Q_OBJECT

 public:
  // `owner` is the main window, which this one stands in for while it is hidden.
  explicit Form3Window(Session& session, QWidget* owner = nullptr);

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  QWidget* owner_;
};
