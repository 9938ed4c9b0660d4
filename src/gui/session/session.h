#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariant>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "gui/session/orderedchannel.h"
#include "records/recordkeeper.h"
#include "session/supportbundle.h"
#include "sim/simconfig.h"
#include "ui/sessionevents.h"

namespace kline {
class QtHost;
class ControlModel;
class SessionCore;
}  // namespace kline

namespace kline {
// The nine live channels' values of a cycle, as the chart draws them.
using LiveValues = std::array<std::optional<double>, 9>;
}  // namespace kline

Q_DECLARE_METATYPE(kline::SessionEvent)

// The session thread: it owns the host and the session core (the windows' logic, the port and
// every feature that listens to it), all of which live on that thread. The GUI talks to it only
// through the slots below (posted, never blocking) and hears from it through one channel:
// everything the session thread (or the records' keeper) has to say is queued there in the
// order it happened and delivered by one call on the GUI thread, where the signals below are
// emitted. The link, the live cycles, the breaks and the fault readouts are read off the typed
// events there.
class Session : public QObject {
  Q_OBJECT

 public:
  // `sim` describes the simulated ECU used for the port "sim"; with `simTypeFollowsForm` its type
  // is taken from the ECU type option selected at connect.
  Session(QString settingsPath, std::shared_ptr<const kline::SimConfig> sim,
          bool simTypeFollowsForm = true, QObject* parent = nullptr);
  // Unloads the windows on the session thread and joins it.
  ~Session() override;

  // Starts the thread; the windows load there, then `loaded` and a snapshot of every control
  // follow.
  void start();
  void stop();
  bool isLoaded() const { return loaded_; }

  // Where the bike records go. Off until told (tests and benchmarks keep none); the program
  // passes the settings' choice, the command line's file or off. Set before start().
  struct RecordsChoice {
    enum class From { Off, Settings, File } from = From::Off;
    QString file;
  };
  void setRecordsChoice(RecordsChoice choice) { recordsChoice_ = std::move(choice); }

  // Gathers the session's part of a support bundle (the three log panes, the settings file, the
  // last minutes of events, the link's history) and the records file in use (empty: none);
  // `done` then runs on the GUI thread, unless `context` is gone.
  void requestBundleParts(
      QObject* context, std::function<void(const kline::SupportBundleParts&, const QString&)> done);

 public slots:
  void click(const QString& ctl, const QString& win = QStringLiteral("Form2"));
  void setText(const QString& ctl, const QString& text,
               const QString& win = QStringLiteral("Form2"));
  void setValue(const QString& ctl, int value, const QString& win = QStringLiteral("Form2"));
  // Types `text` into the main window's port field, as the user would.
  void typePort(const QString& text);
  // Plays a kline::UserAction (`action`), with its value where it takes one.
  void play(int action, int value = 0);
  // Publishes every property of every control of `win` through controlSet.
  void requestSnapshot(const QString& win = QStringLiteral("Form2"));
  // Records a row of the main window's live values to the CSV file `path` after every completed
  // live cycle, until stopRecording; answered by recordingStarted or recordingFailed.
  void startRecording(const QString& path);
  void stopRecording();
  // Checks the cable on `port` (the port field's text) while nothing is connected; answered by
  // adapterChecked.
  void checkAdapter(const QString& port);
  // Fetches the log pane's text of `win` as the logic holds it (every line ending CR LF);
  // answered by logText.
  void requestLogText(const QString& win);
  // The records from now on: `path` (UTF-8 file), or none when empty; the settings remember the
  // choice (an empty path with `off` false: the default file). The visit in progress ends in the
  // file it began in; the next connection starts one in the new file. Answered by recordsFile.
  void chooseRecords(const QString& path, bool off);
  // Tells the records of a file made during the visit (a kline::records::FileKind), and the
  // mileage the user typed (none: negative).
  void noteRecordsFile(int kind, const QString& path);
  void setRecordsMileage(int km);

