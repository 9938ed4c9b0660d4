// The check-adapter subcommand: the cable's echo at both rates, without an ECU.
#include <nlohmann/json.hpp>

#include "connection/portfield.h"
#include "inputcheck.h"
#include "platform/adaptercheck.h"
#include "platform/lastadaptercheck.h"
#include "platform/portlist.h"
#include "platform/qtserialportadapter.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

using nlohmann::json;

// A rate's outcome in JSON: a word for scripts, as the other outputs' values are.
const char* OutcomeCode(AdapterRateResult::Outcome o) {
  switch (o) {
    case AdapterRateResult::Outcome::EchoOk:
      return "echo_ok";
    case AdapterRateResult::Outcome::NoEcho:
      return "no_echo";
    case AdapterRateResult::Outcome::Garbled:
      return "garbled_echo";
    case AdapterRateResult::Outcome::RateRefused:
      return "rate_refused";
  }
  return "no_echo";
}

namespace {

const Example kCheckExamples[] = {
    {"klinediag-cli check-adapter --port /dev/ttyUSB0",
     "Writes the pattern at both rates and says per rate whether the echo came back."},
    {"klinediag-cli check-adapter --port 1 --json",
     "The first port of the list of 'klinediag-cli ports', as JSON."},
    {"klinediag-cli check-adapter --port /dev/ttyUSB0 --fix",
     "Sets the adapter's USB latency timer to 1 ms (as root, or where the system lets the user), "
     "then checks."},
};

class CheckAdapterCommand : public Command {
 public:
  CheckAdapterCommand(CLI::App& program, GlobalOptions& global) : global_(global) {
    CLI::App& app = addSubcommand(
        program, "check-adapter",
        "Check the cable: write a pattern at 1200 and 7812 baud and read the echo (no ECU needed)",
        kCheckExamples,
        "Sends 5A A5 3C C3, bytes the window never sends to an ECU. Exit 0 when the echo is good "
        "at both rates, 1 otherwise, or when --fix may not set the timer.");
    global.add(app, GlobalOptions::Name::Port,
               "The adapter's port: a number, a device name or path");
    global.add(app, GlobalOptions::Name::Json);
    app.add_flag("--fix", fix_,
                 "First set the adapter's USB latency timer to 1 ms (Linux; FTDI chips)");
  }
  int run(std::ostream& out, std::ostream& err) override;

 private:
  // check-adapter --fix: sets the port's latency timer to 1 ms; 0 when set (or nothing to set).
  int fixLatencyTimer(std::ostream& out, std::ostream& err);

  GlobalOptions& global_;
  bool fix_ = false;  // set the latency timer first
};

}  // namespace

std::unique_ptr<Command> AddCheckAdapter(CLI::App& program, GlobalOptions& global) {
  return std::make_unique<CheckAdapterCommand>(program, global);
}

int CheckAdapterCommand::run(std::ostream& out, std::ostream& err) {
  // Before or after the subcommand's name.
  if (!global_.port) {
    err << "klinediag-cli: --port is required (see --help)\n";
    return 2;
  }
  const std::string port = *global_.port;
  if (std::string why = CheckPortArgument(port); !why.empty()) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  }
  if (ParsePortField(port).kind == PortField::Kind::Sim) {
    err << "klinediag-cli: check-adapter needs a serial device; sim is the built-in simulated ECU "
           "(see --help)\n";
    return 2;
  }
  if (fix_) {
    if (int rc = fixLatencyTimer(out, err); rc != 0) return rc;
  }
  // A support bundle tells the last check later.
  const AdapterReport r = CheckAdapterAndKeep(port);
  if (!r.opened()) {
    err << "klinediag-cli: cannot open port " << r.device << ": " << r.openError << "\n";
    return 1;
  }
  if (global_.json) {
    json rates = json::array();
    for (const auto& x : r.rates) {
      rates.push_back({{"baud", x.baud},
                       {"outcome", OutcomeCode(x.outcome)},
                       {"received", ToHex(x.received)},
                       {"round_trip_ms", x.roundTripMs},
                       {"unasked_bytes", x.unasked}});
    }
    json j = {{"port", r.device},
              {"sent", ToHex(AdapterCheck::Pattern())},
              {"rates", rates},
              {"ok", r.ok()}};
    j["low_latency"] = r.lowLatency ? json(*r.lowLatency) : json(nullptr);
    j["latency_timer_ms"] = r.latencyTimerMs ? json(*r.latencyTimerMs) : json(nullptr);
    const std::optional<double> added = LatencyTimerAddedMs(r);
    j["latency_timer_added_ms"] = added ? json(*added) : json(nullptr);
    j["usb_id"] = r.usbId.empty() ? json(nullptr) : json(r.usbId);
    j["driver"] = r.driver.empty() ? json(nullptr) : json(r.driver);
    j["chip"] = r.chip ? json(std::string(r.chip->name)) : json(nullptr);
    j["chip_notes"] = ChipNotes(r.chip);
    out << j.dump(2) << "\n";
  } else {
    for (const auto& line : DescribeAdapterReport(r)) out << line << "\n";
  }
  return r.ok() ? 0 : 1;
}

int CheckAdapterCommand::fixLatencyTimer(std::ostream& out, std::ostream& err) {
  QString why;
  const QString device = QtSerialPortAdapter::ResolveDevice(
      QString::fromStdString(*global_.port), QtSerialPortAdapter::AvailablePorts(), &why);
  if (device.isEmpty()) {
    err << "klinediag-cli: " << why.toStdString() << "\n";
    return 1;
  }
  const UsbPortFacts f = PortList::UsbFactsOf(device.toStdString());
  // What --fix says goes to stderr with --json, so that stdout stays one document.
  std::ostream& say = global_.json ? err : out;
  if (f.latencyTimerFile.empty()) {
    say << "latency timer: " << device.toStdString()
        << " has none that this system shows (nothing to set)\n";
    return 0;
  }
  if (f.latencyTimerMs == 1) {
    say << "latency timer: already 1 ms\n";
    return 0;
  }
  if (std::string failed = f.setLatencyTimer(1); !failed.empty()) {
    err << "klinediag-cli: cannot set the latency timer: " << failed
        << "; as root it takes: echo 1 | sudo tee " << f.latencyTimerFile.string() << "\n";
    return 1;
  }
  say << "latency timer: set to 1 ms"
      << (f.latencyTimerMs ? " (was " + std::to_string(*f.latencyTimerMs) + " ms)" : "")
      << "; it returns to the driver's default when the adapter is plugged in again, unless the "
         "package's udev rule is installed\n";
  return 0;
}

}  // namespace kline
