#include "gui/session.h"

#include <QPointer>
#include <QThread>

#include <QStringList>
#include <QtDebug>
#include <stdexcept>

#include "connection/firstanswerwatch.h"
#include "connection/useractions.h"
#include "platform/adaptercheck.h"
#include "platform/lastadaptercheck.h"
#include "platform/portfactory.h"
#include "platform/portlist.h"
#include "platform/qthost.h"
#include "records/recordkeeper.h"
#include "session/sessioncore.h"
#include "ui/eventsink.h"

namespace {

QVariant toVariant(const kline::PropValue& v) {
  if (const bool* b = std::get_if<bool>(&v)) return QVariant(*b);
  if (const int* i = std::get_if<int>(&v)) return QVariant(*i);
  if (const std::string* s = std::get_if<std::string>(&v))
    return QVariant(QString::fromStdString(*s));
  QStringList list;
  for (const auto& s : std::get<std::vector<std::string>>(v)) list << QString::fromStdString(s);
  return QVariant(list);
}

// Where the settings keep the records' place: the file (empty: the default one) and whether
// they are off.
const char* const kRecordsSection = "Records";
const char* const kRecordsFile = "File";
const char* const kRecordsOff = "Off";

}  // namespace

// Runs on the session thread; signals emitted here are queued to the GUI's objects.
class Session::Sink : public kline::EventSink {
 public:
  explicit Sink(Session* s) : s_(s) {}
  void onSet(const std::string& win, const std::string& ctl, kline::Prop prop,
             const kline::PropValue& value) override {
    emit s_->controlSet(QString::fromStdString(win), QString::fromStdString(ctl),
                        static_cast<int>(prop), toVariant(value));
  }
  void onLog(const std::string& win, const std::string& line) override {
    emit s_->logLine(QString::fromStdString(win), QString::fromStdString(line));
  }
  void onNotice(const std::string& text) override { emit s_->notice(QString::fromStdString(text)); }
  void onEvent(const kline::SessionEvent& e) override { s_->onEventOnThread(e); }

 private:
  Session* s_;
};

Session::Session(QString settingsPath, std::shared_ptr<const kline::SimConfig> sim,
                 bool simTypeFollowsForm, QObject* parent)
    : QObject(parent),
      settingsPath_(std::move(settingsPath)),
      sim_(std::move(sim)),
      simTypeFollowsForm_(simTypeFollowsForm) {
  thread_.setObjectName(QStringLiteral("session"));
  anchor_ = new QObject;
  anchor_->moveToThread(&thread_);
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
  QMetaObject::invokeMethod(anchor_, std::move(fn), Qt::QueuedConnection);
}

void Session::loadOnThread() {
  sink_ = std::make_unique<Sink>(this);
  host_ = std::make_unique<kline::QtHost>();
  hostForQuit_ = host_.get();
  host_->setClipboardHandler(
      [this](const std::string& t) { emit clipboardRequested(QString::fromStdString(t)); });
  kline::SessionOptions o;
  o.settingsPath = settingsPath_.toStdString();
  o.sim = sim_;
  o.simTypeFollowsForm = simTypeFollowsForm_;
  o.keepJournal = true;
  o.devices = MakeDeviceFactory();
  // On the real clock the simulated line wakes waits when its bytes arrive, like a device.
  o.simSleeper = [](int64_t us) { QThread::usleep(static_cast<unsigned long>(us)); };
  core_ = std::make_unique<kline::SessionCore>(*host_, std::move(o));
  core_->observe(sink_.get());
  firstAnswer_ = std::make_unique<kline::FirstAnswerWatch>(
      [this] { return host_->timeGetTime(); },
      [this](const kline::ev::Connecting& c) {
        emit checklistOffered(QString::fromStdString(c.port), QString::fromStdString(c.ecu));
      });
  core_->observe(firstAnswer_.get());
  core_->form().settings().onFirstFailure([this](const std::string& why) {
    emit notice(QStringLiteral("Settings not saved to %1: %2")
                    .arg(settingsPath_, QString::fromStdString(why)));
  });
  host_->runGuarded([this] { core_->load(); });
  // The settings' choice is read once the window has loaded them.
  using From = RecordsChoice::From;
  const QString records = recordsChoice_.from == From::File       ? recordsChoice_.file
                          : recordsChoice_.from == From::Settings ? recordsPathFromSettings()
                                                                  : QString();
  keepRecordsOnThread(records);
  emit recordsFile(records, recordsChoice_.from == From::Settings);
  loaded_ = true;
  emit loaded();
  onEventOnThread(kline::ev::LinkChanged{core_->link()});
  snapshotOnThread(QStringLiteral("Form2"));
}

QString Session::recordsPathFromSettings() const {
  const kline::IniFile& ini = core_->form().settings();
  if (ini.read(kRecordsSection, kRecordsOff) == "1") return {};
  const std::string file = ini.read(kRecordsSection, kRecordsFile);
  return QString::fromStdString(file.empty() ? kline::records::DefaultRecordsPath() : file);
}

