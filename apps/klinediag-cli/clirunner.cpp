#include "clirunner.h"

#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "actioncheck.h"
#include "clisession.h"
#include "connection/ecutypes.h"
#include "eventwriter.h"
#include "helptext.h"
#include "inputcheck.h"
#include "livedata/numbers.h"
#include "livedata/recording.h"
#include "platform/qthost.h"
#include "scriptedaction.h"
#include "serial/filepath.h"
#include "sim/virtualhost.h"
#include "subcommands.h"
#include "terminalstream.h"

// The version the build gives; the project's own when it gives none.
#ifndef KLINE_VERSION
#define KLINE_VERSION "0.1.0"
#endif

namespace kline {

namespace {

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
  std::optional<std::string> replay;
  std::optional<std::string> report;
};

const Example kExamples[] = {
    {"klinediag-cli --port sim --ecu 15m",
     "Connects to the built-in simulated ECU in real time and prints the log as it comes."},
    {"klinediag-cli --port sim --ecu 15m --virtual-time --duration 5000 --events -",
     "Five seconds of line time on virtual time, in a few milliseconds, as JSON Lines."},
    {"klinediag-cli --port /dev/ttyUSB0 --ecu 16m --duration 60000 --log session.log",
     "One minute with a real adapter, the log pane written to session.log."},
    {"klinediag-cli --port sim --virtual-time --duration 8000 --do 0:Check4=1 --do 6000:Command6",
     "Reads the calibration too, and the identification again at 6 s."},
    {"klinediag-cli --port sim --ecu 15m --csv live.csv --duration 5000",
     "Records the live values, one row per completed cycle, to live.csv."},
    {"klinediag-cli --replay live.csv",
     "Summarises a recording: per channel the rows with a value, min, max, mean, times."},
    {"klinediag-cli --port sim --virtual-time --duration 60000 --do 3000:test --do "
     "6000:Form1.Command1 --do 50000:Form1.back --report report.html",
     "Runs the fuel pump test from the Tests window and writes the session's report."},
    {"klinediag-cli live --port sim --count 20 --format csv",
     "A subcommand: the live values, one line per cycle. Each subcommand (ports, check-adapter, "
     "info, faults, live, test, records) has its own --help with its options and examples."},
    {"klinediag-cli records show KL15M",
     "The visits the session subcommands kept of a bike (see 'klinediag-cli records --help')."},
};

const char* const kNotes[] = {
    "Port: a number N (the N-th serial port, USB adapters first), a device (COM7, /dev/ttyUSB0) "
    "or \"sim\". ECU types: 15m, 15rc, 16m, p8, p8-sensor (the second P8, polled sensor by "
    "sensor).",
    "Actions (--do T:[WINDOW.]CONTROL[(INDEX)][=VALUE]) address controls by their design names: "
    "a button or menu is clicked (2500:Command6, 100:Diag), a check box set (0:Check3=0) or "
    "toggled (0:Check1(2)), an option selected (0:Option7), a field typed into (0:Text2=250).",
    "Events (--events): JSON Lines {\"t\":ms,\"ev\":KIND,...} for KIND log, set, tx, rx, baud, "
    "open, close, timer and, for what happened, {\"t\":ms,\"ev\":\"event\",\"event\":NAME,...its "
    "fields} for NAME link, connecting, ecu-identified, live-cycle, readout, test-started, "
    "test-ended, loop-paused...",
};

// The man page's sections that help2man cannot take from --help as they are (see helptext.h),
// for its --include.
std::string ManSections(const Subcommands& subcommands) {
  return "[>DESCRIPTION]\n" + ManParagraphs(kNotes) + "[SUBCOMMANDS]\n" + subcommands.manSection() +
         "[=EXAMPLES]\n" + ManExamples(kExamples);
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
    file =
        std::make_unique<std::ofstream>(PathFromUtf8(target), std::ios::binary | std::ios::trunc);
    stream = file.get();
    return static_cast<bool>(*file);
  }
};

