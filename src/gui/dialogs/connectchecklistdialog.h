#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class Session;

// The checklist of a first connection that hears nothing from the ECU, shown beside the main
// window (never modal: the window goes on) once per Connect when the session offers it
// (Session::checklistOffered). "Check the adapter" pauses the session as the user would
// (Disconnect), runs the adapter check on the connection's port, shows what it found in an area of
// its own (the buttons never move) and connects again; once the ECU has answered, it asks before
// it disconnects. The list closes itself when the ECU answers: it is no longer true. Every text of
// the list that came from the system or the user is shown as plain text. GUI thread only.
class ConnectChecklistDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ConnectChecklistDialog(Session& session, QWidget* parent = nullptr);

  // The adapter check's findings, handed here first: true when this dialog asked for the check
  // (it shows them and connects again), false when they are someone else's to show.
  bool takeAdapterCheck(bool ok, const QStringList& lines);

  QPushButton* checkButton() const { return check_; }
  // What the adapter check is doing, or found.
  QLabel* progressLine() const { return progress_; }
  // The question asked before a session that hears the ECU is dropped for the check (null when
  // none is open).
  QWidget* disconnectQuestion() const { return ask_; }

 signals:
  // The ECU answered while the list was shown: it has closed.
  void closedByAnswer();

 private:
  void offer(const QString& port, const QString& ecu);
  // Sizes the dialog to the list, within the screen.
  void fitToScreen();
  int listHeight(int width) const;
  void startCheck();
  // Disconnects (when connected) and runs the check.
  void runCheck();
  void onLink(int state, bool ecuHeard);

  enum class Step { None, Pausing, Checking };
  Session& session_;
  QVBoxLayout* items_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QPushButton* check_ = nullptr;
  QLabel* progress_ = nullptr;
  QString port_;
  int linkState_ = 0;
  bool ecuHeard_ = false;
  QWidget* ask_ = nullptr;
  Step step_ = Step::None;
};
