#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "ui/sessionevents.h"

class FaultPanel;
class QAction;
class QLabel;
class QMenuBar;
class QStatusBar;
class QTimer;
class QWidget;
class RecordsWindow;
class Session;

// The "Records" menu and what the bike records show around the main window: the bikes'
// window, the mileage of the visit in progress, where the records file is (or that records are
// off), a problem with the file said once in the status bar, a new or known bike or the same
// visit going on said there, the bike connected named in the status bar until Disconnect, and a
// known bike's last visit's faults offered in the faults panel. It hears the records through the
// session's signals and reads the file with stores of its own. GUI thread only.
class RecordsMenu : public QObject {
  Q_OBJECT

 public:
  RecordsMenu(Session& session, QMenuBar* bar, QStatusBar* status, FaultPanel* faults,
              QWidget* parent);
  ~RecordsMenu() override;

  RecordsWindow* window() const { return window_.get(); }
  QAction* bikesAction() const { return bikes_; }
  QAction* mileageAction() const { return mileage_; }
  QAction* fileAction() const { return file_; }
  // The status bar's lasting field: the bike connected (its name, else its identification);
  // empty when none.
  QLabel* bikeLabel() const { return bike_; }
  // The records file in use; empty when records are off.
  const QString& path() const { return path_; }
  // The visit in progress; 0 when none.
  qint64 visit() const { return visit_; }
  // The visit a report is of: the one in progress, or after a Disconnect the one that ended,
  // until the next Connect; 0 when none.
  qint64 reportVisit() const { return reportVisit_; }
  // Opens the bikes' window, the newest bike and visit chosen.
  void showBikes();

 private:
  void onEvent(const kline::SessionEvent& e);
  void knownBike(const QString& text, qint64 previousVisit);
  void askMileage();
  void showFileDialog();
  void refreshSoon();

  Session& session_;
  QStatusBar* status_;
  FaultPanel* faults_;
  QWidget* parent_;
  std::unique_ptr<RecordsWindow> window_;
  QAction* bikes_ = nullptr;
  QAction* mileage_ = nullptr;
  QAction* file_ = nullptr;
  QLabel* bike_ = nullptr;
  QTimer* refresh_ = nullptr;
  QString path_;
  bool fromSettings_ = true;
  bool connected_ = false;  // between Connect and Disconnect
  qint64 visit_ = 0;
  qint64 reportVisit_ = 0;
};