void Session::keepRecordsOnThread(const QString& path) {
  // The visit in progress ends in its own file before another begins.
  keeper_.reset();
  recordsPath_ = path;
  if (path.isEmpty()) return;
  kline::records::KeeperOptions o;
  o.path = path.toStdString();
  o.version = KLINE_VERSION;
  o.adapterOf = kline::PortList::AdapterOf;
  o.wallClock = kline::CsvRecorder::SystemTime;
  // These come on the keeper's own thread: each goes to the GUI thread through recordsLock_.
  auto toGui = [this](std::function<void()> fn) {
    bool first = false;
    {
      std::lock_guard<std::mutex> lock(recordsLock_);
      first = recordsCalls_.empty();
      recordsCalls_.push_back(std::move(fn));
    }
    if (first) QMetaObject::invokeMethod(this, &Session::deliverRecordsCalls, Qt::QueuedConnection);
  };
  o.onProblem = [this, toGui](const std::string& why) {
    toGui([this, why = QString::fromStdString(why)] { emit recordsProblem(why); });
  };
  o.onVisit = [this, toGui](int64_t bike, int64_t visit) {
    toGui([this, bike, visit] { emit recordsVisit(bike, visit); });
  };
  o.onKnownBike = [this, toGui](const kline::records::KnownBike& k) {
    toGui([this, text = QString::fromStdString(k.text), bike = k.bike.id, prev = k.previousVisit,
           visit = k.visit] { emit knownBike(text, bike, prev, visit); });
  };
  keeper_ = std::make_unique<kline::records::RecordKeeper>(std::move(o));
}

void Session::chooseRecords(const QString& path, bool off) {
  post([this, path, off] {
    if (!core_) return;
    const kline::IniFile& ini = core_->form().settings();
    ini.write(kRecordsSection, kRecordsOff, off ? "1" : "0");
    ini.write(kRecordsSection, kRecordsFile, off ? std::string() : path.toStdString());
    recordsChoice_ = {RecordsChoice::From::Settings, {}};
    const QString now = recordsPathFromSettings();
    keepRecordsOnThread(now);
    emit recordsFile(now, true);
  });
}

void Session::noteRecordsFile(int kind, const QString& path) {
  post([this, kind, path] {
    if (keeper_) keeper_->noteFile(static_cast<kline::records::FileKind>(kind), path.toStdString());
  });
}

void Session::setRecordsMileage(int km) {
  post([this, km] {
    if (keeper_) keeper_->setMileage(km < 0 ? std::nullopt : std::optional<int>(km));
  });
}

void Session::onEventOnThread(const kline::SessionEvent& e) {
  using namespace kline;
  if (keeper_) keeper_->onEvent(e);
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(eventsLock_);
    first = events_.empty();
    events_.push_back(e);
  }
  if (first) QMetaObject::invokeMethod(this, &Session::deliverEvents, Qt::QueuedConnection);
  if (const auto* l = std::get_if<ev::LinkChanged>(&e)) {
    const LinkStatus& s = l->status;
    const bool heard = s.state == LinkState::Live || s.valuesStale;
    emit linkChanged(static_cast<int>(s.state), QString::fromStdString(s.text), s.valuesStale,
                     s.rpmStale, heard);
  } else if (const auto* c = std::get_if<ev::LiveCycle>(&e)) {
    if (!c->completed) {
      emit liveBreak();
    } else {
      emit cyclesMeasured(QString::fromStdString(core_->meter().text()));
      QStringList texts;
      for (int i = 0; i < 9; ++i)
        texts << QString::fromStdString(c->channels[static_cast<std::size_t>(i)].text);
      emit liveCycle(c->lineMs, texts);
    }
    // The recording has written its row by now (the core hands it the cycle first).
    const std::string why = core_->takeRecordingError();
    if (!why.empty()) {
      recordedRows_ = -1;
      emit recordingFailed(QString::fromStdString(why));
    } else if (core_->recording() && core_->recorder()->rows() != recordedRows_) {
      recordedRows_ = core_->recorder()->rows();
      emit recordingRows(recordedRows_);
    }
  } else if (const auto* p = std::get_if<ev::LoopPaused>(&e)) {
    if (p->paused) emit liveBreak();
  } else if (std::holds_alternative<ev::Connecting>(e)) {
    emit liveBreak();
  } else if (const auto* r = std::get_if<ev::ReadoutDone>(&e)) {
    if (r->readout.kind == ReadoutKind::Diag) return;
    QStringList lines;
    for (const auto& l : r->readout.lines) lines << QString::fromStdString(l);
    emit faultReadout(static_cast<int>(r->readout.kind), lines,
                      QList<bool>(r->readout.fault.begin(), r->readout.fault.end()),
                      r->readout.faultStored, r->readout.trusted);
  }
}

void Session::deliverEvents() {
  std::vector<kline::SessionEvent> events;
  {
    std::lock_guard<std::mutex> lock(eventsLock_);
    events.swap(events_);
  }
  for (const kline::SessionEvent& e : events) emit sessionEvent(e);
}

