#include "gui/session.h"

#include <QThread>

#include <QStringList>
#include <QtDebug>
#include <stdexcept>

#include "connection/form2.h"
#include "connection/linkmonitor.h"
#include "diagnosis/faultwatch.h"
#include "livedata/csvrecorder.h"
#include "platform/adaptercheck.h"
#include "platform/portfactory.h"
#include "platform/qthost.h"
#include "sim/simecu.h"
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

 private:
  Session* s_;
};

Session::Session(QString settingsPath, std::shared_ptr<const kline::SimConfig> sim,
                 bool simTypeFollowsForm, QObject* parent)
    : QObject(parent),
      settingsPath_(std::move(settingsPath)),
      sim_(sim ? std::move(sim)
               : std::make_shared<const kline::SimConfig>(
                     kline::SimConfig::FromJson("{}", kline::EcuType::E15m))),
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
  auto publish = [this](const kline::LinkStatus& s) {
    emit linkChanged(static_cast<int>(s.state), QString::fromStdString(s.text), s.valuesStale,
                     s.rpmStale, s.waitCaptionOutdated);
  };
  link_ = std::make_unique<kline::LinkMonitor>(
      [this]() -> const kline::SerialPort* { return form2_ ? form2_->port() : nullptr; },
      [host = host_.get()] { return host->timeGetTime(); }, publish);
  sinks_ = std::make_unique<kline::EventFanout>();
  sinks_->add(sink_.get());
  sinks_->add(link_.get());
  faults_ = std::make_unique<kline::FaultWatch>(
      [host = host_.get()] { return host->timeGetTime(); },
      [this](const kline::Readout& r) {
        QStringList lines;
        for (const auto& l : r.lines) lines << QString::fromStdString(l);
        emit faultReadout(static_cast<int>(r.kind), lines,
                          QList<bool>(r.fault.begin(), r.fault.end()), r.faultStored);
      });
  sinks_->add(faults_.get());
  host_->setClipboardHandler(
      [this](const std::string& t) { emit clipboardRequested(QString::fromStdString(t)); });
  host_->setUrlHandler(
      [this](const std::string& u) { emit urlRequested(QString::fromStdString(u)); });
  kline::PortFactory base = MakePortFactory(*host_, sim_);
  kline::PortFactory factory =
      [this, base](const std::string& spec) -> std::unique_ptr<kline::SerialPort> {
    if (simTypeFollowsForm_ && QString::fromStdString(spec).trimmed().compare(
                                   QLatin1String("sim"), Qt::CaseInsensitive) == 0) {
      kline::SimConfig cfg = *sim_;
      cfg.type = kline::SelectedEcuType(form2_->ctl);
      kline::QtHost* host = host_.get();
      auto port = std::make_unique<kline::SimEcu>(cfg, [host] { return host->micros(); });
      port->setSleeper([](int64_t us) { QThread::usleep(static_cast<unsigned long>(us)); });
      return port;
    }
    return base(spec);
  };
  form2_ =
      std::make_unique<kline::Form2>(*host_, factory, settingsPath_.toStdString(), sinks_.get());
  form2_->settings().onFirstFailure([this](const std::string& why) {
    emit notice(QStringLiteral("Settings not saved to %1: %2")
                    .arg(settingsPath_, QString::fromStdString(why)));
  });
  // The live cycles feed the status line's pace and the recorder, when there is one.
  form2_->onLiveCycle = [this](uint32_t ms, bool completed) { onCycleOnThread(ms, completed); };
  host_->setTimerHandler([this] {
    meter_.begin(host_->timeGetTime());
    form2_->Timer1_Timer();
  });
  host_->runGuarded([this] { form2_->Form_Load(); });
  loaded_ = true;
  emit loaded();
  publish(link_->status());
  snapshotOnThread(QStringLiteral("Form2"));
}

void Session::unloadOnThread() {
  stopRecordingOnThread();
  if (form2_) host_->runGuarded([this] { form2_->Form_Unload(); });
  form2_.reset();
  hostForQuit_ = nullptr;
  host_.reset();
  sinks_.reset();
  faults_.reset();
  link_.reset();
  sink_.reset();
  loaded_ = false;
}

kline::ControlModel* Session::model(const QString& win) {
  if (!form2_) return nullptr;
  return form2_->window(win.isEmpty() ? std::string("Form2") : win.toStdString());
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

void Session::requestSnapshot(const QString& win) {
  post([this, win] { snapshotOnThread(win); });
}

void Session::startRecording(const QString& path) {
  post([this, path] {
    if (!form2_) {
      emit recordingFailed(
          QStringLiteral("cannot record %1: the session is not running").arg(path));
      return;
    }
    stopRecordingOnThread();
    auto rec = std::make_unique<kline::CsvRecorder>();
    const std::string why = rec->open(path.toStdString());
    if (!why.empty()) {
      emit recordingFailed(QString::fromStdString(why));
      return;
    }
    recorder_ = std::move(rec);
    emit recordingStarted(path);
  });
}

void Session::stopRecording() {
  post([this] { stopRecordingOnThread(); });
}

void Session::onCycleOnThread(uint32_t ms, bool completed) {
  meter_.end(host_->timeGetTime(), completed);
  if (completed) {
    emit cyclesMeasured(QString::fromStdString(meter_.text()));
    QStringList texts;
    for (int i = 0; i < 9; ++i)
      texts << QString::fromStdString(form2_->ctl.text(kline::indexed("Text1", i)));
    emit liveCycle(ms, texts);
  }
  if (!recorder_) return;
  recorder_->cycle(ms, completed, form2_->ctl);
  if (!recorder_->error().empty()) {
    const QString why = QString::fromStdString(recorder_->error());
    recorder_.reset();
    emit recordingFailed(why);
    return;
  }
  emit recordingRows(recorder_->rows());
}

void Session::checkAdapter(const QString& port) {
  post([this, port] {
    QStringList lines;
    bool ok = false;
    if (port.trimmed().compare(QLatin1String("sim"), Qt::CaseInsensitive) == 0) {
      lines << tr("The simulated ECU has no cable to check.");
    } else if (form2_ && form2_->portOpen()) {
      lines << tr("The port is in use: press Disconnect, then check the adapter.");
    } else {
      kline::AdapterCheck check;
      const kline::AdapterReport r = check.run(port.toStdString());
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

void Session::stopRecordingOnThread() {
  if (!recorder_) return;
  recorder_->close();
  const QString path = QString::fromStdString(recorder_->path());
  const int rows = recorder_->rows();
  recorder_.reset();
  emit recordingStopped(path, rows);
}
