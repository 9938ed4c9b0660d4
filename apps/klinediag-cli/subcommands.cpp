#include "subcommands.h"

#include <algorithm>

#include "clirecords.h"
#include "connection/connectchecklist.h"
#include "connection/ecutypes.h"
#include "connection/firstanswerwatch.h"
#include "connection/portfield.h"
#include "eventwriter.h"
#include "platform/seenports.h"

namespace kline {

namespace {

// The exit codes of the session subcommands.
const char* kCodes =
    "0 done; 1 the port did not open or was lost, no answer, a babbling line or no "
    "verdict; 2 a bad command line, an unknown test, or a test that clears the faults without "
    "--yes; 3 a fault is stored or the test said Erreur; 130 interrupted (live ends with 0)."
    " 141 standard output closed (| head): the visit is ended and kept, nothing more said.";

// What to check when a connection has not heard the ECU, for stderr.
std::string ChecklistText(const ev::Connecting& c) {
  const std::optional<ConnectChecklist> list = NoAnswerChecklist(
      c, "The simulated ECU has no adapter to check.",
      "Check its echo (no ECU needed): klinediag-cli check-adapter --port " + c.port,
      "while klinediag-cli is still waiting");
  return list ? list->text() : std::string();
}

}  // namespace

std::size_t Columns(const std::string& s) {
  return static_cast<std::size_t>(std::count_if(
      s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string PadLeft(const std::string& s, std::size_t width) {
  std::size_t n = Columns(s);
  return n >= width ? s : std::string(width - n, ' ') + s;
}

std::string PadRight(const std::string& s, std::size_t width) {
  std::size_t n = Columns(s);
  return n >= width ? s : s + std::string(width - n, ' ');
}

void SessionJob::onEvent(const SessionEvent& e) {
  if (const auto* c = std::get_if<ev::LiveCycle>(&e)) {
    ++cycles_;
    if (c->completed) ++completedCycles_;
  }
  on(e);
}

CLI::App& Command::addSubcommand(CLI::App& parent, const std::string& name, const std::string& what,
                                 std::span<const Example> examples, std::string more,
                                 bool moreInManPage) {
  CLI::App* app = parent.add_subcommand(name, what);
  if (!app_) app_ = app;
  // Each subcommand's help has its own examples, not the program's.
  const char* paragraph = more.c_str();
  app->footer(HelpExamples(examples) + (more.empty() ? "" : HelpParagraphs({&paragraph, 1})));
  help_.push_back({app, examples, moreInManPage ? std::move(more) : std::string()});
  return *app;
}

SessionCommand::SessionCommand(CLI::App& program, GlobalOptions& global, const std::string& name,
                               const std::string& what, std::span<const Example> examples,
                               MakeJob make)
    : global_(global), make_(std::move(make)) {
  // The man page says the exit codes once for all four.
  CLI::App& app =
      addSubcommand(program, name, what, examples, std::string("Exit codes: ") + kCodes, false);
  using Name = GlobalOptions::Name;
  for (Name n : {Name::Port, Name::Ecu, Name::Settings}) global.add(app, n);
  global.add(app, Name::VirtualTime,
             "Run on virtual time (with --port sim): runs until the job is done");
  global.add(app, Name::Sim);
  global.add(app, Name::Events);
  global.add(app, Name::Timeout);
  global.add(app, Name::Json);
  global.add(app, Name::Records,
             "Keep the visit in this records file (default: the user's records file)");
  global.add(app, Name::NoRecords);
  global.add(app, Name::Mileage);
  global.add(app, Name::JoinVisits);
}

std::vector<std::unique_ptr<Command>> AddSubcommands(CLI::App& program, GlobalOptions& global) {
  std::vector<std::unique_ptr<Command>> commands;
  for (auto add : {AddPorts, AddCheckAdapter, AddInfo, AddFaults, AddLive, AddTest, AddRecords,
                   AddSupportBundle})
    commands.push_back(add(program, global));
  return commands;
}

std::string ManSubcommands(const std::vector<std::unique_ptr<Command>>& commands) {
  std::string out = "Each subcommand has its own \\-\\-help with its options and examples.\n";
  for (const auto& command : commands)
    for (const Command::Help& h : command->help()) {
      // A records subcommand by its whole words: "records show".
      const CLI::App* parent = h.app->get_parent();
      const std::string name = parent && parent->get_parent()
                                   ? parent->get_name() + " " + h.app->get_name()
                                   : h.app->get_name();
      out += ".SS " + Roff(name) + "\n" + Roff(h.app->get_description()) + "\n" +
             ManOptions(*h.app) + ".PP\nExamples:\n" + ManExamples(h.examples);
      const char* more = h.more.c_str();
      if (!h.more.empty()) out += ManParagraphs({&more, 1});
    }
  return out + ".PP\n" + Roff(std::string("Exit codes of info, faults, live and test: ") + kCodes) +
         "\n";
}

int SessionCommand::run(std::ostream& out, std::ostream& err) {
  auto usage = [&](const std::string& why) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  };
  auto sim = std::make_shared<SimConfig>();
  if (std::string why = global_.check(*sim); !why.empty()) return usage(why);

  JobOptions jo = o_;
  if (global_.json) jo.format = "json";

  // The visit is kept in the records as the session goes, unless told not to; what the keeper
  // says is told as the session goes and at its end.
  CliRecords recordsSaid(err);
  SessionSetup setup = global_.setup(sim);
  // What to check, as soon as the ECU has been silent as long as the window waits before it
  // offers the same list; the run goes on listening.
  bool listed = false;
  setup.onNoAnswer = [&](const ev::Connecting& c) {
    if (const std::string list = ChecklistText(c); !list.empty()) {
      err << "klinediag-cli: " << list;
      listed = true;
    }
  };
  if (!global_.noRecords) {
    setup.records =
        recordsSaid.options(global_.records ? *global_.records : records::DefaultRecordsPath());
    setup.mileage = global_.mileage;
    setup.joinHours = global_.joinHours;
  }
  // Every event as JSON Lines, as the run without a subcommand writes them.
  OutputTarget events;
  if (global_.events)
    if (std::string why = events.open(*global_.events, out); !why.empty()) return usage(why);
  CliSession s(std::move(setup), err);
  // From here a signal ends the job as it should, also one that comes while it starts.
  SignalScope onSignals(s.qhost());
  if (events.stream)
    s.own(std::make_unique<JsonEventWriter>(*events.stream, s.clock(), !global_.virtualTime));
  SessionJob& job = s.own(make_(jo, out));
  if (std::string why = s.load(); !why.empty()) return usage(why);
  job.setEcu(SelectedEcuTypeInfo(s.form().ctl).cliName);
  if (std::string why = job.prepare(s); !why.empty()) return usage(why);
  s.core().observe(&recordsSaid);
  // Whether the ECU ever answered: a connection that never heard it ends with the checklist.
  const FirstAnswerWatch& firstAnswer = s.core().firstAnswer();
  err << "klinediag-cli: " << s.portAndEcu() << "\n";
  // A port that does not open is not remembered: the settings keep the one they had.
  const IniFile& settings = s.form().settings();
  const std::string remembered = settings.read("Hardware", "Com");
  if (!s.connect()) {
    if (settings.read("Hardware", "Com") != remembered)
      settings.write("Hardware", "Com", remembered);
    return 1;
  }
  const std::string device = s.form().port()->deviceName();

  // After the words of a session that failed without ever hearing the ECU: what to check, if the
  // run ended before the list was told.
  auto giveUp = [&](int rc) {
    if (rc != 0 && !firstAnswer.answered() && !listed)
      if (const std::string list = ChecklistText(firstAnswer.connection()); !list.empty())
        err << "klinediag-cli: " << list;
    return rc;
  };
  const CliSession::End end = s.runJob(job, global_.limitMs);
  const LinkStatus link = s.link();
  s.finish();
  s.core().closeRecords();
  recordsSaid.tell();

  switch (end) {
    case CliSession::End::Lost:
      return 1;
    case CliSession::End::OutputClosed:
      // Nobody reads what would be printed: the session, its visit and records ended as for
      // Ctrl+C, and nothing more is said.
      return kClosedOutputExit;
    case CliSession::End::Interrupted:
      if (job.endsOnInterrupt()) return 0;
      err << "klinediag-cli: interrupted\n";
      return 130;
    case CliSession::End::NoAnswer:
      // The link's own words name the port and what to check, when it has heard nothing.
      if (link.state == LinkState::Live)
        err << "klinediag-cli: no answer from the ECU on " << device << " within "
            << global_.limitMs / 1000 << " s\n";
      else
        err << "klinediag-cli: " << link.text << "\n";
      giveUp(1);
      return 1;
    case CliSession::End::Done:
      break;
  }
  // A job done without a word from the ECU (a P8 polled round with nothing in it) gives up too.
  return giveUp(job.print(device, out, err));
}

}  // namespace kline
