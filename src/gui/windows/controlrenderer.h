#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <map>

#include "ui/eventsink.h"
#include "ui/logpane.h"

class QWidget;
class QPlainTextEdit;

// Shows the logic's writes of control properties on the standard widgets (buttons, check and
// option boxes, labels, frames, text fields, text panes, progress bars, lists, sliders), for
// every window. Text the user has just typed comes back from the logic as an echo: the
// renderer remembers it per control and lets the echo pass, so typing ahead is never undone.
// GUI thread only.
class ControlRenderer {
 public:
  // Applies one write to `w`; `key` names the control for the typed-text bookkeeping.
  void apply(const QString& key, QWidget* w, kline::Prop prop, const QVariant& value);
  // The user typed `text` into the control `key`; its echo is expected.
  void typed(const QString& key, const QString& text) { pendingText_[key] << text; }

  static QString escapeMnemonic(const QString& s);
  // A text from a port, a file or the ECU as a tooltip, which would take markup: escaped.
  static QString plainToolTip(const QString& s);
  static void scrollToEnd(QPlainTextEdit* e);
  // Appends a line to a log pane and scrolls to it, staying at the lines' start unless the user
  // has scrolled sideways. Past `limit` lines the oldest leave the
  // pane and its first line says how many have gone, as the logic's own pane does.
  static void appendLogLine(QPlainTextEdit* e, const QString& line,
                            std::size_t limit = kline::LogPane::kDefaultLimit);

 private:
  std::map<QString, QStringList> pendingText_;
  // Per control, the typed text whose echo came back last.
  std::map<QString, QString> lastEcho_;
};
