#include "gui/widgets/widgetbinder.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include "gui/session/session.h"
#include "gui/widgets/numberfield.h"

WidgetBinder::WidgetBinder(Session& session, QString win, QObject* parent)
    : QObject(parent), session_(session), win_(std::move(win)) {}

void WidgetBinder::bind(const QString& name, QWidget* w, int index) {
  if (index < 0) w->setObjectName(name);
  Binding& b = controls_[name];
  b.widget = w;
  b.index = index;
}

void WidgetBinder::bindAction(const QString& name, QAction* a) {
  a->setObjectName(name);
  controls_[name].action = a;
  connect(a, &QAction::triggered, this, [this, name] { session_.click(name, win_); });
}

QWidget* WidgetBinder::control(const QString& name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second.widget;
}

QAction* WidgetBinder::action(const QString& name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second.action;
}

int WidgetBinder::index(const QString& name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? -1 : it->second.index;
}

QStringList WidgetBinder::names() const {
  QStringList out;
  for (const auto& [name, b] : controls_)
    if (b.index < 0) out << name;
  return out;
}

QPushButton* WidgetBinder::button(const QString& name, bool checkable) {
  auto* b = new QPushButton;
  b->setCheckable(checkable);
  bind(name, b);
  connect(b, &QPushButton::clicked, this, [this, name] {
    if (passes(name, -1)) session_.click(name, win_);
  });
  return b;
}

QLineEdit* WidgetBinder::textField(const QString& name, bool readOnly) {
  auto* e = new QLineEdit;
  e->setReadOnly(readOnly);
  bind(name, e);
  if (!readOnly)
    connect(e, &QLineEdit::textEdited, this,
            [this, name](const QString& text) { typed(name, text); });
  return e;
}

NumberField* WidgetBinder::numberField(const QString& name, int min, int max, const QString& what,
                                       const QString& kind) {
  auto* e = new QLineEdit;
  bind(name, e);
  auto* guard = new NumberField(e, min, max, what, kind);
  connect(guard, &NumberField::edited, this,
          [this, name](const QString& text) { typed(name, text); });
  return guard;
}

void WidgetBinder::choose(const QString& name, int row) {
  if (passes(name, row)) session_.setValue(name, row, win_);
}

void WidgetBinder::setGate(const QString& name, Gate gate) {
  gates_[name] = std::move(gate);
}

bool WidgetBinder::passes(const QString& name, int value) const {
  auto it = gates_.find(name);
  return it == gates_.end() || !it->second || it->second(value);
}

void WidgetBinder::typed(const QString& name, const QString& text) {
  renderer_.typed(name, text);
  session_.setText(name, text, win_);
}

QCheckBox* WidgetBinder::checkBox(const QString& name) {
  auto* c = new QCheckBox;
  bind(name, c);
  connect(c, &QCheckBox::clicked, this, [this, name] { session_.click(name, win_); });
  return c;
}

QRadioButton* WidgetBinder::option(const QString& name) {
  auto* r = new QRadioButton;
  bind(name, r);
  connect(r, &QRadioButton::clicked, this, [this, name] { session_.click(name, win_); });
  return r;
}

QLabel* WidgetBinder::label(const QString& name) {
  auto* l = new QLabel;
  // A caption may carry a port's name or what the ECU sent: text, never markup.
  l->setTextFormat(Qt::PlainText);
  bind(name, l);
  return l;
}

QSlider* WidgetBinder::slider(const QString& name) {
  auto* s = new QSlider(Qt::Horizontal);
  bind(name, s);
  // Only the user's moves go to the session; the model's values are applied with signals
  // blocked.
  connect(s, &QSlider::valueChanged, this,
          [this, name](int value) { session_.setValue(name, value, win_); });
  return s;
}

QProgressBar* WidgetBinder::progressBar(const QString& name) {
  auto* p = new QProgressBar;
  p->setTextVisible(false);
  p->setValue(0);
  bind(name, p);
  return p;
}

QGroupBox* WidgetBinder::frame(const QString& name) {
  auto* g = new QGroupBox;
  bind(name, g);
  return g;
}

bool WidgetBinder::apply(const QString& ctl, kline::Prop p, const QVariant& value) {
  auto it = controls_.find(ctl);
  if (it == controls_.end()) return false;
  if (QAction* a = it->second.action) {
    using kline::Prop;
    if (p == Prop::Enabled) a->setEnabled(value.toBool());
    if (p == Prop::Visible) a->setVisible(value.toBool());
    if (p == Prop::Caption) a->setText(ControlRenderer::escapeMnemonic(value.toString()));
  }
  if (it->second.index < 0 && it->second.widget) renderer_.apply(ctl, it->second.widget, p, value);
  return true;
}
