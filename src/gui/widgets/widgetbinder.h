#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <map>

#include "gui/windows/controlrenderer.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class NumberField;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QWidget;
class Session;

// Binds the widgets of one of the logic's windows to its controls' design names: the widget
// makers forward the user's clicks, typing and choices to the session, and apply() shows the
// logic's writes on the bound widget. The main window and the other windows share it.
// GUI thread only.
class WidgetBinder : public QObject {
  Q_OBJECT

 public:
  WidgetBinder(Session& session, QString win, QObject* parent = nullptr);

  const QString& window() const { return win_; }
  // `index`: the element of an array of controls that one widget draws (the rpm bar's
  // segments); such a binding takes only what the window applies itself.
  void bind(const QString& name, QWidget* w, int index = -1);
  void bindAction(const QString& name, QAction* a);
  QWidget* control(const QString& name) const;
  QAction* action(const QString& name) const;
  int index(const QString& name) const;
  // The names bound to a widget or action of their own (not the segments of an array).
  QStringList names() const;

  QPushButton* button(const QString& name, bool checkable = false);
  QLineEdit* textField(const QString& name, bool readOnly = false);
  QCheckBox* checkBox(const QString& name);
  QRadioButton* option(const QString& name);
  QLabel* label(const QString& name);
  // Its range is -max .. max of the model's control.
  QSlider* slider(const QString& name);
  QProgressBar* progressBar(const QString& name);
  QGroupBox* frame(const QString& name);
  // A field of whole numbers from `min` to `max` (see NumberField): only valid values reach
  // the session. `kind` says what it holds (whole milliseconds by default).
  NumberField* numberField(const QString& name, int min, int max, const QString& what,
                           const QString& kind = QString());
  // The user typed `text` into a bound field of their own making; it goes to the session.
  void typed(const QString& name, const QString& text);
  // The user chose the entry `row` of the bound list `name`; it goes to the session unless its
  // gate keeps it.
  void choose(const QString& name, int row);

  // A gate decides, before a user's click on the control `name` (value -1) or choice of a list
  // entry (its row) goes to the session, whether it goes at all. One gate per control.
  using Gate = std::function<bool(int value)>;
  void setGate(const QString& name, Gate gate);

  // Shows a write of the logic on the bound widget or action; false for a name not bound.
  bool apply(const QString& ctl, kline::Prop prop, const QVariant& value);

 private:
  struct Binding {
    QWidget* widget = nullptr;
    QAction* action = nullptr;
    int index = -1;
  };
  Session& session_;
  QString win_;
  bool passes(const QString& name, int value) const;

  std::map<QString, Binding> controls_;
  std::map<QString, Gate> gates_;
  // Texts typed here whose echo has not come back yet; the echo is not applied, so typing ahead
  // of the session never jumps back.
  ControlRenderer renderer_;
};
