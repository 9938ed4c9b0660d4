#include "gui/widgets/linkstateview.h"

#include <QLabel>
#include <QPalette>
#include <QStatusBar>

#include "connection/linkmonitor.h"
#include "gui/session/session.h"
#include "gui/widgets/lampwidget.h"
#include "gui/widgets/rpmbarwidget.h"
#include "gui/windows/controlrenderer.h"
#include "ui/controlmodel.h"

namespace {

const char* const kStale = "stale";

bool isBadNews(int state) {
  using kline::LinkState;
  const auto s = static_cast<LinkState>(state);
  return s == LinkState::Lost || s == LinkState::OpenFailed || s == LinkState::Silent ||
         s == LinkState::Babbling;
}

}  // namespace

LinkStateView::LinkStateView(Session& session, Widgets w, QObject* parent)
    : QObject(parent), w_(std::move(w)) {
  line_ = new QLabel(tr("Not connected"));
  line_->setTextFormat(Qt::PlainText);
  line_->setObjectName(QStringLiteral("linkStatus"));
  line_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  w_.statusBar->addWidget(line_, 1);
  pace_ = new QLabel;
  pace_->setTextFormat(Qt::PlainText);
  pace_->setObjectName(QStringLiteral("livePace"));
  pace_->setToolTip(tr("Completed live cycles per second, and how long the last one took"));
  w_.statusBar->addPermanentWidget(pace_);
  connect(&session, &Session::cyclesMeasured, this, [this](const QString& text) {
    if (static_cast<kline::LinkState>(state_) == kline::LinkState::Live) pace_->setText(text);
  });
  connect(&session, &Session::linkChanged, this, &LinkStateView::onLink);
  connect(&session, &Session::controlSet, this, &LinkStateView::onSet);
}

bool LinkStateView::isStale(const QWidget* w) {
  return w && w->property(kStale).toBool();
}

void LinkStateView::setStale(QWidget* w, bool stale) {
  if (!w || isStale(w) == stale) return;
  w->setProperty(kStale, stale);
  if (auto* bar = qobject_cast<RpmBarWidget*>(w)) {
    bar->setStale(stale);
    return;
  }
  // Greyed like a disabled field, while it stays selectable and copyable.
  QPalette p = w->parentWidget() ? w->parentWidget()->palette() : w->palette();
  if (stale) {
    for (auto role : {QPalette::Text, QPalette::WindowText}) {
      const QColor grey = p.color(QPalette::Disabled, role);
      p.setColor(QPalette::Active, role, grey);
      p.setColor(QPalette::Inactive, role, grey);
    }
    w->setPalette(p);
  } else {
    w->setPalette(QPalette());
  }
}

QString LinkStateView::text() const {
  return text_;
}

void LinkStateView::onLink(int state, const QString& text, bool valuesStale, bool rpmStale,
                           bool ecuHeard) {
  const bool news = state != state_;
  state_ = state;
  text_ = text;
  // The pace is shown only while it is being measured.
  if (static_cast<kline::LinkState>(state) != kline::LinkState::Live) pace_->clear();
  // The window's way back from a lost port.
  const QString shown = static_cast<kline::LinkState>(state) == kline::LinkState::Lost
                            ? tr("%1 \u2014 press Disconnect, then Connect").arg(text)
                            : text;
  line_->setText(shown);
  line_->setToolTip(ControlRenderer::plainToolTip(shown));
  // Bad news is not left behind a passing remark.
  if (news && isBadNews(state)) w_.statusBar->clearMessage();
  for (QWidget* v : w_.values) setStale(v, valuesStale);
  setStale(w_.readout, rpmStale);
  setStale(w_.bar, rpmStale);
  // "Wait for ignition.." is outdated once the ECU has answered (the second P8 never clears it).
  waitCaptionOutdated_ = ecuHeard;
  applyLamp();
  applyWaitCaption();
}

void LinkStateView::onSet(const QString& win, const QString&, int, const QVariant&) {
  // The window has just shown a write of the logic: what this view adjusts (the lamp, the wait
  // caption) is adjusted again, whichever control it was.
  if (win != QLatin1String("Form2")) return;
  applyLamp();
  applyWaitCaption();
}

void LinkStateView::applyLamp() {
  if (!w_.lamp) return;
  const auto s = static_cast<kline::LinkState>(state_);
  const QColor amber = QColor::fromRgb(kAmber);
  if (s == kline::LinkState::Lost) {
    w_.lamp->setRgb(static_cast<int>(kline::kRgbRed));
    babbleLamp_ = false;
  } else if (s == kline::LinkState::Babbling) {
    // Amber while the line babbles; what the logic sets meanwhile is kept for afterwards.
    if (!babbleLamp_ || w_.lamp->colour() != amber) logicLamp_ = w_.lamp->colour();
    w_.lamp->setRgb(static_cast<int>(kAmber));
    babbleLamp_ = true;
  } else if (babbleLamp_) {
    babbleLamp_ = false;
    if (w_.lamp->colour() == amber) w_.lamp->setRgb(static_cast<int>(logicLamp_.rgb() & 0xFFFFFF));
  }
}

void LinkStateView::applyWaitCaption() {
  if (waitCaptionOutdated_ && w_.status &&
      w_.status->text() == QLatin1String("Wait for ignition.."))
    w_.status->clear();
}
