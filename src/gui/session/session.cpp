#include "gui/session/session.h"

#include <QPointer>
#include <QtDebug>

#include "connection/useractions.h"
#include "platform/lastadaptercheck.h"
#include "platform/portfactory.h"
#include "platform/portlist.h"
#include "platform/qthost.h"
#include "session/sessioncore.h"
#include "ui/eventsink.h"

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

Session::Session(QString settingsPath, std::shared_ptr<const kline::SimConfig> sim,
                 bool simTypeFollowsForm, QObject* parent)
    : QObject(parent),
      settingsPath_(std::move(settingsPath)),
      sim_(std::move(sim)),
      simTypeFollowsForm_(simTypeFollowsForm) {
  thread_.setObjectName(QStringLiteral("session"));
  anchor_ = new Inbox;
  anchor_->moveToThread(&thread_);
  connect(this, &Session::windowCallsWaiting, this, &Session::deliver, Qt::QueuedConnection);
  connect(this, &Session::sessionCallsWaiting, anchor_, &Inbox::run, Qt::QueuedConnection);
}

Session::~Session() {
  stop();
  delete anchor_;
}

void Session::start() {
  if (started_) return;
  started_ = true;
  // Made before the thread starts, so the thread sees it whole.
  QObject* guiThreadAnchor = this;
  unload_ = connect(
      &thread_, &QThread::finished, anchor_,
      [this, guiThreadAnchor] {
        handshake_.load(std::memory_order_acquire);
        unloadOnThread();
        // Hand the anchor back so it can be deleted from the GUI thread.
        anchor_->moveToThread(guiThreadAnchor->thread());
        handshake_.store(2, std::memory_order_release);
      },
      Qt::DirectConnection);
  thread_.start();
  post([this] { loadOnThread(); });
}

void Session::stop() {
  if (!thread_.isRunning()) return;
  // The unload runs once the thread's event loop has returned: run as a posted call it could
  // land in a handler's DoEvents and free the logic under that handler. A handler still running
  // (a verdict wait, a long time-out) is told to give up first, so closing never waits on it.
  if (kline::QtHost* h = hostForQuit_.load()) h->requestQuit();
  // Qt orders what follows (quit, finished, wait) through its own locks; the handshake says it
  // again in atomics, the one language a race detector hears from code it did not build.
  handshake_.store(1, std::memory_order_release);
  thread_.quit();
  thread_.wait();
  handshake_.load(std::memory_order_acquire);
  disconnect(unload_);
}

void Session::post(std::function<void()> fn) {
  // As toWindow: the call waits in the session thread's channel.
  if (anchor_->calls.push(std::move(fn))) emit sessionCallsWaiting();
}

void Session::toWindow(std::function<void()> fn) {
  if (channel_.push(std::move(fn))) emit windowCallsWaiting();
}

void Session::loadOnThread() {
  sink_ = makeSink();
  host_ = std::make_unique<kline::QtHost>();
  hostForQuit_ = host_.get();
  host_->setClipboardHandler([this](const std::string& t) {
    toWindow([this, t = qs(t)] { emit clipboardRequested(t); });
  });
  kline::SessionOptions o;
  o.settingsPath = settingsPath_.toStdString();
  o.sim = sim_;
  o.simTypeFollowsForm = simTypeFollowsForm_;
  o.keepJournal = true;
  o.devices = MakeDeviceFactory();
  // On the real clock the simulated line wakes waits when its bytes arrive, like a device.
  o.simSleeper = [](int64_t us) { QThread::usleep(static_cast<unsigned long>(us)); };
  o.onNoAnswer = [this](const kline::ev::Connecting& c) {
    toWindow([this, port = qs(c.port), ecu = qs(c.ecu)] { emit checklistOffered(port, ecu); });
  };
  o.records = recordsOptions();
  core_ = std::make_unique<kline::SessionCore>(*host_, std::move(o));
  core_->observe(sink_.get());
  core_->form().settings().onFirstFailure([this](const std::string& why) {
    sink_->onNotice(
        QStringLiteral("Settings not saved to %1: %2").arg(settingsPath_, qs(why)).toStdString());
  });
  host_->runGuarded([this] { core_->load(); });
  // The settings' choice is read once the window has loaded them.
  using From = RecordsChoice::From;
  const bool fromSettings = recordsChoice_.from == From::Settings;
  core_->keepRecordsIn(recordsChoice_.from == From::File ? recordsChoice_.file.toStdString()
                       : fromSettings ? kline::RecordsPathFromSettings(core_->form().settings())
                                      : std::string());
  loaded_ = true;
  toWindow([this, records = qs(core_->recordsPath()), fromSettings] {
    emit recordsFile(records, fromSettings);
    emit loaded();
  });
  onEventOnThread(kline::ev::LinkChanged{core_->link()});
  snapshotOnThread(QStringLiteral("Form2"));
}

void Session::chooseRecords(const QString& path, bool off) {
  post([this, path, off] {
    if (!core_) return;
    recordsChoice_ = {RecordsChoice::From::Settings, {}};
    const QString now = qs(core_->chooseRecords(path.toStdString(), off));
    toWindow([this, now] { emit recordsFile(now, true); });
  });
}

void Session::noteRecordsFile(int kind, const QString& path) {
  post([this, kind, path] {
    if (core_ && core_->records())
      core_->records()->noteFile(static_cast<kline::records::FileKind>(kind), path.toStdString());
  });
}