 signals:
  // A property write of the logic; `prop` is a kline::Prop, `value` a bool, int, QString or
  // QStringList.
  void controlSet(const QString& win, const QString& ctl, int prop, const QVariant& value);
  void logLine(const QString& win, const QString& line);
  // Every typed event of the session, in the order the logic published it; emitted on the GUI
  // thread.
  void sessionEvent(const kline::SessionEvent& e);
  // The link as the user should see it (a kline::LinkStatus: `state` is a kline::LinkState);
  // sent at load and at every change. `ecuHeard`: the ECU has answered since the port opened.
  void linkChanged(int state, const QString& text, bool valuesStale, bool rpmStale, bool ecuHeard);
  // A Connect on `port` (the port field's text) with the ECU type `ecu` (its label in the ECU
  // type table) heard nothing from the ECU in time: the user may be offered the checklist of a
  // first connection. Once per Connect (kline::FirstAnswerWatch).
  void checklistOffered(const QString& port, const QString& ecu);
  // A remark about the port for the status line, not a line of a window's log.
  void notice(const QString& text);
  void loaded();
  // Follows the controlSet signals of a snapshot of `win`.
  void snapshotSent(const QString& win);
  void clipboardRequested(const QString& text);
  void recordingStarted(const QString& path);
  // The file could not be opened, or a write failed mid-way (the recording has stopped then).
  void recordingFailed(const QString& why);
  void recordingRows(int rows);
  void recordingStopped(const QString& path, int rows);
  // After each completed live cycle: "8.3 cycles/s, last 118 ms".
  void cyclesMeasured(const QString& text);
  // After each completed live cycle: the ms since connect and the values of the nine live
  // channels (none where a field holds no number).
  void liveCycle(quint32 ms, const kline::LiveValues& values);
  // The live values stopped being measured for a while (the poll loop paused, a cycle
  // abandoned, a new connection): a chart breaks its curves here.
  void liveBreak();
  // The findings of checkAdapter, one line each; `ok` when the echo was good at every rate.
  void adapterChecked(bool ok, const QStringList& lines);
  void logText(const QString& win, const QByteArray& text);
  // After each fault readout (kind 0) and immobiliser readout (1: request 0x71, 2: 0x72) of the
  // main window: its lines and which of them report a fault (kline::FaultWatch); `stored` when
  // the bytes name a fault, shown in a line or not.
  // `trusted` is false when the line babbled while it was read.
  void faultReadout(int kind, const QStringList& lines, const QList<bool>& faults, bool stored,
                    bool trusted);
  // The records file in use (empty: records are off), at load and after each choice;
  // `fromSettings` when no command-line option decided it.
  void recordsFile(const QString& path, bool fromSettings);
  // Said once per records file: the records cannot be kept (the session goes on without them).
  void recordsProblem(const QString& why);
  // The connection's visit in the records (a new one, or the bike's last one going on).
  void recordsVisit(qint64 bike, qint64 visit);
  // The connection identified a bike in the records: `text` is the line for the status bar ("New
  // bike: ...", "Known bike: ...", "Same visit as before: ..."), `bike` its name, else its
  // identification.
  void bikeNews(const QString& text, const QString& bike);
  // The connection identified a bike seen before: `previousVisit` is its last stay before this
  // visit, whose faults the faults panel offers.
  void knownBike(const QString& text, qint64 bike, qint64 previousVisit, qint64 visit);

  // The two channels' wake-ups (connected once, queued to the other thread): the call that
  // carries them is made before the thread starts, so that nothing Qt allocates per post crosses
  // the threads unseen by a race detector.
  void windowCallsWaiting();
  void sessionCallsWaiting();

 private:
  class Sink;
  struct CycleNews;
  void post(std::function<void()> fn);
  // Any thread: `fn` runs on the GUI thread after everything queued before it.
  void toWindow(std::function<void()> fn);
  // GUI thread: runs what the channel holds; nothing of ours crosses the threads outside the
  // channel's own lock, where a race detector sees it.
  void deliver() { channel_.drain(); }
  // GUI thread: the signals read off a typed event.
  void derive(const kline::SessionEvent& e, const CycleNews& news);
  void loadOnThread();
  void unloadOnThread();
  kline::ControlModel* model(const QString& win);
  void snapshotOnThread(const QString& win);
  void stopRecordingOnThread();
  // Posts a user's entry (`what`) into control `ctl` of `win`, unless there is no such control.
  void enter(const QString& win, const QString& ctl, const char* what,
             std::function<void(kline::ControlModel&, const std::string&)> entry);
  void onEventOnThread(const kline::SessionEvent& e);
  // What the logic publishes, sent through the channel.
  std::unique_ptr<kline::EventSink> makeSink();
  // The records' callbacks: each goes to the window through the channel.
  kline::records::KeeperOptions recordsOptions();

  QString settingsPath_;
  std::shared_ptr<const kline::SimConfig> sim_;
  bool simTypeFollowsForm_;
  QThread thread_;
  // Lives on the session thread: the user's events wait in its channel, in order.
  struct Inbox : QObject {
    OrderedChannel calls;
    void run() { calls.drain(); }
  };
  Inbox* anchor_ = nullptr;
  std::atomic<bool> loaded_ = false;
  // The session thread's host, for asking its handler to give up from the GUI thread.
  std::atomic<kline::QtHost*> hostForQuit_ = nullptr;
  std::atomic<int> handshake_ = 0;
  OrderedChannel channel_;  // to the GUI thread
  QMetaObject::Connection unload_;
  bool started_ = false;
  RecordsChoice recordsChoice_;

  // Session-thread state.
  std::unique_ptr<kline::EventSink> sink_;
  std::unique_ptr<kline::QtHost> host_;
  std::unique_ptr<kline::SessionCore> core_;
  int recordedRows_ = -1;
};
