#pragma once

#include <QString>
#include <QVariant>
#include <QWidget>
#include <map>

class QPlainTextEdit;
class QPushButton;
class Session;

// A top-level window that renders the control model of one of the logic's windows (by its name,
// "Form3", "Form1") and forwards clicks to the session with that name. The control named like
// the window is the window itself: its caption is the title, its visible property shows and
// hides it. Subclasses build the layout from button() and logPane().
class ModelWindow : public QWidget {
  Q_OBJECT

 public:
  ModelWindow(Session& session, QString win, QWidget* parent = nullptr);

  const QString& windowName() const { return win_; }
  // The widget bound to a control's design name; null for other names.
  QWidget* control(const QString& name) const;
  QPlainTextEdit* log() const { return log_; }

 public slots:
  void applySet(const QString& win, const QString& ctl, int prop, const QVariant& value);
  void appendLog(const QString& win, const QString& line);

 protected:
  QPushButton* button(const QString& name);
  QPlainTextEdit* logPane();
  Session& session() { return session_; }

 private:
  void requestSnapshot();

  Session& session_;
  QString win_;
  std::map<QString, QWidget*> controls_;
  QPlainTextEdit* log_ = nullptr;
};
