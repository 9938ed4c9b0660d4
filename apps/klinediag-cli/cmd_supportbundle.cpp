// The support-bundle subcommand: one zip archive of what the program saw on this machine.
#include <algorithm>
#include <filesystem>

#include "bundle/supportbundlewriter.h"
#include "bundle/ziparchive.h"
#include "connection/portfield.h"
#include "platform/adaptercheck.h"
#include "platform/lastadaptercheck.h"
#include "platform/machineparts.h"
#include "platform/programabout.h"
#include "records/recordstore.h"
#include "serial/filepath.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

namespace {

// How long the short connection waits for the ECU without progress, in ms of line time.
constexpr uint64_t kConnectLimitMs = 30000;

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

class SupportBundleCommand : public Command {
 public:
  SupportBundleCommand(CLI::App& program, GlobalOptions& global) : global_(global) {
    CLI::App& app =
        addSubcommand(program, "support-bundle",
                      "Write one zip archive of what the program saw here, for whoever helps you",
                      kBundleExamples, kBundleMore);
    app.add_option("file", file_, "The archive to write (FILE.zip)")->required();
    using Name = GlobalOptions::Name;
    global.add(app, Name::Port,
               "Port field: a number, a device name or path, or sim (default: the remembered "
               "one)");
    global.add(app, Name::Ecu);
    global.add(app, Name::Settings, "Settings file to load and include");
    global.add(app, Name::VirtualTime, "Run on virtual time (with --port sim)");
    global.add(app, Name::Sim);
    app.add_flag("--no-connect", noConnect_,
                 "Do not connect first: the bundle has no fresh events");
    app.add_flag("--with-records", withRecords_,
                 "Include a copy of the bike records file (off by default)");
    global.add(app, Name::Records, "The records file for --with-records (default: the user's)");
  }
  int run(std::ostream& out, std::ostream& err) override;

 private:
  GlobalOptions& global_;
  std::string file_;
  // The records file's copy, or no connection first.
  bool withRecords_ = false;
  bool noConnect_ = false;
};

}  // namespace

std::unique_ptr<Command> AddSupportBundle(CLI::App& program, GlobalOptions& global) {
  return std::make_unique<SupportBundleCommand>(program, global);
}

int SupportBundleCommand::run(std::ostream& out, std::ostream& err) {
  auto usage = [&](const std::string& why) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  };
  if (!ZipArchivesAvailable()) {
    err << "klinediag-cli: " << WriteZipArchive(file_, {}) << "\n";
    return 1;
  }
  auto sim = std::make_shared<SimConfig>();
  if (std::string why = global_.check(*sim); !why.empty()) return usage(why);

  CliSession s(global_.setup(sim, true), err);
  SignalScope onSignals(s.qhost());
  if (std::string why = s.load(); !why.empty()) return usage(why);
  const std::string port = s.form().portText();
  if (!noConnect_ && !port.empty()) {
    // A real port is free before Connect: the cable is checked first, and the check kept.
    if (ParsePortField(port).kind != PortField::Kind::Sim) {
      const AdapterReport r = CheckAdapterAndKeep(port);
      err << "klinediag-cli: adapter check on " << port << ": "
          << (!r.opened() ? "did not open"
              : r.ok()    ? "echo good"
                          : "echo not good")
          << "\n";
    }
    err << "klinediag-cli: " << s.portAndEcu() << "\n";
    // The identification, as `info` reads it: fresh events, logs and link history.
    JobOptions jo;
    SessionJob& job = s.own(MakeInfoJob(jo));
    if (std::string why = job.prepare(s); !why.empty()) return usage(why);
    if (s.connect()) {
      const CliSession::End end = s.runJob(job, kConnectLimitMs);
      if (end == CliSession::End::Interrupted) {
        err << "klinediag-cli: interrupted\n";
        return 130;
      }
      if (end != CliSession::End::Done)
        err << "klinediag-cli: " << s.link().text << " (the bundle tells what was seen)\n";
    }
    s.guarded([&] { s.core().disconnect(); });
  }

  SupportBundleParts parts;
  parts.created = LocalTimeText();
  AddMachineParts("klinediag-cli", parts);
  SessionBundleParts(s.core(), parts);
  s.finish();

  const std::string records =
      withRecords_ ? (global_.records ? *global_.records : records::DefaultRecordsPath())
                   : std::string();
  if (std::string why = WriteSupportBundle(file_, parts, records); !why.empty()) {
    err << "klinediag-cli: " << why << "\n";
    return 1;
  }
  // What the archive holds, as a listing of its files and their sizes.
  parts.recordsCopy = records;
  out << "support bundle written to " << file_ << ":\n";
  for (const BundleFile& f : SupportBundleFiles(parts)) {
    std::error_code ec;
    const std::uintmax_t size = f.fromPath.empty()
                                    ? f.data.size()
                                    : std::filesystem::file_size(PathFromUtf8(f.fromPath), ec);
    out << PadLeft(std::to_string(size), 9) << "  " << f.name << "\n";
  }
  return 0;
}

}  // namespace kline
