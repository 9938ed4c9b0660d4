#include "clirunner.h"

#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "actioncheck.h"
#include "connection/form2.h"
#include "connection/linkmonitor.h"
#include "connection/portfield.h"
#include "eventwriter.h"
#include "inputcheck.h"
#include "livedata/csvrecorder.h"
#include "platform/portfactory.h"
#include "platform/qthost.h"
#include "scriptedaction.h"
#include "sim/simecu.h"
#include "sim/virtualhost.h"
#include "ui/numbers.h"

namespace kline {

namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void onSignal(int) {
  gInterrupted = true;
}

// Remarks about the port go to stderr, apart from the log.
class NoticeWriter : public EventSink {
 public:
  explicit NoticeWriter(std::ostream& err) : err_(err) {}
  void onNotice(const std::string& text) override { err_ << "klinediag-cli: " << text << "\n"; }

 private:
  std::ostream& err_;
};

struct Options {
  std::optional<std::string> port;
  std::optional<std::string> ecu;
  std::optional<std::string> settings;
  std::optional<uint64_t> duration;
  bool virtualTime = false;
  std::optional<std::string> simFile;
  std::vector<std::string> actions;
  std::optional<std::string> events;
  std::optional<std::string> log;
  std::optional<std::string> csv;
};

const char* kExamples = R"(
Examples:
  klinediag-cli --port sim --ecu 15m
      Connects to the built-in simulated ECU in real time and prints the log as it comes.
  klinediag-cli --port sim --ecu 15m --virtual-time --duration 5000 --events -
      Five seconds of line time on virtual time, in a few milliseconds, as JSON Lines.
  klinediag-cli --port /dev/ttyUSB0 --ecu 16m --duration 60000 --log session.log
      One minute with a real adapter, the log pane written to session.log.
  klinediag-cli --port sim --virtual-time --duration 8000 --do 0:Check4=1 --do 6000:Command6
      Reads the calibration too, and the identification again at 6 s.
  klinediag-cli --port sim --ecu 15m --csv live.csv --duration 5000
      Records the live values, one row per completed cycle, to live.csv.

Port: a number N (the N-th serial port, USB adapters first), a device (COM7, /dev/ttyUSB0)
or "sim". ECU types: 15m, 15rc, 16m, p8, p8-sensor (the second P8, polled sensor by sensor).
Actions (--do T:[WINDOW.]CONTROL[(INDEX)][=VALUE]) address controls by their design names:
a button or menu is clicked (2500:Command6, 100:Diag), a check box set (0:Check3=0) or
toggled (0:Check1(2)), an option selected (0:Option7), a field typed into (0:Text2=250).
Events (--events): JSON Lines {"t":ms,"ev":"log"|"set"|"tx"|"rx"|"baud"|"open"|"close"|"timer",...}.
)";

const std::map<std::string, const char*> kEcuOptions = {{"15m", "Option1"},
                                                        {"15rc", "Option9"},
                                                        {"16m", "Option7"},
                                                        {"p8", "Option2"},
                                                        {"p8-sensor", "Option8"}};

EcuType selectedType(const ControlModel& m) {
  if (m.value("Option9")) return EcuType::E15Rc;
  if (m.value("Option7")) return EcuType::E16m;
  if (m.value("Option2") || m.value("Option8")) return EcuType::P8;
  return EcuType::E15m;
}

// Plays one user action on its window.
void apply(ControlModel& m, const ScriptedAction& a) {
  const Control& c = m.get(a.control);
  switch (c.kind) {
    case ControlKind::CheckBox:
      if (a.value)
        m.userSetValue(a.control, WholeNumber(*a.value));
      else
        m.userClick(a.control);
      break;
    case ControlKind::TextBox:
      m.userSetText(a.control, a.value.value_or(""));
      break;
    case ControlKind::List:
    case ControlKind::Slider:
      m.userSetValue(a.control, WholeNumber(a.value.value_or("0")));
      break;
    default:
      m.userClick(a.control);
      break;
  }
}

// The windows a script can reach, by name.
ControlModel* findWindow(Form2& form, const std::string& name) {
  return form.window(name);
}

