#pragma once

#include <QColor>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

class LampWidget;
class QLabel;
class QStatusBar;
class QWidget;
class RpmBarWidget;
class Session;

// Shows the link's state on the main window: the status bar's line, the lamp turned red when
// the port is lost and amber while the line babbles, the value fields, the engine-speed readout and
// the bar greyed while they show old readings, and "Wait for ignition.." taken down once the ECU
// answers. It only changes how the window looks: the logic's controls keep what the logic wrote.
// GUI thread only.
class LinkStateView : public QObject {
  Q_OBJECT

 public:
  struct Widgets {
    QStatusBar* statusBar = nullptr;
    LampWidget* lamp = nullptr;
    QLabel* status = nullptr;   // Label4
    QLabel* readout = nullptr;  // Label26
    RpmBarWidget* bar = nullptr;
    QList<QWidget*> values;  // Text1(0..9)
  };
  // Connect after the window's own rendering of the session's writes: this view adjusts what
  // the rendering has just shown.
  LinkStateView(Session& session, Widgets w, QObject* parent = nullptr);

  // The line shown in the status bar for the link.
  QLabel* statusLine() const { return line_; }
  // The live data's pace while it comes in: "8.3 cycles/s, last 118 ms".
  QLabel* paceLine() const { return pace_; }
  int state() const { return state_; }
  // Whether a widget is shown as stale (greyed).
  static bool isStale(const QWidget* w);
  static void setStale(QWidget* w, bool stale);
  // The link's line as shown ("Port sim lost: ...").
  QString text() const;

 private:
  void onLink(int state, const QString& text, bool valuesStale, bool rpmStale, bool ecuHeard);
  void onSet(const QString& win, const QString& ctl, int prop, const QVariant& value);
  void applyLamp();
  void applyWaitCaption();

  Widgets w_;
  QLabel* line_ = nullptr;
  QLabel* pace_ = nullptr;
  int state_ = 0;
  QString text_;
  bool waitCaptionOutdated_ = false;
  // The lamp is amber while the line babbles, over the colour the logic gave it.
  static constexpr unsigned kAmber = 0xFFB000;
  bool babbleLamp_ = false;
  QColor logicLamp_;
};
