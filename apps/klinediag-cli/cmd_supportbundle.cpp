// The support-bundle subcommand: one zip archive of what the program saw on this machine.
#include <algorithm>
#include <filesystem>

#include "bundle/supportbundlewriter.h"
#include "bundle/ziparchive.h"
#include "connection/portfield.h"
#include "inputcheck.h"
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

}  // namespace

int Subcommands::runSupportBundle(std::ostream& out, std::ostream& err) {
  auto usage = [&](const std::string& why) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  };
  if (!ZipArchivesAvailable()) {
    err << "klinediag-cli: " << WriteZipArchive(o_.file, {}) << "\n";
    return 1;
  }
  if (o_.port)
    if (std::string why = CheckPortArgument(*o_.port); !why.empty()) return usage(why);
  auto sim = std::make_shared<SimConfig>();
  if (std::string why = LoadSimConfig(o_.simFile, *sim); !why.empty()) return usage(why);

  SessionSetup setup;
  setup.port = o_.port;
  setup.ecu = o_.ecu;
  setup.settings = o_.settings;
  setup.virtualTime = o_.virtualTime;
  setup.sim = sim;
  setup.keepJournal = true;
  CliSession s(std::move(setup), err);
  SignalScope onSignals(s.qhost());
  if (std::string why = s.load(); !why.empty()) return usage(why);
  const std::string port = s.form().portText();
  if (!o_.noConnect && !port.empty()) {
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
      const CliSession::End end = s.runJob([&] { return job.step(s); }, kConnectLimitMs);
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
      o_.withRecords ? (o_.records ? *o_.records : records::DefaultRecordsPath()) : std::string();
  if (std::string why = WriteSupportBundle(o_.file, parts, records); !why.empty()) {
    err << "klinediag-cli: " << why << "\n";
    return 1;
  }
  // What the archive holds, as a listing of its files and their sizes.
  parts.recordsCopy = records;
  out << "support bundle written to " << o_.file << ":\n";
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