// --replay: one summary line per channel of a recording, then the skip line if any.
int Replay(const std::string& path, std::ostream& out, std::ostream& err) {
  const Recording r = ReadRecording(path);
  if (!r.error.empty()) {
    err << "klinediag-cli: cannot replay " << path << ": " << r.error << "\n";
    return 2;
  }
  auto number = [](double v) {
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s.precision(6);
    s << v;
    return s.str();
  };
  for (const RecordedChannel& c : r.channels) {
    std::size_t n = 0;
    double lo = 0, hi = 0, sum = 0;
    uint32_t first = 0, last = 0;
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      const float v = c.values[i];
      if (std::isnan(v)) continue;
      if (n++ == 0) {
        lo = hi = v;
        first = r.timesMs[i];
      }
      lo = std::min(lo, double{v});
      hi = std::max(hi, double{v});
      sum += v;
      last = r.timesMs[i];
    }
    out << c.name << (c.unit.empty() ? "" : " [" + c.unit + "]") << ": " << n << " of "
        << r.timesMs.size() << " rows";
    if (n > 0)
      out << ", min " << number(lo) << ", max " << number(hi) << ", mean "
          << number(sum / static_cast<double>(n)) << ", " << first << " ms to " << last << " ms";
    out << "\n";
  }
  if (std::string skips = r.skipLine(); !skips.empty()) out << skips << "\n";
  return 0;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& stdOut, std::ostream& stdErr) {
  // Whatever reaches the terminal shows its control characters; files keep their bytes.
  TerminalStream out(stdOut), err(stdErr);
  Options o;
  CLI::App app{"klinediag-cli: the K-line ECU diagnostic window without pixels.", "klinediag-cli"};
  app.footer(HelpExamples(kExamples) + HelpParagraphs(kNotes));
  app.add_option("--port", o.port,
                 "Port field: a number from 1 to 32767, a device name or path, or sim");
  app.add_option("--ecu", o.ecu, "ECU type: " + EcuCliNamesText())
      ->check(CLI::IsMember(EcuCliNames(), CLI::ignore_case));
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
  app.add_option("--report", o.report,
                 "At the end, write the session's report (identification, faults, tests, live "
                 "ranges) as an HTML page to FILE or - (stdout)");
  app.add_option("--replay", o.replay,
                 "Summarise a recording made with --csv (no port): per channel the rows with a "
                 "value, min, max, mean, first and last time");
  app.set_version_flag("--version", std::string("klinediag-cli ") + KLINE_VERSION);
  Subcommands subcommands(app);
  // For the build, which makes the man page (no group: not in the help).
  bool manSections = false;
  app.add_flag("--man-sections", manSections, "")->group("");

  std::vector<std::string> rev(args.rbegin(), args.rend());
  try {
    app.parse(rev);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForVersion& e) {
    out << e.what() << "\n";
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "klinediag-cli: " << e.what() << " (see --help)\n";
    return 2;
  }
  auto usage = [&](const std::string& why) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  };
  if (manSections) {
    out << ManSections(subcommands);
    return 0;
  }
  if (std::optional<int> rc = subcommands.run(out, err)) return *rc;
  if (o.replay) return Replay(*o.replay, out, err);

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
  if (std::string why = LoadSimConfig(o.simFile, *sim); !why.empty()) return usage(why);
  if (o.virtualTime && !o.duration) return usage("--virtual-time needs --duration");
  if (o.report) {
    std::string ext = o.report->substr(o.report->find_last_of("./\\") + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "pdf")
      return usage("--report writes an HTML page, not " + *o.report +
                   ": name it .html and print it to PDF from a browser");
  }

  Output eventsOut, logOut, reportOut;
  if (o.events && !eventsOut.open(*o.events, out)) return usage("cannot write " + *o.events);
  if (o.log && !logOut.open(*o.log, out)) return usage("cannot write " + *o.log);
  if (o.report && !reportOut.open(*o.report, out)) return usage("cannot write " + *o.report);

  SessionSetup setup;
  setup.port = o.port;
  setup.ecu = o.ecu;
  setup.settings = o.settings;
  setup.virtualTime = o.virtualTime;
  setup.sim = sim;
  CliSession session(std::move(setup), err);
  VirtualHost* vhost = session.vhost();
  QtHost* qhost = session.qhost();
  std::function<uint64_t()> since = session.clock();
  // From here a signal ends the run as it should, also one that comes while the program starts.
  SignalScope onSignals(qhost);

  bool flushEach = !o.virtualTime;
  if (eventsOut.stream)
    session.own(std::make_unique<JsonEventWriter>(*eventsOut.stream, since, flushEach));
  if (logOut.stream)
    session.own(std::make_unique<LogLineWriter>(*logOut.stream, "Form2", flushEach));
  if (!eventsOut.stream && !logOut.stream)
    session.own(std::make_unique<ReadableWriter>(out, flushEach));

  SessionCore& core = session.core();
  if (o.csv)
    if (std::string why = core.startRecording(*o.csv); !why.empty()) return usage(why);

  auto guarded = [&](const std::function<void()>& fn) { session.guarded(fn); };
  if (std::string why = session.load(); !why.empty()) return usage(why);

  // The report of what the session saw, when asked for: false when it could not be written.
  auto writeReport = [&]() -> bool {
    if (!reportOut.stream) return true;
    const std::string date =
        QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString();
    *reportOut.stream << core.report().html(date);
    reportOut.stream->flush();
    if (*reportOut.stream) return true;
    err << "klinediag-cli: cannot write the report to " << *o.report << "\n";
    return false;
  };

  auto play = [&](const ScriptedAction& a) { PlayAction(*core.window(a.window), a); };
  // Actions at time 0 set the window up before Connect is pressed.
  for (const auto& a : actions)
    if (a.at == 0) guarded([&] { play(a); });
  if (!session.connect()) {
    writeReport();
    return 1;
  }

  auto finish = [&] { session.finish(); };
  auto lost = [&] { return session.lost(); };

  if (vhost) {
    for (const auto& a : actions)
      if (a.at > 0) vhost->schedule(a.at, [&play, a] { play(a); });
    vhost->setStopCheck([&] { return lost() || SignalScope::interrupted(); });
    // A handler still waiting shortly after the end gives up: the run ends when it was asked to.
    vhost->setHardStop(100);
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
      finish();
      QCoreApplication::quit();
    };
    if (o.duration) {
      QTimer::singleShot(static_cast<int>(*o.duration), &context, stop);
      // A handler still waiting shortly after the end gives up.
      qhost->quitAfter(static_cast<int64_t>(*o.duration) + 100);
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &context, [&] {
      if (SignalScope::interrupted() || lost()) stop();
    });
    poll.start(50);
    QCoreApplication::exec();
  }
  // A session whose port went away did not do what it was asked: that is a failure.
  int rc = lost() ? 1 : 0;
  for (auto* s : {eventsOut.stream, logOut.stream})
    if (s) s->flush();
  core.stopRecording();
  if (std::string why = core.takeRecordingError(); !why.empty()) {
    err << "klinediag-cli: " << why << "\n";
    rc = 1;
  }
  if (!writeReport()) rc = 1;
  return rc;
}

}  // namespace kline