// An output stream: "-" is standard output, anything else a file.
struct Output {
  std::unique_ptr<std::ofstream> file;
  std::ostream* stream = nullptr;
  bool open(const std::string& target, std::ostream& stdoutStream) {
    if (target == "-") {
      stream = &stdoutStream;
      return true;
    }
    file = std::make_unique<std::ofstream>(target, std::ios::binary | std::ios::trunc);
    stream = file.get();
    return static_cast<bool>(*file);
  }
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  CLI::App app{"klinediag-cli: the K-line ECU diagnostic window without pixels.", "klinediag-cli"};
  app.footer(kExamples);
  app.add_option("--port", o.port,
                 "Port field: a number from 1 to 32767, a device name or path, or sim");
  app.add_option("--ecu", o.ecu, "ECU type: 15m, 15rc, 16m, p8 or p8-sensor")
      ->check(CLI::IsMember({"15m", "15rc", "16m", "p8", "p8-sensor"}, CLI::ignore_case));
  app.add_option("--settings", o.settings, "Settings file to load and write");
  app.add_option("--duration", o.duration,
                 "Run for MS milliseconds (0 to 604800000, a week), then disconnect")
      ->check(CLI::Validator([](std::string& text) { return CheckDurationArgument(text); }, "",
                             "duration"));
  app.add_flag("--virtual-time", o.virtualTime,
               "Run on virtual time (with --port sim): sleeps and time-outs cost nothing");
  app.add_option("--sim", o.simFile, "JSON description of the simulated ECU (at most 1 MiB)");
  app.add_option("--do", o.actions, "T:[WINDOW.]CONTROL[(INDEX)][=VALUE], a user action at T ms")
      ->take_all();
  app.add_option("--events", o.events, "Write every event as JSON Lines to FILE or - (stdout)");
  app.add_option("--log", o.log, "Write the main window's log pane to FILE or - (stdout)");
  app.add_option("--csv", o.csv, "Record the live values to a CSV file, one row per cycle");

