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
// (Disconnect), runs the adapter check on the connection's port, shows what it found and connects
// again. Every text of the list that came from the system or the user is shown as plain text.
// GUI thread only.
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

 private:
  void offer(const QString& port, const QString& ecu);
  // Sizes the dialog to the list, within the screen.
  void fitToScreen();
  int listHeight(int width) const;
  void startCheck();
  void onLink(int state);

  enum class Step { None, Pausing, Checking };
  Session& session_;
  QVBoxLayout* items_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QPushButton* check_ = nullptr;
  QLabel* progress_ = nullptr;
  QString port_;
  int linkState_ = 0;
  Step step_ = Step::None;
};
