#include "gui/modelwindow.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>

#include "gui/logsaver.h"
#include "gui/session.h"
#include "ui/eventsink.h"
#include "ui/sessionevents.h"

ModelWindow::ModelWindow(Session& session, QString win, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), win_(std::move(win)) {
  setObjectName(win_);
  connect(&session_, &Session::controlSet, this, &ModelWindow::applySet);
  connect(&session_, &Session::logLine, this, &ModelWindow::appendLog);
  // The model starts with the session's thread; a window made later asks at once.
  connect(&session_, &Session::loaded, this, &ModelWindow::requestSnapshot);
  logSaver_ = new LogSaver(session_, win_, this);
  if (session_.isLoaded()) requestSnapshot();
}

void ModelWindow::requestSnapshot() {
  session_.requestSnapshot(win_);
}

QLabel* ModelWindow::linkLine() {
  auto* line = new QLabel(tr("Not connected"));
  line->setObjectName(QStringLiteral("linkStatus"));
  line->setTextFormat(Qt::PlainText);
  line->setWordWrap(true);
  line->setTextInteractionFlags(Qt::TextSelectableByMouse);
  connect(
      &session_, &Session::linkChanged, line,
      [line](int state, const QString& text, bool, bool, bool) {
        using kline::LinkState;
        const auto s = static_cast<LinkState>(state);
        const bool bad =
            s == LinkState::Lost || s == LinkState::Silent || s == LinkState::OpenFailed;
        line->setText(s == LinkState::Lost
                          ? tr("%1 \u2014 nothing more can reach the ECU: press Back, then "
                               "Disconnect and Connect on the main window")
                                .arg(text)
                          : text);
        line->setStyleSheet(bad ? QStringLiteral("color: #b00000; font-weight: bold") : QString());
      });
  return line;
}

QWidget* ModelWindow::control(const QString& name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second;
}

void ModelWindow::bind(const QString& name, QWidget* w) {
  w->setObjectName(name);
  controls_[name] = w;
}

QPushButton* ModelWindow::button(const QString& name) {
  auto* b = new QPushButton;
  bind(name, b);
  connect(b, &QPushButton::clicked, this, [this, name] { session_.click(name, win_); });
  return b;
}

QLineEdit* ModelWindow::textField(const QString& name) {
  auto* e = new QLineEdit;
  bind(name, e);
  connect(e, &QLineEdit::textEdited, this, [this, name](const QString& text) {
    renderer_.typed(name, text);
    session_.setText(name, text, win_);
  });
  return e;
}

QRadioButton* ModelWindow::option(const QString& name) {
  auto* r = new QRadioButton;
  bind(name, r);
  connect(r, &QRadioButton::clicked, this, [this, name] { session_.click(name, win_); });
  return r;
}

QSlider* ModelWindow::slider(const QString& name) {
  auto* s = new QSlider(Qt::Horizontal);
  bind(name, s);
  // Only the user's moves go to the session; the model's values are applied with signals
  // blocked.
  connect(s, &QSlider::valueChanged, this,
          [this, name](int value) { session_.setValue(name, value, win_); });
  return s;
}

QProgressBar* ModelWindow::progressBar(const QString& name) {
  auto* p = new QProgressBar;
  p->setTextVisible(false);
  p->setValue(0);
  bind(name, p);
  return p;
}

QGroupBox* ModelWindow::frame(const QString& name) {
  auto* g = new QGroupBox;
  bind(name, g);
  return g;
}

QPlainTextEdit* ModelWindow::logPane() {
  log_ = new QPlainTextEdit;
  log_->setObjectName(QStringLiteral("Rtb1"));
  log_->setReadOnly(true);
  log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  log_->setLineWrapMode(QPlainTextEdit::NoWrap);
  return log_;
}

QPushButton* ModelWindow::saveLogButton() {
  auto* b = new QPushButton(tr("Save log\u2026"));
  b->setObjectName(QStringLiteral("saveLog"));
  b->setToolTip(tr("Write the log pane to a text file, as it holds it"));
  connect(b, &QPushButton::clicked, logSaver_, &LogSaver::save);
  return b;
}

void ModelWindow::applySet(const QString& win, const QString& ctl, int prop,
                           const QVariant& value) {
  if (win != win_) return;
  using kline::Prop;
  if (ctl == win_) {
    if (static_cast<Prop>(prop) == Prop::Visible) setVisible(value.toBool());
    if (static_cast<Prop>(prop) == Prop::Caption) setWindowTitle(value.toString());
    return;
  }
  renderer_.apply(ctl, control(ctl), static_cast<Prop>(prop), value);
}

void ModelWindow::appendLog(const QString& win, const QString& line) {
  if (win != win_ || !log_) return;
  ControlRenderer::appendLogLine(log_, line);
}
