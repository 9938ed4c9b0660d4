#pragma once

#include <QMainWindow>

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <map>
#include <memory>

#include "gui/widgets/widgetbinder.h"
#include "gui/windows/controlrenderer.h"

class ActionAsker;
class QGroupBox;
class ChartWindow;
class ConnectChecklistDialog;
class FaultPanel;
class LinkStateView;
class LogSaver;
class SupportBundleSaver;
class PortChooser;
class RecordsMenu;
class ModelWindow;
class QAction;
class QCloseEvent;
class QShowEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSplitter;
class QWidget;
class Session;
namespace kline {
class SessionReport;
}

// The main window: renders the control model of Form2 and forwards the user's clicks and edits
// to the session. Every control is reached through its design name, so later windows and
// controls only add widgets and bindings.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(Session& session, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The widget (or, for menus, nullptr) bound to a control's design name.
  QWidget* control(const QString& name, const QString& win = QStringLiteral("Form2")) const;
  QAction* menuAction(const QString& name, const QString& win = QStringLiteral("Form2")) const;
  QPlainTextEdit* logPane() const { return log_; }
  // The design names of the controls bound to this window's widgets and menu entries.
  QStringList controlNames() const;
  // "Press Connect (F5)", shown until the first Connect.
  QLabel* firstConnectHint() const { return firstHint_; }
  // Takes the size it opens at on a screen with this much room (the primary one's at start).
  void fitTo(const QSize& available);
  // The live chart ("Chart" menu); it follows the session from the start, shown or not.
  ChartWindow* chartWindow() const { return chart_.get(); }
  // A window of the session by its logic's name ("Form2" is this one); null for another name.
  QWidget* modelWindow(const QString& name) const;
  // The record toggle and the status bar's recording caption.
  QPushButton* recordButton() const { return record_; }
  QLabel* recordStatus() const { return recordStatus_; }
  // The link's line in the status bar and the stale look of the values.
  LinkStateView* linkView() const { return link_; }
  PortChooser* portChooser() const { return chooser_; }
  // The checklist offered when a Connect hears nothing from the ECU.
  ConnectChecklistDialog* connectChecklist() const { return checklist_; }
  // Where "Record…" asks for the CSV file; a file dialog unless replaced (tests answer it
  // themselves). An empty answer cancels.
  void setRecordPathChooser(std::function<QString()> chooser) {
    chooseRecordPath_ = std::move(chooser);
  }
  // Asks before clearing faults, and before a test while the engine turns.
  ActionAsker* asker() const { return asker_; }
  // Decides whether a user's click on the control `ctl` of the window `win` (or choice of its
  // row) goes to the session.
  void setGate(const QString& ctl, WidgetBinder::Gate gate,
               const QString& win = QStringLiteral("Form2"));
  // The latest fault and immobiliser readouts.
  FaultPanel* faultPanel() const { return faults_; }
  // "Save log…" of this window and of the others (by the logic's window name); their file
  // dialogs can be replaced as the record path's can.
  LogSaver* logSaver(const QString& win = QStringLiteral("Form2")) const;
  SupportBundleSaver* bundleSaver() const { return bundleSaver_; }
  // The "Records" menu, the bikes' window and what the records show around this window.
  RecordsMenu* records() const { return records_; }
  // What "Report…" writes, and where it asks for the PDF file (the HTML goes beside it).
  const kline::SessionReport& report() const { return *report_; }
  void setReportPathChooser(std::function<QString()> chooser) {
    chooseReportPath_ = std::move(chooser);
  }
  // Writes the report to `pdfPath` and beside it as HTML; a failure goes to the status bar.
  bool writeReport(const QString& pdfPath);
  // The file dialog's default: klinediag-YYYYMMDD-HHMMSS-<ecu>.csv in the documents folder, the
  // ECU type from the selected option. A chosen name without an extension gets ".csv".
  QString suggestedRecordPath() const;

 public slots:
  void applySet(const QString& win, const QString& ctl, int prop, const QVariant& value);
  void appendLog(const QString& win, const QString& line);

 private:
  void bind(const QString& name, QWidget* w);
  void bindAction(const QString& name, QAction* a);
  QWidget* textField(const QString& name, bool readOnly = false);
  // A field of whole milliseconds: only valid values reach the logic.
  QWidget* numberField(const QString& name, int min, int max, const QString& what);
  QWidget* checkBox(const QString& name);
  QWidget* option(const QString& name);
  QWidget* button(const QString& name, bool checkable = false);
  QLabel* label(const QString& name);
  // The window's controls, a builder per group: each binds its controls to the logic's names.
  void buildUi();
  void buildMenus();
  QGroupBox* connectionBox();
  QGroupBox* ecuTypeBox();
  QGroupBox* readoutBox();
  QGroupBox* timingBox();
  QGroupBox* liveBox();
  QGroupBox* rpmBox();
  QGroupBox* infoBox();
  QGroupBox* testBox();
  // The log pane with its buttons and the faults beside it.
  QWidget* logArea();
  void placeSplitter();
  // Makes the top-level window of another of the logic's windows; it follows its own model.
  void addWindow(std::unique_ptr<ModelWindow> w);
  QWidget* testList();
  void buildRecorder();
  void buildLinkView();
  void buildShortcuts();
  void buildHelp();
  void showAdapterCheck(bool ok, const QStringList& lines);
  void showAbout();
  // Shows the menu `ctl` ("test", "Diag") enabled as the logic says, unless the port is lost.
  void applyMenuLink(const QString& ctl);
  void recordToggled(bool on);
  void buildFaultsAndReport();
  // An action that needs the ECU, taken while the port is lost, says why nothing happens.
  void explainIfLost();
  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

  Session& session_;
  WidgetBinder* binder_;
  std::unique_ptr<ChartWindow> chart_;
  QPlainTextEdit* log_ = nullptr;
  std::map<QString, std::unique_ptr<ModelWindow>> windows_;
  LinkStateView* link_ = nullptr;
  PortChooser* chooser_ = nullptr;
  QPushButton* record_ = nullptr;
  QLabel* recordStatus_ = nullptr;
  QString recordName_;
  QPlainTextEdit* info_ = nullptr;  // the ECU info pane
  QLabel* firstHint_ = nullptr;
  // The 15Rc's throttle sensor field and its caption, shown and hidden with it.
  QWidget* sensorField_ = nullptr;
  QLabel* sensorCaption_ = nullptr;
  QScrollArea* controlsArea_ = nullptr;
  QSplitter* splitter_ = nullptr;
  bool splitterMoved_ = false;
  std::function<QString()> chooseRecordPath_;
  FaultPanel* faults_ = nullptr;
  LogSaver* logSaver_ = nullptr;
  SupportBundleSaver* bundleSaver_ = nullptr;
  QPushButton* saveLog_ = nullptr;
  QPushButton* reportButton_ = nullptr;
  std::unique_ptr<kline::SessionReport> report_;
  std::function<QString()> chooseReportPath_;
  ActionAsker* asker_ = nullptr;
  RecordsMenu* records_ = nullptr;
  ConnectChecklistDialog* checklist_ = nullptr;
  QMap<QString, bool> logicEnables_;
  // Closing waits for the records window's question about unsaved edits.
  bool closeAfterRecords_ = false;
};
