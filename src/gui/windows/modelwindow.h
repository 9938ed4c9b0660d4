#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <map>

#include "gui/widgets/widgetbinder.h"
#include "gui/windows/controlrenderer.h"

class LogSaver;
class NumberField;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class Session;

// A top-level window that renders the control model of one of the logic's windows (by its name,
// "Form3", "Form1") and forwards clicks to the session with that name. The control named like
// the window is the window itself: its caption is the title, its visible property shows and
// hides it. Subclasses build the layout from the widget makers below and logPane().
class ModelWindow : public QWidget {
  Q_OBJECT

 public:
  ModelWindow(Session& session, QString win, QWidget* parent = nullptr);

  const QString& windowName() const { return win_; }
  // The widget bound to a control's design name; null for other names.
  QWidget* control(const QString& name) const;
  QPlainTextEdit* log() const { return log_; }
  // The design names of the controls bound to this window's widgets.
  QStringList controlNames() const;
  // "Save log…" of this window's pane.
  LogSaver* logSaver() const { return logSaver_; }
  // Decides whether a user's click on `name` (or choice of its row) goes to the session.
  void setGate(const QString& name, WidgetBinder::Gate gate);

 public slots:
  void applySet(const QString& win, const QString& ctl, int prop, const QVariant& value);
  void appendLog(const QString& win, const QString& line);

 protected:
  QPushButton* button(const QString& name);
  QLineEdit* textField(const QString& name);
  // A field of whole numbers from `min` to `max`: only valid values reach the logic.
  NumberField* numberField(const QString& name, int min, int max, const QString& what,
                           const QString& kind);
  QRadioButton* option(const QString& name);
  // Its range is -max .. max of the model's control.
  QSlider* slider(const QString& name);
  QProgressBar* progressBar(const QString& name);
  QGroupBox* frame(const QString& name);
  QPlainTextEdit* logPane();
  // The "Save log…" button, for the row of the window's own buttons.
  QPushButton* saveLogButton();
  // A line under the window's buttons that tells the link's state: this window uses the main
  // window's port, and a port lost here must be seen here.
  QLabel* linkLine();
  // The "?" button (and F1) that lists what each control of the window does.
  QPushButton* helpButton();
  // Gives every control its tooltip and "What's this"; called once the window is built.
  void explainControls();
  Session& session() { return session_; }

 private:
  void requestSnapshot();

  Session& session_;
  QString win_;
  WidgetBinder* binder_;
  QPlainTextEdit* log_ = nullptr;
  LogSaver* logSaver_ = nullptr;
};
