#include "clisession.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "connection/ecutypes.h"
#include "connection/portfield.h"
#include "platform/portfactory.h"
#include "platform/qthost.h"
#include "sessionjob.h"
#include "sim/virtualhost.h"

namespace kline {

namespace {

// Between two looks at a job, the line runs this long on virtual time; on the real clock the
// event loop runs this long.
constexpr uint64_t kVirtualStepMs = 10;
constexpr int kPollMs = 20;
// How long after a timed job's end a handler still waiting gives up.
constexpr uint64_t kGraceMs = 100;

std::atomic<bool> gInterrupted{false};
// The real-time host, told at once so that a handler in a long wait gives up.
std::atomic<QtHost*> gQuitHost{nullptr};

extern "C" void onSignal(int) {
  gInterrupted = true;
  if (QtHost* h = gQuitHost.load()) h->requestQuit();
}

}  // namespace

// What the command line says on stderr about the port and the link, apart from the log: the
// port's remarks, a lost port (which ends whatever waits), a silent ECU and a babbling line, each
// once.
class CliSession::Remarks : public EventSink {
 public:
  explicit Remarks(CliSession& s) : s_(s) {}
  void onNotice(const std::string& text) override { s_.err_ << "klinediag-cli: " << text << "\n"; }
  void onEvent(const SessionEvent& e) override {
    const auto* changed = std::get_if<ev::LinkChanged>(&e);
    if (!changed) return;
    const LinkStatus& status = changed->status;
    if (status.state == LinkState::Lost && !s_.lost_) {
      s_.lost_ = true;
      // Nothing more will come: whatever waits now gives up.
      if (s_.qhost_) s_.qhost_->requestQuit();
      s_.err_ << "klinediag-cli: " << status.text << "\n";
    } else if (status.state == LinkState::Silent && !s_.toldSilent_) {
      s_.toldSilent_ = true;
      s_.err_ << "klinediag-cli: " << status.text << "\n";
    } else if (status.state == LinkState::Babbling && !s_.toldBabble_) {
      s_.toldBabble_ = true;
      s_.err_ << "klinediag-cli: " << status.text << "\n";
    }
  }

 private:
  CliSession& s_;
};

std::string LoadSimConfig(const std::optional<std::string>& file, SimConfig& out) {
  out = DefaultSimConfig();
  if (!file) return {};
  std::string text;
  if (std::string why = ReadSimFile(*file, text); !why.empty()) return why;
  try {
    out = SimConfig::FromJson(text, DefaultEcuType().sim);
  } catch (const std::exception& e) {
    return *file + ": " + e.what();
  }
  return {};
}

void SignalScope::CatchEarly() {
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
}

SignalScope::SignalScope(QtHost* host) {
  gQuitHost = host;
  CatchEarly();
  // A signal that came while the program started ends this run at once.
  if (gInterrupted && host) host->requestQuit();
}

SignalScope::~SignalScope() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  gQuitHost = nullptr;
}

bool SignalScope::interrupted() {
  return gInterrupted;
}

CliSession::CliSession(SessionSetup setup, std::ostream& err)
    : setup_(std::move(setup)), err_(err) {
  SessionOptions o;
  o.settingsPath = setup_.settings ? *setup_.settings : DefaultSettingsPath().toStdString();
  o.sim = setup_.sim;
  o.simTypeFollowsForm = true;
  o.keepJournal = setup_.keepJournal;
  o.records = setup_.records;
  o.mileage = setup_.mileage;
  o.onNoAnswer = setup_.onNoAnswer;
  o.joinHours = setup_.joinHours;
  o.devices = MakeDeviceFactory();
  if (setup_.virtualTime) {
    auto v = std::make_unique<VirtualHost>();
    vhost_ = v.get();
    host_ = std::move(v);
    // The wall clock of a virtual run moves with the line's time from the real start on.
    const WallTime start = CsvRecorder::SystemTime();
    o.wallClock = [start, v = vhost_] {
      WallTime t = start;
      t.msSinceEpoch += static_cast<int64_t>(v->now());
      return t;
    };
  } else {
    auto q = std::make_unique<QtHost>();
    qhost_ = q.get();
    host_ = std::move(q);
    o.simSleeper = [](int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); };
  }
  wall_.start();
  since_ = [this]() -> uint64_t {
    return vhost_ ? vhost_->now() : static_cast<uint64_t>(wall_.elapsed());
  };
  core_ = std::make_unique<SessionCore>(*host_, std::move(o));
  remarks_ = std::make_unique<Remarks>(*this);
  core_->observe(remarks_.get());
  // Settings that cannot be saved do not stop the run; they are remarked on once.
  core_->form().settings().onFirstFailure([this](const std::string& why) {
    err_ << "klinediag-cli: settings not saved to " << core_->form().settings().path() << ": "
         << why << "\n";
  });
}

CliSession::~CliSession() {
  // The core lets its observers go first; they die after it.
  core_.reset();
}

