#include "gui/modelwindow.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include "gui/session.h"
#include "ui/eventsink.h"

ModelWindow::ModelWindow(Session& session, QString win, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), win_(std::move(win)) {
  setObjectName(win_);
  connect(&session_, &Session::controlSet, this, &ModelWindow::applySet);
  connect(&session_, &Session::logLine, this, &ModelWindow::appendLog);
  // The model starts with the session's thread; a window made later asks at once.
  connect(&session_, &Session::loaded, this, &ModelWindow::requestSnapshot);
  if (session_.isLoaded()) requestSnapshot();
}

void ModelWindow::requestSnapshot() {
  session_.requestSnapshot(win_);
}

QWidget* ModelWindow::control(const QString& name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second;
}

QPushButton* ModelWindow::button(const QString& name) {
  auto* b = new QPushButton;
  b->setObjectName(name);
  controls_[name] = b;
  connect(b, &QPushButton::clicked, this, [this, name] { session_.click(name, win_); });
  return b;
}

QPlainTextEdit* ModelWindow::logPane() {
  log_ = new QPlainTextEdit;
  log_->setObjectName(QStringLiteral("Rtb1"));
  log_->setReadOnly(true);
  log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  log_->setLineWrapMode(QPlainTextEdit::NoWrap);
  return log_;
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
  QWidget* w = control(ctl);
  if (!w) return;
  switch (static_cast<Prop>(prop)) {
    case Prop::Enabled:
      w->setEnabled(value.toBool());
      break;
    case Prop::Visible:
      w->setVisible(value.toBool());
      break;
    case Prop::Caption:
      if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        QString text = value.toString();
        b->setText(text.replace(QLatin1Char('&'), QLatin1String("&&")));
      }
      break;
    default:
      break;
  }
}

void ModelWindow::appendLog(const QString& win, const QString& line) {
  if (win != win_ || !log_) return;
  log_->appendPlainText(line);
  log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}
