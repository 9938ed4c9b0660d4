#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "records/recordstore.h"

class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTreeWidget;

// "Records → Bikes…": the bikes of the records file, searchable, with the last visit and its
// faults; the chosen bike's details (editable) and visits; a visit's details, its comparison
// with the visit before it, and its report written again. It reads and edits the file with a
// store of its own on the GUI thread (the keeper writes with its own on its thread). Everything
// from the file is shown as plain text, control characters as visible symbols. Edits of a bike's
// details are kept until saved or discarded: a refresh keeps them, and closing the window asks
// (Save / Discard / Cancel) without holding up the GUI thread. GUI thread only.
class RecordsWindow : public QWidget {
  Q_OBJECT

 public:
  explicit RecordsWindow(QWidget* parent = nullptr);
  ~RecordsWindow() override;
  // Takes the size it opens at on a screen with this much room.
  void fitTo(const QSize& available);

  // The records file to show (empty: records are off); opened at the next refresh.
  void setPath(const QString& path);
  const QString& path() const { return path_; }
  // Reads the file again, keeping the bike and visit chosen.
  void refresh();

  QLineEdit* search() const { return search_; }
  // Column 0's item holds the bike's or visit's id in Qt::UserRole.
  QTableWidget* bikes() const { return bikes_; }
  QTableWidget* visits() const { return visits_; }
  // A visit's details; a line of a readout that reports a fault has kFaultRole set.
  QTreeWidget* details() const { return details_; }
  QTreeWidget* comparison() const { return comparison_; }
  QTabWidget* tabs() const { return tabs_; }
  QLabel* statusLine() const { return status_; }
  static constexpr int kFaultRole = Qt::UserRole + 1;
  // Text from the file as a widget shows it: control characters as their visible symbols (a
  // line break or an escape would garble a row); `multiLine` keeps line breaks and tabs.
  static QString plain(const std::string& s, bool multiLine = false);

  bool selectBike(qint64 id);
  bool selectVisit(qint64 id);
  qint64 selectedBike() const;
  qint64 selectedVisit() const;

  // The chosen visit against the bike's visit before it, shown in the comparison tab.
  void compareWithPrevious();
  // Writes the chosen visit's report to `pdfPath` and beside it as HTML; says how it went in
  // the status line.
  bool writeReport(const QString& pdfPath);

  // What the dialogs would answer; tests answer themselves. `confirm` gets the question; an
  // empty answer of the others cancels.
  void setConfirm(std::function<bool(const QString& question)> f) { confirm_ = std::move(f); }
  void setSameBikeChooser(
      std::function<std::optional<qint64>(const std::vector<kline::records::Bike>&)> f) {
    chooseSameBike_ = std::move(f);
  }
  void setReportPathChooser(std::function<QString()> f) { chooseReportPath_ = std::move(f); }
  // The bike's details were edited and not saved.
  bool hasUnsavedEdits() const;
  // The question asked on close while edits are unsaved (null when none is open).
  QWidget* unsavedQuestion() const { return ask_; }

 signals:
  // A close waited for the question about unsaved edits: `closed` unless the user cancelled.
  void closeAnswered(bool closed);

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  // The chosen bike's fields and buttons.
  QGroupBox* bikeBox();
  // The chosen bike's visits, the chosen visit's tabs, and the buttons under the visits.
  QLayout* visitArea();
  bool open();
  void say(const QString& text, bool error = false);
  void fillBikes();
  void bikeChosen();
  void visitChosen();
  // False (and the reason in the status line) when the details could not be saved.
  bool saveDetails();
  void askBeforeClosing();
  void sameBike();
  void forget();
  void showComparison(const kline::records::Comparison& c, const kline::records::Visit& older,
                      const kline::records::Visit& newer);

  QString path_;
  std::unique_ptr<kline::records::RecordStore> store_;
  QString openedPath_;
  QLineEdit* search_ = nullptr;
  QTableWidget* bikes_ = nullptr;
  QTableWidget* visits_ = nullptr;
  QLineEdit* name_ = nullptr;
  QLineEdit* registration_ = nullptr;
  QLineEdit* owner_ = nullptr;
  QPlainTextEdit* notes_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* merge_ = nullptr;
  QPushButton* forget_ = nullptr;
  QPushButton* compare_ = nullptr;
  QPushButton* report_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QTreeWidget* details_ = nullptr;
  QTreeWidget* comparison_ = nullptr;
  QLabel* status_ = nullptr;
  std::function<bool(const QString&)> confirm_;
  std::function<std::optional<qint64>(const std::vector<kline::records::Bike>&)> chooseSameBike_;
  std::function<QString()> chooseReportPath_;
  qint64 shownBike_ = 0;  // whose details the fields show
  QWidget* ask_ = nullptr;
  bool closingAnswered_ = false;
};