void CliSession::guarded(const std::function<void()>& fn) {
  if (qhost_)
    qhost_->runGuarded(fn);
  else
    fn();
}

std::string CliSession::load() {
  Form2& form = core_->form();
  savedPort_ = form.settings().read("Hardware", "Com");
  savedEcu_ = form.settings().read("Hardware", "Ecu");
  guarded([&] {
    core_->load();
    if (setup_.ecu)
      if (const EcuTypeInfo* type = FindEcuType(*setup_.ecu)) form.ctl.userClick(type->option);
    if (setup_.port) form.typePort(*setup_.port);
  });
  if (vhost_ && ParsePortField(form.portText()).kind != PortField::Kind::Sim)
    return "--virtual-time needs --port sim";
  return {};
}

std::string CliSession::portAndEcu() const {
  const Form2& form = core_->form();
  const std::string port = "port " + form.portText();
  const EcuTypeInfo& type = SelectedEcuTypeInfo(form.ctl);
  const std::string ecu = std::string("ECU ") + type.cliName;
  // The window takes the port and the type from the file when the command line names none.
  const bool portSaved = !setup_.port && !savedPort_.empty();
  const bool ecuSaved = !setup_.ecu && *type.settingsCode && savedEcu_ == type.settingsCode;
  const std::string from = " from " + form.settings().path();
  if (portSaved && ecuSaved) return "using " + port + " and " + ecu + from;
  if (portSaved) return "using " + port + from + " with " + ecu;
  if (ecuSaved) return "using " + ecu + from + " on " + port;
  return ecu + " on " + port;
}

bool CliSession::connect() {
  bool open = false;
  guarded([&] { open = core_->connect(); });
  if (open) return true;
  SerialPort* p = core_->form().port();
  err_ << "klinediag-cli: cannot open port " << (p ? p->deviceName() : core_->form().portText())
       << ": " << (p ? p->openError() : std::string("no port")) << "\n";
  return false;
}

void CliSession::finish() {
  guarded([this] { core_->unload(); });
}

void CliSession::outputClosed() {
  if (outputClosed_) return;
  outputClosed_ = true;
  if (qhost_) qhost_->requestQuit();
}

void CliSession::progress() {
  deadline_ = limit_ ? since_() + *limit_ : UINT64_MAX;
}

void CliSession::at(uint64_t ms, std::function<void()> action) {
  if (vhost_) {
    vhost_->schedule(ms, std::move(action));
    return;
  }
  if (!timers_) timers_ = std::make_unique<QObject>();
  const uint64_t now = since_();
  QTimer::singleShot(static_cast<int>(ms > now ? ms - now : 0), timers_.get(),
                     [this, action = std::move(action)] { guarded(action); });
}

CliSession::End CliSession::runJob(SessionJob& job, std::optional<uint64_t> limitMs) {
  limit_ = limitMs;
  progress();
  const std::optional<uint64_t> end = job.endMs();
  auto ended = [this]() -> std::optional<End> {
    if (lost_) return End::Lost;
    if (outputClosed_) return End::OutputClosed;
    if (SignalScope::interrupted()) return End::Interrupted;
    if (since_() > deadline_) return End::NoAnswer;
    return std::nullopt;
  };
  // The job is done, or a timed job has reached its end.
  auto done = [&] { return job.step(*this) || (end && since_() >= *end); };
  // A step that plays the user's actions may run a handler that a signal cut short (a test's
  // verdict wait gives up at once): what it leaves is no result.
  auto finished = [] { return SignalScope::interrupted() ? End::Interrupted : End::Done; };
  if (vhost_) {
    // A handler still running past the limit gives up at its next wait.
    vhost_->setStopCheck([this] {
      return lost_ || outputClosed_ || SignalScope::interrupted() || since_() > deadline_;
    });
    job.start(*this);
    for (;;) {
      if (auto e = ended()) return *e;
      if (done()) return finished();
      uint64_t until = vhost_->now() + kVirtualStepMs;
      if (end) {
        until = std::min(until, *end);
        // A handler still waiting shortly after the job's end gives up, whichever stretch it
        // began in: the run ends when it was asked to. (The grace counts from the stretch's end.)
        vhost_->setHardStop(*end + kGraceMs - until);
      }
      vhost_->runUntil(until);
    }
  }
  // A handler still waiting shortly after the job's end gives up, on the real clock too.
  if (end)
    qhost_->quitAfter(static_cast<int64_t>(*end + kGraceMs) - static_cast<int64_t>(since_()));
  job.start(*this);
  End result = End::Done;
  bool busy = false;
  QObject context;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &context, [&] {
    if (busy) return;
    busy = true;
    std::optional<End> e = ended();
    bool isDone = false;
    if (!e) guarded([&] { isDone = done(); });
    if (!e && isDone) e = finished();
    if (e) {
      result = *e;
      poll.stop();
      QCoreApplication::quit();
    }
    busy = false;
  });
  poll.start(kPollMs);
  QCoreApplication::exec();
  // Actions still to come are not played.
  timers_.reset();
  return result;
}

}  // namespace kline
