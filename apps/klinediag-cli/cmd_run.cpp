// The run without a subcommand: the headless main window. It loads the window, plays the
// scripted actions at time 0, presses Connect, plays the other actions at their times and
// presses Disconnect at the end (--duration, Ctrl+C or a lost port); the log pane, the events, a
// recording of the live values and the session's report go where the options say.
#include <QDateTime>
#include <cctype>
#include <fstream>
#include <memory>

#include "actioncheck.h"
#include "eventwriter.h"
#include "inputcheck.h"
#include "records/visitreport.h"
#include "scriptedaction.h"
#include "serial/filepath.h"
#include "subcommands.h"

namespace kline {

struct ScriptedRun::Options {
  std::optional<uint64_t> duration;
  std::vector<std::string> actions;
  std::optional<std::string> log;
  std::optional<std::string> csv;
  std::optional<std::string> replay;
  std::optional<std::string> report;
};

namespace {

using Output = OutputTarget;

// The run's job: the scripted actions, each played at its time as the user would; a timed run
// ends at --duration. At the end it writes what the session leaves: the outputs flushed, the
// recording closed, the report.
class ScriptJob : public SessionJob {
 public:
  ScriptJob(std::vector<ScriptedAction> actions, std::optional<uint64_t> duration,
            std::vector<Output*> outputs, Output& report, std::string reportName)
      : actions_(std::move(actions)),
        duration_(duration),
        outputs_(std::move(outputs)),
        report_(report),
        reportName_(std::move(reportName)) {}

  // Actions at time 0 set the window up before Connect is pressed.
  std::string prepare(CliSession& s) override {
    session_ = &s;
    for (const auto& a : actions_)
      if (a.at == 0) s.guarded([&] { play(a); });
    return {};
  }
  void start(CliSession& s) override {
    for (const auto& a : actions_)
      if (a.at > 0) s.at(a.at, [this, a] { play(a); });
  }
  // It ends at its end, or with the session.
  bool step(CliSession& /*s*/) override { return false; }
  std::optional<uint64_t> endMs() const override { return duration_; }

  int print(const std::string& /*device*/, std::ostream& /*out*/, std::ostream& err) override {
    int rc = 0;
    for (Output* o : outputs_)
      if (o->stream) o->stream->flush();
    SessionCore& core = session_->core();
    core.stopRecording();
    if (std::string why = core.takeRecordingError(); !why.empty()) {
      err << "klinediag-cli: " << why << "\n";
      rc = 1;
    }
    if (!writeReport(err)) rc = 1;
    return rc;
  }

  // The report of what the session saw, when asked for: false when it could not be written.
  bool writeReport(std::ostream& err) {
    if (!report_.stream) return true;
    const std::string date =
        QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString();
    SessionCore& core = session_->core();
    core.report().setBike(records::ReportBikeOf(core.recordsPath(), core.visit()));
    *report_.stream << core.report().html(date);
    report_.stream->flush();
    if (*report_.stream) return true;
    err << "klinediag-cli: cannot write the report to " << reportName_ << "\n";
    return false;
  }

 private:
  void play(const ScriptedAction& a) { PlayAction(*session_->core().window(a.window), a); }

