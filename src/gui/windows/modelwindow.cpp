#include "gui/windows/modelwindow.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>

#include "gui/dialogs/logsaver.h"
#include "gui/session/session.h"
#include "gui/widgets/widgetbinder.h"
#include "gui/windows/controlhelp.h"
#include "ui/eventsink.h"
#include "ui/sessionevents.h"

ModelWindow::ModelWindow(Session& session, QString win, QWidget* parent)
    : QWidget(parent, Qt::Window),
      session_(session),
      win_(std::move(win)),
      binder_(new WidgetBinder(session, win_, this)) {
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
        const bool bad = s == LinkState::Lost || s == LinkState::Silent ||
                         s == LinkState::OpenFailed || s == LinkState::Babbling;
        line->setText(s == LinkState::Lost
                          ? tr("%1 \u2014 nothing more can reach the ECU: press Back, then "
                               "Disconnect and Connect on the main window")
                                .arg(text)
                          : text);
        line->setStyleSheet(bad ? QStringLiteral("color: #b00000; font-weight: bold") : QString());
      });
  return line;
}

QPushButton* ModelWindow::helpButton() {
  auto* b = new QPushButton(QStringLiteral("?"));
  b->setObjectName(QStringLiteral("help"));
  b->setToolTip(tr("What each control of this window does (F1)"));
  b->setMaximumWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("MMM")));
  connect(b, &QPushButton::clicked, this, [this] { controlhelp::showDialog(win_, this); });
  auto* key = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(key, &QShortcut::activated, b, &QPushButton::click);
  return b;
}

void ModelWindow::explainControls() {
  controlhelp::apply(win_, this);
}

QStringList ModelWindow::controlNames() const {
  return binder_->names();
}

QWidget* ModelWindow::control(const QString& name) const {
  return binder_->control(name);
}

QPushButton* ModelWindow::button(const QString& name) {
  return binder_->button(name);
}

QLineEdit* ModelWindow::textField(const QString& name) {
  return binder_->textField(name);
}

NumberField* ModelWindow::numberField(const QString& name, int min, int max, const QString& what,
                                      const QString& kind) {
  return binder_->numberField(name, min, max, what, kind);
}

void ModelWindow::setGate(const QString& name, WidgetBinder::Gate gate) {
  binder_->setGate(name, std::move(gate));
}

QRadioButton* ModelWindow::option(const QString& name) {
  return binder_->option(name);
}

QSlider* ModelWindow::slider(const QString& name) {
  return binder_->slider(name);
}

QProgressBar* ModelWindow::progressBar(const QString& name) {
  return binder_->progressBar(name);
}

QGroupBox* ModelWindow::frame(const QString& name) {
  return binder_->frame(name);
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
  binder_->apply(ctl, static_cast<Prop>(prop), value);
}

void ModelWindow::appendLog(const QString& win, const QString& line) {
  if (win != win_ || !log_) return;
  ControlRenderer::appendLogLine(log_, line);
}