  std::vector<std::string> rev(args.rbegin(), args.rend());
  try {
    app.parse(rev);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "klinediag-cli: " << e.what() << " (see --help)\n";
    return 2;
  }
  auto usage = [&](const std::string& why) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  };

  if (o.port)
    if (std::string why = CheckPortArgument(*o.port); !why.empty()) return usage(why);

  std::vector<ScriptedAction> actions;
  try {
    for (const auto& a : o.actions) actions.push_back(ParseScriptedAction(a));
  } catch (const std::invalid_argument& e) {
    return usage(e.what());
  }
  if (std::string why = CheckActions(actions); !why.empty()) return usage(why);

  auto sim = std::make_shared<SimConfig>();
  sim->burst = SimConfig::DefaultBurst();
  if (o.simFile) {
    std::string text;
    if (std::string why = ReadSimFile(*o.simFile, text); !why.empty()) return usage(why);
    try {
      *sim = SimConfig::FromJson(text, EcuType::E15m);
    } catch (const std::exception& e) {
      return usage(*o.simFile + ": " + e.what());
    }
  }
  if (o.virtualTime && !o.duration) return usage("--virtual-time needs --duration");

  Output eventsOut, logOut;
  if (o.events && !eventsOut.open(*o.events, out)) return usage("cannot write " + *o.events);
  if (o.log && !logOut.open(*o.log, out)) return usage("cannot write " + *o.log);

  std::string settingsPath = o.settings ? *o.settings : DefaultSettingsPath().toStdString();

  std::unique_ptr<Host> hostOwner;
  VirtualHost* vhost = nullptr;
  QtHost* qhost = nullptr;
  if (o.virtualTime) {
    hostOwner = std::make_unique<VirtualHost>();
    vhost = static_cast<VirtualHost*>(hostOwner.get());
  } else {
    hostOwner = std::make_unique<QtHost>();
    qhost = static_cast<QtHost*>(hostOwner.get());
  }
  Host& host = *hostOwner;
  QElapsedTimer wall;
  wall.start();
  std::function<uint64_t()> since = [&]() -> uint64_t {
    return vhost ? vhost->now() : static_cast<uint64_t>(wall.elapsed());
  };

  bool flushEach = !o.virtualTime;
  EventFanout sinks;
  NoticeWriter notices(err);
  sinks.add(&notices);
  std::unique_ptr<EventSink> writers[3];
  if (eventsOut.stream)
    sinks.add((writers[0] = std::make_unique<JsonEventWriter>(*eventsOut.stream, since, flushEach))
                  .get());
  if (logOut.stream)
    sinks.add(
        (writers[1] = std::make_unique<LogLineWriter>(*logOut.stream, "Form2", flushEach)).get());
  if (!eventsOut.stream && !logOut.stream)
    sinks.add((writers[2] = std::make_unique<ReadableWriter>(out, flushEach)).get());

  PortFactory devices = MakePortFactory(host, sim);
  Form2* formPtr = nullptr;
  PortFactory factory = [&](const std::string& spec) -> std::unique_ptr<SerialPort> {
    if (ParsePortField(spec).kind != PortField::Kind::Sim) return devices(spec);
    SimConfig c = *sim;
    if (!c.typeGiven) c.type = selectedType(formPtr->ctl);
    auto port = std::make_unique<SimEcu>(c, [&host] { return host.micros(); });
    if (qhost)
      port->setSleeper(
          [](int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); });
    return port;
  };
  Form2 form(host, factory, settingsPath, &sinks);
  formPtr = &form;

  CsvRecorder csv;
  if (o.csv) {
    std::string why = csv.open(*o.csv);
    if (!why.empty()) return usage(why);
    form.onLiveCycle = [&](uint32_t ms, bool completed) {
      if (completed) csv.row(ms, form.ctl);
    };
  }

  auto guarded = [&](const std::function<void()>& fn) {
    if (qhost)
      qhost->runGuarded(fn);
    else
      fn();
  };
  // The link's state: a lost port ends the run, a silent ECU is remarked on once.
  bool lost = false;
  bool toldSilent = false;
  LinkMonitor link([&form]() -> const SerialPort* { return form.port(); },
                   [&host] { return host.timeGetTime(); },
                   [&](const LinkStatus& s) {
                     if (s.state == LinkState::Lost && !lost) {
                       lost = true;
                       err << "klinediag-cli: " << s.text << "\n";
                     } else if (s.state == LinkState::Silent && !toldSilent) {
                       toldSilent = true;
                       err << "klinediag-cli: " << s.text << "\n";
                     }
                   });
  sinks.add(&link);

  int rc = 0;
  guarded([&] {
    form.Form_Load();
    if (o.ecu) {
      std::string l;
      for (char ch : *o.ecu) l += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      form.ctl.userClick(kEcuOptions.at(l));
    }
    if (o.port) form.ctl.userSetText("Text6", *o.port);
  });
  if (o.virtualTime && ParsePortField(form.ctl.text("Text6")).kind != PortField::Kind::Sim)
    return usage("--virtual-time needs --port sim");

  auto play = [&](const ScriptedAction& a) { apply(*findWindow(form, a.window), a); };
  // Actions at time 0 set the window up before Connect is pressed.
  for (const auto& a : actions)
    if (a.at == 0) guarded([&] { play(a); });
  guarded([&] {
    if (form.ctl.value("Check2") == 0) form.ctl.userClick("Check2");
  });
  if (!form.portOpen()) {
    SerialPort* p = form.port();
    err << "klinediag-cli: cannot open port " << (p ? p->deviceName() : form.ctl.text("Text6"))
        << ": " << (p ? p->openError() : std::string("no port")) << "\n";
    return 1;
  }

  auto finish = [&] {
    if (form.ctl.value("Check2") == 1) form.ctl.userClick("Check2");
    form.Form_Unload();
  };

  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  gInterrupted = false;
  if (vhost) {
    for (const auto& a : actions)
      if (a.at > 0) vhost->schedule(a.at, [&play, a] { play(a); });
    vhost->setStopCheck([&] { return lost || gInterrupted; });
    vhost->runUntil(*o.duration);
    finish();
  } else {
    QObject context;
    for (const auto& a : actions)
      if (a.at > 0)
        QTimer::singleShot(static_cast<int>(a.at), &context, [&, a] { guarded([&] { play(a); }); });
    bool done = false;
    auto stop = [&] {
      if (done) return;
      done = true;
      guarded(finish);
      QCoreApplication::quit();
    };
    if (o.duration) QTimer::singleShot(static_cast<int>(*o.duration), &context, stop);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &context, [&] {
      if (gInterrupted || lost) stop();
    });
    poll.start(50);
    QCoreApplication::exec();
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  // A session whose port went away did not do what it was asked: that is a failure.
  if (lost) rc = 1;
  for (auto* s : {eventsOut.stream, logOut.stream})
    if (s) s->flush();
  if (!csv.error().empty()) {
    err << "klinediag-cli: " << csv.error() << "\n";
    rc = 1;
  }
  return rc;
}

}  // namespace kline
