#include "subcommands.h"

#include <algorithm>

#include "clirecords.h"
#include "connection/connectchecklist.h"
#include "connection/ecutypes.h"
#include "connection/firstanswerwatch.h"
#include "connection/portfield.h"
#include "helptext.h"
#include "inputcheck.h"
#include "platform/seenports.h"
#include "sessionjob.h"

namespace kline {

namespace {

// The exit codes of the session subcommands.
const char* kCodes =
    "0 done; 1 the port did not open or was lost, no answer, a babbling line or no "
    "verdict; 2 a bad command line, an unknown test, or a test that clears the faults without "
    "--yes; 3 a fault is stored or the test said Erreur; 130 interrupted (live ends with 0).";

// The examples of each subcommand, for its --help and the man page.
const Example kPortsExamples[] = {
    {"klinediag-cli ports",
     "The serial ports the system sees, likely K-line cables first (marked *), with the number "
     "that --port takes."},
    {"klinediag-cli ports --json", "The same as JSON, for a script."},
};
const Example kCheckExamples[] = {
    {"klinediag-cli check-adapter --port /dev/ttyUSB0",
     "Writes the pattern at both rates and says per rate whether the echo came back."},
    {"klinediag-cli check-adapter --port 1 --json",
     "The first port of the list of 'klinediag-cli ports', as JSON."},
    {"klinediag-cli check-adapter --port /dev/ttyUSB0 --fix",
     "Sets the adapter's USB latency timer to 1 ms (as root, or where the system lets the user), "
     "then checks."},
};
const Example kInfoExamples[] = {
    {"klinediag-cli info --port sim --virtual-time",
     "The built-in simulated ECU's iso code, identification and calibration, in milliseconds."},
    {"klinediag-cli info --port /dev/ttyUSB0 --ecu 16m --json",
     "A 16m's records on a real adapter, as JSON."},
};
const Example kFaultsExamples[] = {
    {"klinediag-cli faults --port 1 --ecu 16m",
     "The thirteen fault lines and both immobiliser states; exit code 3 when a fault is stored."},
    {"klinediag-cli faults --port sim --virtual-time --json",
     "The same as JSON, each line with its fault flag."},
};
const Example kLiveExamples[] = {
    {"klinediag-cli live --port sim --count 20", "Twenty cycles of live values as a table."},
    {"klinediag-cli live --port sim --virtual-time --count 20 --format csv > l.csv",
     "A recording, which 'klinediag-cli --replay l.csv' and the window's chart read."},
    {"klinediag-cli live --port /dev/ttyUSB0 --ecu 16m --format json",
     "One JSON line per cycle until Ctrl+C."},
};
const Example kTestExamples[] = {
    {"klinediag-cli test fuel --port sim", "Runs the fuel pump test (80) of the 15m's list."},
    {"klinediag-cli test 81 --port /dev/ttyUSB0 --ecu p8 --json",
     "Runs test 81 of the P8's list and prints its verdict as JSON."},
    {"klinediag-cli test clear --port 1 --yes",
     "Erases the faults stored in the ECU: a test that clears them runs only with --yes."},
    {"klinediag-cli test fuel --port sim --mileage 23410",
     "Keeps the mileage with the visit in the records."},
};
const Example kRecordsExamples[] = {
    {"klinediag-cli records", "The bikes in the records, the most recently seen first."},
    {"klinediag-cli records --search smith",
     "The bikes whose name, registration, owner, notes or identification say smith."},
    {"klinediag-cli records show 3", "Bike 3's visits, the latest first."},
    {"klinediag-cli records visit 12",
     "Visit 12: the faults read, the tests run, the trimmer set, the live channels."},
    {"klinediag-cli records compare 12",
     "What changed from the bike's visit before 12: faults that appeared or cleared, the "
     "trimmer, the channel means."},
    {"klinediag-cli records name 3 \"Blue 900, AB-123-CD\"", "Names bike 3."},
    {"klinediag-cli records forget 3 --yes", "Removes bike 3 and all its visits."},
    {"klinediag-cli records export all.json", "Everything in the records as one JSON file."},
    {"klinediag-cli records backup copy.sqlite --records /srv/shop/records.sqlite",
     "A consistent copy of a shared records file, also while others write it."},
};
const Example kShowExamples[] = {
    {"klinediag-cli records show KL15M", "The visits of the bike whose identification says KL15M."},
    {"klinediag-cli records show 3 --json", "Bike 3 and its visits as JSON."},
};
const Example kVisitExamples[] = {
    {"klinediag-cli records visit 12 --json", "Visit 12 with everything kept of it, as JSON."},
};
const Example kCompareExamples[] = {
    {"klinediag-cli records compare 12", "Visit 12 beside the bike's visit before it."},
    {"klinediag-cli records compare 12 4", "Visit 12 beside visit 4."},
};
const Example kNameExamples[] = {
    {"klinediag-cli records name KL15M \"Red 600\"",
     "Names the bike whose identification says KL15M."},
};
const Example kForgetExamples[] = {
    {"klinediag-cli records forget 3 --yes",
     "Removes bike 3 and its visits, for a customer who asks: only with --yes."},
};
const Example kExportExamples[] = {
    {"klinediag-cli records export all.json", "Every bike and visit as one JSON file."},
};
const Example kBackupExamples[] = {
    {"klinediag-cli records backup records-2026-12-07.sqlite",
     "A consistent copy of the records file, made while others may write it."},
};

const Example kBundleExamples[] = {
    {"klinediag-cli support-bundle bundle.zip",
     "Checks the adapter on the remembered port, reads the identification, and writes the "
     "archive: version, system, ports, last adapter check, settings, the three logs, the last "
     "ten minutes of events and the link's history."},
    {"klinediag-cli support-bundle bundle.zip --port sim --ecu 15m --virtual-time",
     "The same on the built-in simulated ECU, in milliseconds."},
    {"klinediag-cli support-bundle bundle.zip --no-connect --with-records",
     "Without connecting, with a copy of the bike records."},
};
const char* kBundleMore =
    "An existing FILE is replaced, once the whole archive is written. The bike records are in "
    "it only with --with-records. Exit codes: 0 written (also when the ECU did not answer: the "
    "bundle tells what was seen); 1 the archive or the records copy could not be written; 2 a "
    "bad command line; 130 interrupted.";

const char* kRecordsCodes =
    "Exit codes of records: 0 done; 1 the records file is missing or cannot be read or written; "
    "2 a bad command line, no such bike or visit, or forget without --yes.";
const char* kRecordsMore =
    "The records file is the user's ("
    "~/.local/share/klinediag/records.sqlite; "
    "%LOCALAPPDATA%\\klinediag\\records.sqlite on Windows) unless --records names another. "
    "BIKE is a bike's number or a unique part of its name, registration or identification; N and "
    "M are visit numbers. Exit codes: 0 done; 1 the records file is missing or cannot be read or "
    "written; 2 a bad command line, no such bike or visit, or forget without --yes.";

// What to check after a connection that never heard the ECU, for stderr.
std::string ChecklistText(const ev::Connecting& c) {
  const std::optional<ConnectChecklist> list = NoAnswerChecklist(
      c, "The simulated ECU has no adapter to check.",
      "Check its echo (no ECU needed): klinediag-cli check-adapter --port " + c.port);
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

Subcommands::Subcommands(CLI::App& app) {
  ports_ = app.add_subcommand("ports", "List the serial ports, likely K-line cables first");
  ports_->add_flag("--json", o_.json, "Print JSON");
  help_.push_back({ports_, kPortsExamples, nullptr});

  check_ = app.add_subcommand(
      "check-adapter",
      "Check the cable: write a pattern at 1200 and 7812 baud and read the echo (no ECU needed)");
  check_->add_option("--port", o_.port, "The adapter's port: a number, a device name or path")
      ->required();
  check_->add_flag("--json", o_.json, "Print JSON");
  check_->add_flag("--fix", o_.fix,
                   "First set the adapter's USB latency timer to 1 ms (Linux; FTDI chips)");
  help_.push_back({check_, kCheckExamples,
                   "Sends 5A A5 3C C3, bytes the window never sends to an ECU. Exit 0 when the "
                   "echo is good at both rates, 1 otherwise, or when --fix may not set the "
                   "timer."});

  info_ = app.add_subcommand("info", "Connect, read the identification and calibration, print");
  faults_ = app.add_subcommand("faults", "Connect, read the fault bytes and the immobiliser state");
  live_ = app.add_subcommand("live", "Connect and print the live values, one line per cycle");
  test_ = app.add_subcommand("test", "Connect and run one actuator test of the ECU type's list");
  for (CLI::App* s : {info_, faults_, live_, test_}) {
    s->add_option("--port", o_.port,
                  "Port field: a number from 1 to 32767, a device name or path, or sim");
    s->add_option("--ecu", o_.ecu, "ECU type: " + EcuCliNamesText())
        ->check(CLI::IsMember(EcuCliNames(), CLI::ignore_case));
    s->add_option("--settings", o_.settings, "Settings file to load and write");
    s->add_flag("--virtual-time", o_.virtualTime,
                "Run on virtual time (with --port sim): runs until the job is done");
    s->add_option("--sim", o_.simFile, "JSON description of the simulated ECU (at most 1 MiB)");
    s->add_option("--timeout", o_.limitMs,
                  "Give up after MS ms of line time without an answer (default 120000)")
        ->check(CLI::Range(uint64_t{1}, uint64_t{604800000}));
    s->add_flag("--json", o_.json, "Print JSON");
    s->add_option("--records", o_.records,
                  "Keep the visit in this records file (default: the user's records file)")
        ->type_name("FILE");
    s->add_flag("--no-records", o_.noRecords, "Keep no record of the visit");
    s->add_option("--mileage", o_.mileage, "The bike's mileage in km, kept with the visit")
        ->type_name("KM")
        ->check(CLI::Range(0, 9999999));
  }
  live_
      ->add_option("--count", o_.count, "Stop after N cycles (default: Ctrl+C; 10 on virtual time)")
      ->check(CLI::Range(uint64_t{1}, uint64_t{1000000000}));
  live_
      ->add_option("--format", o_.format,
                   "table, csv (as a --csv recording, which --replay reads) or json (JSON Lines; "
                   "as --json)")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  test_->add_option("test", o_.test, "The test's code (80) or a unique part of its name (fuel)")
      ->required();
  test_->add_flag("--yes", o_.yes,
                  "Run it also when it erases the faults stored in the ECU (Clear DTC)");
  records_ = app.add_subcommand("records",
                                "The bikes in the records, or one of the records "
                                "subcommands below");
  records_->require_subcommand(0, 1);
  struct Child {
    const char* name;
    const char* what;
    RecordsKind kind;
    std::span<const Example> examples;
  };
  const Child children[] = {
      {"show", "A bike and its visits", RecordsKind::Show, kShowExamples},
      {"visit", "One visit: readouts, tests, changes, live channels, files", RecordsKind::Visit,
       kVisitExamples},
      {"compare", "What changed from one visit to another", RecordsKind::Compare, kCompareExamples},
      {"name", "Name a bike", RecordsKind::Name, kNameExamples},
      {"forget", "Remove a bike and its visits (with --yes)", RecordsKind::Forget, kForgetExamples},
      {"export", "Write every bike and visit to a JSON file", RecordsKind::Export, kExportExamples},
      {"backup", "Copy the records file consistently (also while others write it)",
       RecordsKind::Backup, kBackupExamples},
  };
  recordsKinds_.push_back({records_, RecordsKind::Bikes});
  help_.push_back({records_, kRecordsExamples, kRecordsMore});
  records_->add_option("--search", o_.search,
                       "Only the bikes whose name, registration, owner, notes, identification "
                       "or calibration hold TEXT (any case)");
  for (const Child& c : children) {
    CLI::App* a = records_->add_subcommand(c.name, c.what);
    recordsKinds_.push_back({a, c.kind});
    help_.push_back({a, c.examples, kRecordsCodes});
    switch (c.kind) {
      case RecordsKind::Show:
      case RecordsKind::Name:
      case RecordsKind::Forget:
        a->add_option("bike", o_.bike,
                      "The bike's number or a unique part of its name, "
                      "registration or identification")
            ->required();
        break;
      case RecordsKind::Visit:
      case RecordsKind::Compare:
        a->add_option("visit", o_.visit, "The visit's number")
            ->required()
            ->check(CLI::PositiveNumber);
        break;
      case RecordsKind::Export:
      case RecordsKind::Backup:
        a->add_option("file", o_.file, "The file to write")->required();
        break;
      case RecordsKind::Bikes:
        break;
    }
    if (c.kind == RecordsKind::Compare)
      a->add_option("other", o_.other, "The visit to compare with (default: the one before)")
          ->check(CLI::PositiveNumber);
    if (c.kind == RecordsKind::Name) a->add_option("text", o_.text, "The name")->required();
    if (c.kind == RecordsKind::Forget)
      a->add_flag("--yes", o_.yes, "Remove it: without --yes nothing is removed");
  }
  for (auto& [a, kind] : recordsKinds_) {
    a->add_option("--records", o_.records, "The records file (default: the user's)")
        ->type_name("FILE");
    a->add_flag("--json", o_.json, "Print JSON");
  }

  bundle_ = app.add_subcommand(
      "support-bundle",
      "Write one zip archive of what the program saw here, for whoever helps you");
  bundle_->add_option("file", o_.file, "The archive to write (FILE.zip)")->required();
  bundle_->add_option("--port", o_.port,
                      "Port field: a number, a device name or path, or sim (default: the "
                      "remembered one)");
  bundle_->add_option("--ecu", o_.ecu, "ECU type: " + EcuCliNamesText())
      ->check(CLI::IsMember(EcuCliNames(), CLI::ignore_case));
  bundle_->add_option("--settings", o_.settings, "Settings file to load and include");
  bundle_->add_flag("--virtual-time", o_.virtualTime, "Run on virtual time (with --port sim)");
  bundle_->add_option("--sim", o_.simFile, "JSON description of the simulated ECU (at most 1 MiB)");
  bundle_->add_flag("--no-connect", o_.noConnect,
                    "Do not connect first: the bundle has no fresh events");
  bundle_->add_flag("--with-records", o_.withRecords,
                    "Include a copy of the bike records file (off by default)");
  bundle_
      ->add_option("--records", o_.records,
                   "The records file for --with-records (default: the user's)")
      ->type_name("FILE");
  help_.push_back({bundle_, kBundleExamples, kBundleMore});

  const std::string codes = std::string("Exit codes: ") + kCodes;
  help_.push_back({info_, kInfoExamples, nullptr, true});
  help_.push_back({faults_, kFaultsExamples, nullptr, true});
  help_.push_back({live_, kLiveExamples, nullptr, true});
  help_.push_back({test_, kTestExamples, nullptr, true});
  // Each subcommand's help has its own examples, not the program's.
  for (const Help& h : help_) {
    const char* more = h.session ? codes.c_str() : h.more;
    h.app->footer(HelpExamples(h.examples) + (more ? HelpParagraphs({&more, 1}) : ""));
  }
}

std::string Subcommands::manSection() const {
  std::string out = "Each subcommand has its own \\-\\-help with its options and examples.\n";
  for (const Help& h : help_) {
    // A records subcommand by its whole words: "records show".
    const CLI::App* parent = h.app->get_parent();
    const std::string name = parent && parent->get_parent()
                                 ? parent->get_name() + " " + h.app->get_name()
                                 : h.app->get_name();
    out += ".SS " + Roff(name) + "\n" + Roff(h.app->get_description()) + "\n" + ManOptions(*h.app) +
           ".PP\nExamples:\n" + ManExamples(h.examples);
    if (h.more) out += ManParagraphs({&h.more, 1});
  }
  return out + ".PP\n" + Roff(std::string("Exit codes of info, faults, live and test: ") + kCodes) +
         "\n";
}

std::optional<int> Subcommands::run(std::ostream& out, std::ostream& err) {
  if (ports_->parsed()) return runPorts(out);
  if (check_->parsed()) return runCheckAdapter(out, err);
  if (info_->parsed()) return runSession(Kind::Info, out, err);
  if (faults_->parsed()) return runSession(Kind::Faults, out, err);
  if (live_->parsed()) return runSession(Kind::Live, out, err);
  if (test_->parsed()) return runSession(Kind::Test, out, err);
  if (bundle_->parsed()) return runSupportBundle(out, err);
  // The deepest chosen first: "records show" before "records".
  for (auto it = recordsKinds_.rbegin(); it != recordsKinds_.rend(); ++it)
    if (it->first->parsed()) return runRecords(it->second, out, err);
  return std::nullopt;
}

int Subcommands::runSession(Kind kind, std::ostream& out, std::ostream& err) {
  auto usage = [&](const std::string& why) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  };
  if (o_.port)
    if (std::string why = CheckPortArgument(*o_.port); !why.empty()) return usage(why);
  auto sim = std::make_shared<SimConfig>();
  if (std::string why = LoadSimConfig(o_.simFile, *sim); !why.empty()) return usage(why);

  JobOptions jo;
  jo.format = o_.json ? "json" : o_.format;
  jo.count = o_.count;
  if (kind == Kind::Live && !jo.count && o_.virtualTime) jo.count = 10;
  jo.test = o_.test;
  jo.yes = o_.yes;

  // The visit is kept in the records as the session goes, unless told not to; what the keeper
  // says is told as the session goes and at its end.
  CliRecords recordsSaid(err);
  SessionSetup setup;
  setup.port = o_.port;
  setup.ecu = o_.ecu;
  setup.settings = o_.settings;
  setup.virtualTime = o_.virtualTime;
  setup.sim = sim;
  if (!o_.noRecords) {
    setup.records = recordsSaid.options(o_.records ? *o_.records : records::DefaultRecordsPath());
    setup.mileage = o_.mileage;
  }
  CliSession s(std::move(setup), err);
  // From here a signal ends the job as it should, also one that comes while it starts.
  SignalScope onSignals(s.qhost());
  SessionJob& job = s.own(kind == Kind::Info     ? MakeInfoJob(jo)
                          : kind == Kind::Faults ? MakeFaultsJob(jo)
                          : kind == Kind::Live   ? MakeLiveJob(jo, out)
                                                 : MakeTestJob(jo));
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

  // After the words of a session that failed without ever hearing the ECU: what to check.
  auto giveUp = [&](int rc) {
    if (rc != 0 && !firstAnswer.answered())
      if (const std::string list = ChecklistText(firstAnswer.connection()); !list.empty())
        err << "klinediag-cli: " << list;
    return rc;
  };
  const CliSession::End end = s.runJob([&] { return job.step(s); }, o_.limitMs);
  const LinkStatus link = s.link();
  s.finish();
  s.core().closeRecords();
  recordsSaid.tell();

  switch (end) {
    case CliSession::End::Lost:
      return 1;
    case CliSession::End::Interrupted:
      if (job.endsOnInterrupt()) return 0;
      err << "klinediag-cli: interrupted\n";
      return 130;
    case CliSession::End::NoAnswer:
      // The link's own words name the port and what to check, when it has heard nothing.
      if (link.state == LinkState::Live)
        err << "klinediag-cli: no answer from the ECU on " << device << " within "
            << o_.limitMs / 1000 << " s\n";
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