  std::vector<ScriptedAction> actions_;
  std::optional<uint64_t> duration_;
  std::vector<Output*> outputs_;
  Output& report_;
  std::string reportName_;
  CliSession* session_ = nullptr;
};

}  // namespace

ScriptedRun::ScriptedRun(CLI::App& program, GlobalOptions& global)
    : global_(global), o_(std::make_unique<Options>()) {
  app_ = &program;
  using Name = GlobalOptions::Name;
  global.takenWithoutSubcommand(
      {Name::Port, Name::Ecu, Name::Settings, Name::VirtualTime, Name::Sim, Name::Events});
  program
      .add_option("--duration", o_->duration,
                  "Run for MS milliseconds (0 to 604800000, a week), then disconnect")
      ->check(CLI::Validator([](std::string& text) { return CheckDurationArgument(text); }, "",
                             "duration"));
  program
      .add_option("--do", o_->actions, "T:[WINDOW.]CONTROL[(INDEX)][=VALUE], a user action at T ms")
      ->take_all();
  program.add_option("--log", o_->log, "Write the main window's log pane to FILE or - (stdout)");
  program.add_option("--csv", o_->csv, "Record the live values to a CSV file, one row per cycle");
  program.add_option("--report", o_->report,
                     "At the end, write the session's report (identification, faults, tests, "
                     "live ranges) as an HTML page to FILE or - (stdout)");
  program.add_option("--replay", o_->replay,
                     "Summarise a recording made with --csv, from FILE or - (stdin; no port): per "
                     "channel the rows with a value, min, max, mean, first and last time");
}

ScriptedRun::~ScriptedRun() = default;

const std::optional<std::string>& ScriptedRun::replay() const {
  return o_->replay;
}

int ScriptedRun::run(std::ostream& out, std::ostream& err) {
  const Options& o = *o_;
  auto usage = [&](const std::string& why) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  };
  if (global_.port)
    if (std::string why = CheckPortArgument(*global_.port); !why.empty()) return usage(why);
  std::vector<ScriptedAction> actions;
  try {
    for (const auto& a : o.actions) actions.push_back(ParseScriptedAction(a));
  } catch (const std::invalid_argument& e) {
    return usage(e.what());
  }
  if (std::string why = CheckActions(actions); !why.empty()) return usage(why);
  auto sim = std::make_shared<SimConfig>();
  if (std::string why = LoadSimConfig(global_.simFile, *sim); !why.empty()) return usage(why);
  if (global_.virtualTime && !o.duration) return usage("--virtual-time needs --duration");
  if (o.report) {
    std::string ext = o.report->substr(o.report->find_last_of("./\\") + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "pdf")
      return usage("--report writes an HTML page, not " + *o.report +
                   ": name it .html and print it to PDF from a browser");
  }

  Output eventsOut, logOut, reportOut;
  using Named = std::pair<const std::optional<std::string>*, Output*>;
  for (auto [name, target] :
       {Named{&global_.events, &eventsOut}, Named{&o.log, &logOut}, Named{&o.report, &reportOut}})
    if (*name)
      if (std::string why = target->open(**name, out); !why.empty()) return usage(why);

  CliSession session(global_.setup(sim), err);
  // From here a signal ends the run as it should, also one that comes while the program starts.
  SignalScope onSignals(session.qhost());
  const bool flushEach = !global_.virtualTime;
  if (eventsOut.stream)
    session.own(std::make_unique<JsonEventWriter>(*eventsOut.stream, session.clock(), flushEach));
  if (logOut.stream)
    session.own(std::make_unique<LogLineWriter>(*logOut.stream, "Form2", flushEach));
  if (!eventsOut.stream && !logOut.stream)
    session.own(std::make_unique<ReadableWriter>(out, flushEach));
  ScriptJob& job = session.own(std::make_unique<ScriptJob>(
      std::move(actions), o.duration, std::vector<Output*>{&eventsOut, &logOut}, reportOut,
      o.report.value_or("")));

  if (o.csv)
    if (std::string why = session.core().startRecording(*o.csv); !why.empty()) return usage(why);
  if (std::string why = session.load(); !why.empty()) return usage(why);
  job.prepare(session);
  if (!session.connect()) {
    job.writeReport(err);
    return 1;
  }
  const CliSession::End end = session.runJob(job, std::nullopt);
  session.finish();
  // A session whose port went away did not do what it was asked: that is a failure. A signal
  // ends the run as its end would.
  const int rc = job.print("", out, err);
  return end == CliSession::End::Lost ? 1 : rc;
}

}  // namespace kline
