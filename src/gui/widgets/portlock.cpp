#include "gui/widgets/portlock.h"

#include "gui/session/session.h"
#include "ui/sessionevents.h"

PortLock::PortLock(Session& session, QList<Locked> controls, QObject* parent) : QObject(parent) {
  for (const Locked& c : controls) held_.append({c.widget, c.why, {}});
  connect(&session, &Session::linkChanged, this,
          [this](int state, const QString&, bool, bool, bool) {
            using kline::LinkState;
            const auto s = static_cast<LinkState>(state);
            setLocked(s != LinkState::Idle && s != LinkState::OpenFailed);
          });
}

void PortLock::setLocked(bool on) {
  if (on == locked_) return;
  locked_ = on;
  for (Held& h : held_) {
    if (!h.widget) continue;
    if (on) h.ownTip = h.widget->toolTip();
    h.widget->setEnabled(!on);
    h.widget->setToolTip(on ? h.why : h.ownTip);
  }
}
