#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class Session;

// Keeps the controls that pick or probe a port (the Ports chooser, "Check adapter")
// unavailable while a session holds its port, from the port's opening until Disconnect, with a
// tooltip that says why; afterwards they come back with their own tooltips. A Connect whose port
// did not open holds nothing: another port can be chosen then. GUI thread only.
class PortLock : public QObject {
  Q_OBJECT

 public:
  struct Locked {
    QWidget* widget;
    QString why;  // "Disconnect first: …"
  };
  PortLock(Session& session, QList<Locked> controls, QObject* parent = nullptr);

  bool locked() const { return locked_; }

 private:
  void setLocked(bool on);

  struct Held {
    QPointer<QWidget> widget;
    QString why;
    QString ownTip;
  };
  QList<Held> held_;
  bool locked_ = false;
};
