#pragma once

#include <QToolButton>
#include <functional>
#include <vector>

#include "platform/portlist.h"

class QLineEdit;
class QMenu;

// The drop-down beside the port field: the serial ports the platform sees, likely K-line cables
// first and marked, and the simulated ECU, listed afresh each time it opens. Choosing one puts
// its name in the field as if typed. GUI thread only.
class PortChooser : public QToolButton {
  Q_OBJECT

 public:
  using Source = std::function<std::vector<kline::PortRecord>()>;
  // `source` lists the ports, in any order (the platform's by default; tests give their own).
  explicit PortChooser(QLineEdit* field, Source source = {}, QWidget* parent = nullptr);

  // The entries as shown, in order (filled when the menu opens, or by refresh()).
  QMenu* list() const { return menu_; }
  void refresh();

  // One entry's text: "/dev/ttyUSB0 — USB serial (0403:6001, FTDI) — FTDI FT232R or FT232B —
  // likely K-line cable", with a slow latency timer after the chip's name.
  static QString EntryText(const kline::PortRecord& p);
  // One entry's tooltip (rich text, the system's texts escaped): the chip, its driver, what is
  // known of it, and what a slow latency timer costs and how to set it. Empty when nothing is
  // known.
  static QString ToolTipText(const kline::PortRecord& p);

 signals:
  // The user chose a port: its text is in the field.
  void chosen(const QString& text);

 private:
  QLineEdit* field_;
  Source source_;
  QMenu* menu_;
};
