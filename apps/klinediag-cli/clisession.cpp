#include "clisession.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <map>
#include <thread>

#include "connection/portfield.h"
#include "platform/portfactory.h"
#include "platform/qthost.h"
#include "sim/simecu.h"
#include "sim/virtualhost.h"

namespace kline {

namespace {

std::atomic<bool> gInterrupted{false};
// The real-time host, told at once so that a handler in a long wait gives up.
std::atomic<QtHost*> gQuitHost{nullptr};

extern "C" void onSignal(int) {
  gInterrupted = true;
  if (QtHost* h = gQuitHost.load()) h->requestQuit();
}

// Remarks about the port go to stderr, apart from the log.
class NoticeWriter : public EventSink {
 public:
  explicit NoticeWriter(std::ostream& err) : err_(err) {}
  void onNotice(const std::string& text) override { err_ << "klinediag-cli: " << text << "\n"; }

 private:
  std::ostream& err_;
};

const std::map<std::string, const char*> kEcuOptions = {{"15m", "Option1"},
                                                        {"15rc", "Option9"},
                                                        {"16m", "Option7"},
                                                        {"p8", "Option2"},
                                                        {"p8-sensor", "Option8"}};

}  // namespace

std::string LoadSimConfig(const std::optional<std::string>& file, SimConfig& out) {
  out = SimConfig{};
  out.burst = SimConfig::DefaultBurst();
  if (!file) return {};
  std::string text;
  if (std::string why = ReadSimFile(*file, text); !why.empty()) return why;
  try {
    out = SimConfig::FromJson(text, EcuType::E15m);
  } catch (const std::exception& e) {
    return *file + ": " + e.what();
  }
  return {};
}

SignalScope::SignalScope(QtHost* host) {
  gInterrupted = false;
  gQuitHost = host;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
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
  if (!setup_.sim) {
    auto sim = std::make_shared<SimConfig>();
    sim->burst = SimConfig::DefaultBurst();
    setup_.sim = sim;
  }
  if (setup_.virtualTime) {
    auto v = std::make_unique<VirtualHost>();
    vhost_ = v.get();
    host_ = std::move(v);
  } else {
    auto q = std::make_unique<QtHost>();
    qhost_ = q.get();
    host_ = std::move(q);
  }
  wall_.start();
  since_ = [this]() -> uint64_t {
    return vhost_ ? vhost_->now() : static_cast<uint64_t>(wall_.elapsed());
  };
  notices_ = std::make_unique<NoticeWriter>(err_);
  sinks_.add(notices_.get());
}

CliSession::~CliSession() = default;

void CliSession::build() {
  devices_ = MakePortFactory(*host_, std::const_pointer_cast<SimConfig>(setup_.sim));
  PortFactory factory = [this](const std::string& spec) -> std::unique_ptr<SerialPort> {
    if (ParsePortField(spec).kind != PortField::Kind::Sim) return devices_(spec);
    SimConfig c = *setup_.sim;
    if (!c.typeGiven) c.type = SelectedEcuType(form_->ctl);
    Host& host = *host_;
    auto port = std::make_unique<SimEcu>(c, [&host] { return host.micros(); });
    if (qhost_)
      port->setSleeper(
          [](int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); });
    return port;
  };
  std::string settingsPath =
      setup_.settings ? *setup_.settings : DefaultSettingsPath().toStdString();
  form_ = std::make_unique<Form2>(*host_, factory, settingsPath, &sinks_);
  // Settings that cannot be saved do not stop the run; they are remarked on once.
  form_->settings().onFirstFailure([this](const std::string& why) {
    err_ << "klinediag-cli: settings not saved to " << form_->settings().path() << ": " << why
         << "\n";
  });
  // The link's state: a lost port ends the run, a silent ECU is remarked on once.
  link_ = std::make_unique<LinkMonitor>([this]() -> const SerialPort* { return form_->port(); },
                                        [this] { return host_->timeGetTime(); },
                                        [this](const LinkStatus& s) {
                                          if (s.state == LinkState::Lost && !lost_) {
                                            lost_ = true;
                                            // Nothing more will come: whatever waits now gives up.
                                            if (qhost_) qhost_->requestQuit();
                                            err_ << "klinediag-cli: " << s.text << "\n";
                                          } else if (s.state == LinkState::Silent && !toldSilent_) {
                                            toldSilent_ = true;
                                            err_ << "klinediag-cli: " << s.text << "\n";
                                          }
                                        });
  sinks_.add(link_.get());
}

void CliSession::guarded(const std::function<void()>& fn) {
  if (qhost_)
    qhost_->runGuarded(fn);
  else
    fn();
}

std::string CliSession::load() {
  Form2& form = *form_;
  guarded([&] {
    form.Form_Load();
    if (setup_.ecu) {
      std::string l;
      for (char ch : *setup_.ecu)
        l += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      form.ctl.userClick(kEcuOptions.at(l));
    }
    if (setup_.port) form.ctl.userSetText("Text6", *setup_.port);
  });
  if (vhost_ && ParsePortField(form.ctl.text("Text6")).kind != PortField::Kind::Sim)
    return "--virtual-time needs --port sim";
  return {};
}

bool CliSession::connect() {
  Form2& form = *form_;
  guarded([&] {
    if (form.ctl.value("Check2") == 0) form.ctl.userClick("Check2");
  });
  if (form.portOpen()) return true;
  SerialPort* p = form.port();
  err_ << "klinediag-cli: cannot open port " << (p ? p->deviceName() : form.ctl.text("Text6"))
       << ": " << (p ? p->openError() : std::string("no port")) << "\n";
  return false;
}

void CliSession::finish() {
  guarded([this] {
    if (form_->ctl.value("Check2") == 1) form_->ctl.userClick("Check2");
    form_->Form_Unload();
  });
}

void CliSession::progress() {
  deadline_ = since_() + limit_;
}

CliSession::End CliSession::runJob(const std::function<bool()>& step, uint64_t limitMs) {
  limit_ = limitMs;
  progress();
  auto ended = [this]() -> std::optional<End> {
    if (lost_) return End::Lost;
    if (SignalScope::interrupted()) return End::Interrupted;
    if (since_() > deadline_) return End::NoAnswer;
    return std::nullopt;
  };
  if (vhost_) {
    // A handler still running past the limit gives up at its next wait.
    vhost_->setStopCheck(
        [this] { return lost_ || SignalScope::interrupted() || since_() > deadline_; });
    for (;;) {
      if (auto e = ended()) return *e;
      if (step()) return End::Done;
      vhost_->runFor(10);
    }
  }
  End end = End::Done;
  bool busy = false;
  QObject context;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &context, [&] {
    if (busy) return;
    busy = true;
    std::optional<End> e = ended();
    bool done = false;
    if (!e) guarded([&] { done = step(); });
    if (!e && done) e = End::Done;
    if (e) {
      end = *e;
      poll.stop();
      QCoreApplication::quit();
    }
    busy = false;
  });
  poll.start(20);
  QCoreApplication::exec();
  return end;
}

}  // namespace kline