void Session::deliverRecordsCalls() {
  std::vector<std::function<void()>> calls;
  {
    std::lock_guard<std::mutex> lock(recordsLock_);
    calls.swap(recordsCalls_);
  }
  for (const auto& call : calls) call();
}

void Session::unloadOnThread() {
  stopRecordingOnThread();
  // Disconnect as the user would, then unload every window.
  if (core_) host_->runGuarded([this] { core_->unload(); });
  // After the unload's disconnect: the visit ends and what is queued is written.
  keeper_.reset();
  core_.reset();
  firstAnswer_.reset();
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
  using kline::Prop;
  for (const auto& [name, c] : m->all()) {
    auto set = [&](Prop p, const kline::PropValue& v) { sink_->onSet(m->window(), name, p, v); };
    switch (c.kind) {
      case kline::ControlKind::TextBox:
        set(Prop::Text, c.text);
        break;
      case kline::ControlKind::List:
        set(Prop::Items, c.items);
        set(Prop::Value, c.value);
        break;
      case kline::ControlKind::CheckBox:
      case kline::ControlKind::Option:
        set(Prop::Caption, c.caption);
        set(Prop::Value, c.value);
        break;
      case kline::ControlKind::ProgressBar:
      case kline::ControlKind::Slider:
        set(Prop::Max, c.max);
        set(Prop::Value, c.value);
        break;
      case kline::ControlKind::Shape:
      case kline::ControlKind::Line:
        // A colour of 0 is the design default: the view keeps its own until the logic sets one.
        if (c.colour != 0) set(Prop::Colour, static_cast<int>(c.colour));
        break;
      default:
        set(Prop::Caption, c.caption);
        break;
    }
    set(Prop::Enabled, c.enabled);
    set(Prop::Visible, c.visible);
  }
  emit snapshotSent(win);
}

void Session::click(const QString& ctl, const QString& win) {
  post([this, ctl, win] {
    kline::ControlModel* m = model(win);
    if (!m || !m->has(ctl.toStdString())) {
      qWarning() << "click on unknown control" << win << ctl;
      return;
    }
    host_->runGuarded([m, ctl] { m->userClick(ctl.toStdString()); });
  });
}

void Session::setText(const QString& ctl, const QString& text, const QString& win) {
  post([this, ctl, text, win] {
    kline::ControlModel* m = model(win);
    if (!m || !m->has(ctl.toStdString())) {
      qWarning() << "text for unknown control" << win << ctl;
      return;
    }
    host_->runGuarded([m, ctl, text] { m->userSetText(ctl.toStdString(), text.toStdString()); });
  });
}

void Session::setValue(const QString& ctl, int value, const QString& win) {
  post([this, ctl, value, win] {
    kline::ControlModel* m = model(win);
    if (!m || !m->has(ctl.toStdString())) {
      qWarning() << "value for unknown control" << win << ctl;
      return;
    }
    host_->runGuarded([m, ctl, value] { m->userSetValue(ctl.toStdString(), value); });
  });
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
    if (!core_) {
      emit recordingFailed(
          QStringLiteral("cannot record %1: the session is not running").arg(path));
      return;
    }
    stopRecordingOnThread();
    const std::string why = core_->startRecording(path.toStdString());
    if (!why.empty()) {
      emit recordingFailed(QString::fromStdString(why));
      return;
    }
    recordedRows_ = 0;
    if (keeper_) keeper_->noteFile(kline::records::FileKind::Recording, path.toStdString());
    emit recordingStarted(path);
  });
}

void Session::stopRecording() {
  post([this] { stopRecordingOnThread(); });
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
      kline::AdapterCheck check;
      const kline::AdapterReport r = check.run(port.toStdString());
      kline::SaveLastAdapterCheck(port.toStdString(), r);
      ok = r.ok();
      for (const auto& l : kline::DescribeAdapterReport(r)) lines << QString::fromStdString(l);
    }
    emit adapterChecked(ok, lines);
  });
}

void Session::requestLogText(const QString& win) {
  post([this, win] {
    kline::ControlModel* m = model(win);
    const std::string text = m ? m->log().text() : std::string();
    emit logText(win, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  });
}

void Session::requestBundleParts(
    QObject* context, std::function<void(const kline::SupportBundleParts&, const QString&)> done) {
  QPointer<QObject> guard(context);
  post([this, guard, done = std::move(done)] {
    kline::SupportBundleParts parts;
    if (core_) kline::SessionBundleParts(*core_, parts);
    // Session lives on the GUI thread: the context is asked for there, where it may go away.
    QMetaObject::invokeMethod(
        this,
        [guard, done, parts, records = recordsPath_] {
          if (guard) done(parts, records);
        },
        Qt::QueuedConnection);
  });
}

void Session::stopRecordingOnThread() {
  if (!core_ || !core_->recording()) return;
  const QString path = QString::fromStdString(core_->recorder()->path());
  const int rows = core_->stopRecording();
  emit recordingStopped(path, rows);
}
