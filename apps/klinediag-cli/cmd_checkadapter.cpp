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

int Subcommands::runCheckAdapter(std::ostream& out, std::ostream& err) {
  if (std::string why = CheckPortArgument(*o_.port); !why.empty()) {
    err << "klinediag-cli: " << why << " (see --help)\n";
    return 2;
  }
  if (ParsePortField(*o_.port).kind == PortField::Kind::Sim) {
    err << "klinediag-cli: check-adapter needs a serial device; sim is the built-in simulated ECU "
           "(see --help)\n";
    return 2;
  }
  if (o_.fix) {
    if (int rc = fixLatencyTimer(out, err); rc != 0) return rc;
  }
  // A support bundle tells the last check later.
  const AdapterReport r = CheckAdapterAndKeep(*o_.port);
  if (!r.opened()) {
    err << "klinediag-cli: cannot open port " << r.device << ": " << r.openError << "\n";
    return 1;
  }
  if (o_.json) {
    json rates = json::array();
    for (const auto& x : r.rates) {
      std::string got;
      for (char c : x.received) got += (got.empty() ? "" : " ") + HexByte(static_cast<uint8_t>(c));
      rates.push_back({{"baud", x.baud},
                       {"outcome", OutcomeName(x.outcome)},
                       {"received", got},
                       {"round_trip_ms", x.roundTripMs},
                       {"unasked_bytes", x.unasked}});
    }
    std::string sent;
    for (char c : AdapterCheck::Pattern())
      sent += (sent.empty() ? "" : " ") + HexByte(static_cast<uint8_t>(c));
    json j = {{"port", r.device}, {"sent", sent}, {"rates", rates}, {"ok", r.ok()}};
    j["low_latency"] = r.lowLatency ? json(*r.lowLatency) : json(nullptr);
    j["latency_timer_ms"] = r.latencyTimerMs ? json(*r.latencyTimerMs) : json(nullptr);
    const std::optional<double> added = LatencyTimerAddedMs(r);
    j["latency_timer_added_ms"] = added ? json(*added) : json(nullptr);
    j["usb_id"] = r.usbId;
    j["driver"] = r.driver;
    j["chip"] = r.chip ? json(std::string(r.chip->name)) : json(nullptr);
    j["chip_notes"] = ChipNotes(r.chip);
    out << j.dump(2) << "\n";
  } else {
    for (const auto& line : DescribeAdapterReport(r)) out << line << "\n";
  }
  return r.ok() ? 0 : 1;
}

int Subcommands::fixLatencyTimer(std::ostream& out, std::ostream& err) {
  QString why;
  const QString device = QtSerialPortAdapter::ResolveDevice(
      QString::fromStdString(*o_.port), QtSerialPortAdapter::AvailablePorts(), &why);
  if (device.isEmpty()) {
    err << "klinediag-cli: " << why.toStdString() << "\n";
    return 1;
  }
  const UsbPortFacts f = PortList::UsbFactsOf(device.toStdString());
  // What --fix says goes to stderr with --json, so that stdout stays one document.
  std::ostream& say = o_.json ? err : out;
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
