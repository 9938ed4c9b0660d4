#pragma once

#include <QDateTime>
#include <QGroupBox>
#include <QList>
#include <QStringList>
#include <array>

class QCheckBox;
class QTableWidget;

// The "Faults" panel: the latest fault readout and immobiliser readouts of the main window, one
// row per line the window logged, the lines that report a fault marked with a warning icon and
// a colour, the others greyed with a tick; each readout with its time. The newest readout comes
// first and is scrolled into view, and within a readout the faults come before the rest. A new
// connection starts with none of the readouts of the one before. When the bike has been here
// before, "Last visit" adds that visit's fault readout below today's.
class FaultPanel : public QGroupBox {
  Q_OBJECT

 public:
  explicit FaultPanel(QWidget* parent = nullptr);

  QTableWidget* table() const { return table_; }
  // Role of the first column's item: true on a row that reports a fault.
  static constexpr int kFaultRole = Qt::UserRole + 1;
  // False on the rows of a readout taken while the line babbled.
  static constexpr int kTrustedRole = Qt::UserRole + 2;

  struct Shown {
    bool valid = false;
    QStringList lines;
    QList<bool> faults;
    bool stored = false;
    QDateTime when;
    // Read on an earlier connection: no longer shown.
    bool earlier = false;
    // Read while the line carried bytes nobody asked for: the lines may be noise.
    bool trusted = true;
  };
  // The latest readout of a kind (0 faults, 1 immobiliser, 2 immobiliser 2).
  const Shown& latest(int kind) const { return shown_.at(static_cast<std::size_t>(kind)); }
  // Shows or hides the last visit's fault readout; offered once setLastVisit gave one.
  QCheckBox* lastVisitBox() const { return lastVisitBox_; }

 public slots:
  // A readout as Session::faultReadout gives it, at `when` (now if invalid).
  void showReadout(int kind, const QStringList& lines, const QList<bool>& faults, bool stored,
                   QDateTime when = QDateTime(), bool trusted = true);
  // A new connection starts: what is shown belongs to the one before.
  void startConnection();
  // The fault readout of the bike's last visit (from the records), read at `when`.
  void setLastVisit(const QStringList& lines, const QList<bool>& faults, bool stored,
                    const QDateTime& when, bool trusted);

 private:
  void rebuild();
  void addRow(const QString& readout, const QString& text, bool fault, const Shown& s);
  // The rows of one readout; `faults` for a fault readout (its bytes may name an unshown fault).
  void addReadout(const QString& readout, const Shown& s, bool faults);

  QTableWidget* table_ = nullptr;
  QCheckBox* lastVisitBox_ = nullptr;
  std::array<Shown, 3> shown_{};
  Shown lastVisit_;
};
