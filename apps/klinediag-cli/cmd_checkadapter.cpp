// The check-adapter subcommand: the cable's echo at both rates, without an ECU.
#include <nlohmann/json.hpp>

#include "connection/portfield.h"
#include "inputcheck.h"
#include "platform/adaptercheck.h"
#include "platform/lastadaptercheck.h"
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
  AdapterReport r = AdapterCheck().run(*o_.port);
  // A support bundle tells the last check later.
  SaveLastAdapterCheck(*o_.port, r);
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
    out << j.dump(2) << "\n";
  } else {
    for (const auto& line : DescribeAdapterReport(r)) out << line << "\n";
  }
  return r.ok() ? 0 : 1;
}

}  // namespace kline
