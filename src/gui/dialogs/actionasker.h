#pragma once

#include <QObject>
#include <functional>

#include "actuators/actionguard.h"

class MainWindow;
class Session;

// Asks before an actuator action of the windows acts (kline::ActionGuard decides which, and
// what to say): a dialog shows the question and, for clearing, the faults last read, and offers
// to save the report first ("Report…"); an action not confirmed sends nothing. It stands
// between the widgets of the main window's test list and of the "Test" window and the session;
// scripted actions do not pass here. GUI thread only.
class ActionAsker : public QObject {
  Q_OBJECT

 public:
  enum class Answer { Cancel, Go, SaveReportFirst };
  using Confirm = std::function<Answer(const kline::ActionGuard::Question&)>;

  // Guards the test list of `window` and the buttons of its "Test" window.
  ActionAsker(MainWindow& window, Session& session);

  // Replaces the dialog (tests answer the question themselves).
  void setConfirm(Confirm confirm) { confirm_ = std::move(confirm); }
  // Whether the action `name` may go ahead, asking first if it must.
  bool allow(const QString& name, bool clearsFaults);

 private:
  Answer askInDialog(const kline::ActionGuard::Question& q);

  MainWindow& window_;
  // The connected ECU type takes the test window's first set of codes (from its Connect).
  bool codesA_ = false;
  kline::ActionGuard guard_;
  Confirm confirm_;
};