void Session::setRecordsMileage(int km) {
  post([this, km] {
    if (core_ && core_->records())
      core_->records()->setMileage(km < 0 ? std::nullopt : std::optional<int>(km));
  });
}

void Session::unloadOnThread() {
  stopRecordingOnThread();
  // Disconnect as the user would, then unload every window; the core's end ends the visit and
  // writes what is queued.
  if (core_) host_->runGuarded([this] { core_->unload(); });
  core_.reset();
  hostForQuit_ = nullptr;
  host_.reset();
  sink_.reset();
  loaded_ = false;
}

kline::ControlModel* Session::model(const QString& win) {
  if (!core_) return nullptr;
  return core_->window(win.isEmpty() ? std::string("Form2") : win.toStdString());
}

void Session::snapshotOnThread(const QString& win) {
  kline::ControlModel* m = model(win);
  if (!m) return;
  kline::ForEachShownProperty(
      *m, [&](const std::string& ctl, kline::Prop p, const kline::PropValue& v) {
        sink_->onSet(m->window(), ctl, p, v);
      });
  toWindow([this, win] { emit snapshotSent(win); });
}

void Session::enter(const QString& win, const QString& ctl, const char* what,
                    std::function<void(kline::ControlModel&, const std::string&)> entry) {
  post([this, win, ctl, what, entry = std::move(entry)] {
    kline::ControlModel* m = model(win);
    if (!m || !m->has(ctl.toStdString())) {
      qWarning() << what << "for unknown control" << win << ctl;
      return;
    }
    host_->runGuarded([m, ctl, &entry] { entry(*m, ctl.toStdString()); });
  });
}

void Session::click(const QString& ctl, const QString& win) {
  enter(win, ctl, "click", [](kline::ControlModel& m, const std::string& c) { m.userClick(c); });
}

void Session::setText(const QString& ctl, const QString& text, const QString& win) {
  enter(win, ctl, "text",
        [text = text.toStdString()](kline::ControlModel& m, const std::string& c) {
          m.userSetText(c, text);
        });
}

void Session::setValue(const QString& ctl, int value, const QString& win) {
  enter(win, ctl, "value",
        [value](kline::ControlModel& m, const std::string& c) { m.userSetValue(c, value); });
}

void Session::typePort(const QString& text) {
  post([this, text] {
    if (core_) host_->runGuarded([this, text] { core_->form().typePort(text.toStdString()); });
  });
}

void Session::play(int action, int value) {
  const kline::UserActionControl c =
      kline::ControlOf(static_cast<kline::UserAction>(action), value);
  if (c.value)
    setValue(QString::fromLatin1(c.control), *c.value, QString::fromLatin1(c.window));
  else
    click(QString::fromLatin1(c.control), QString::fromLatin1(c.window));
}

void Session::requestSnapshot(const QString& win) {
  post([this, win] { snapshotOnThread(win); });
}

void Session::startRecording(const QString& path) {
  post([this, path] {
    std::string why =
        QStringLiteral("cannot record %1: the session is not running").arg(path).toStdString();
    if (core_) {
      stopRecordingOnThread();
      why = core_->startRecording(path.toStdString());
    }
    if (!why.empty()) {
      toWindow([this, why = qs(why)] { emit recordingFailed(why); });
      return;
    }
    recordedRows_ = 0;
    if (auto* keeper = core_->records())
      keeper->noteFile(kline::records::FileKind::Recording, path.toStdString());
    toWindow([this, path] { emit recordingStarted(path); });
  });
}

void Session::stopRecording() {
  post([this] { stopRecordingOnThread(); });
}

void Session::stopRecordingOnThread() {
  if (!core_ || !core_->recording()) return;
  const QString path = qs(core_->recorder()->path());
  const int rows = core_->stopRecording();
  toWindow([this, path, rows] { emit recordingStopped(path, rows); });
}

void Session::checkAdapter(const QString& port) {
  post([this, port] {
    QStringList lines;
    bool ok = false;
    if (port.trimmed().compare(QLatin1String("sim"), Qt::CaseInsensitive) == 0) {
      lines << tr("The simulated ECU has no cable to check.");
    } else if (core_ && core_->form().portOpen()) {
      lines << tr("The port is in use: press Disconnect, then check the adapter.");
    } else {
      const kline::AdapterReport r = kline::CheckAdapterAndKeep(port.toStdString());
      ok = r.ok();
      for (const auto& l : kline::DescribeAdapterReport(r)) lines << qs(l);
    }
    toWindow([this, ok, lines] { emit adapterChecked(ok, lines); });
  });
}

void Session::requestLogText(const QString& win) {
  post([this, win] {
    kline::ControlModel* m = model(win);
    const std::string text = m ? m->log().text() : std::string();
    toWindow([this, win, bytes = QByteArray(text.data(), static_cast<qsizetype>(text.size()))] {
      emit logText(win, bytes);
    });
  });
}

void Session::requestBundleParts(
    QObject* context, std::function<void(const kline::SupportBundleParts&, const QString&)> done) {
  QPointer<QObject> guard(context);
  post([this, guard, done = std::move(done)] {
    kline::SupportBundleParts parts;
    if (core_) kline::SessionBundleParts(*core_, parts);
    // The context is asked for on the GUI thread, where it may go away.
    toWindow([guard, done, parts, records = core_ ? qs(core_->recordsPath()) : QString()] {
      if (guard) done(parts, records);
    });
  });
}
