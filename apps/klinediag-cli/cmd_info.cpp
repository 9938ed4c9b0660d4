// The info subcommand: the identification and calibration records, from the session's
// identification events.
#include <nlohmann/json.hpp>
#include <vector>

#include "scriptedaction.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

namespace {

using nlohmann::json;

const Example kInfoExamples[] = {
    {"klinediag-cli info --port sim --virtual-time",
     "The built-in simulated ECU's iso code, identification and calibration, in milliseconds."},
    {"klinediag-cli info --port /dev/ttyUSB0 --ecu 16m --json",
     "A 16m's records on a real adapter, as JSON."},
};

class InfoJob : public SessionJob {
 public:
  explicit InfoJob(const JobOptions& o) : json_(o.format == "json") {}

  std::string prepare(CliSession& s) override {
    // The calibration is read with the identification.
    s.guarded([&] { PlayAction(s.form().ctl, ActionFor(UserAction::AskCalibration)); });
    return {};
  }

  // Done with the calibration, or once the poll loop runs: both records have been asked for.
  bool step(CliSession& /*s*/) override { return !id_.calibration.empty() || polled(); }

  int print(const std::string& device, std::ostream& out, std::ostream& err) override {
    // The lines of the window's information pane.
    std::vector<std::string> lines;
    if (!id_.isoCode.empty()) lines.push_back("Iso Code    : " + id_.isoCode);
    if (!id_.identification.empty()) lines.push_back("ecu data    : " + id_.identification);
    if (!id_.calibration.empty()) lines.push_back("calibration : " + id_.calibration);
    auto orNull = [](const std::string& s) { return s.empty() ? json(nullptr) : json(s); };
    if (json_) {
      json j = {{"port", device}, {"ecu", ecu_}, {"lines", lines}};
      j["iso_code"] = orNull(id_.isoCode);
      j["identification"] = orNull(id_.identification);
      j["calibration"] = orNull(id_.calibration);
      j["trusted"] = id_.trusted;
      out << j.dump(2) << "\n";
    } else {
      for (const auto& l : lines) out << l << "\n";
    }
    if (id_.identification.empty() || id_.calibration.empty()) {
      err << "klinediag-cli: the "
          << (id_.identification.empty() ? "identification" : "calibration") << " record from "
          << device << " is incomplete (the ECU stopped answering)\n";
      return 1;
    }
    if (!id_.trusted) {
      err << "klinediag-cli: " << UntrustedReason(device, "the ECU was identified") << "\n";
      return 1;
    }
    return 0;
  }

 protected:
  void on(const SessionEvent& e) override {
    if (const auto* id = std::get_if<ev::EcuIdentified>(&e)) id_ = *id;
    // A new connection starts a new identification.
    if (std::holds_alternative<ev::Connecting>(e)) id_ = {};
  }

 private:
  bool json_;
  ev::EcuIdentified id_;
};

}  // namespace

std::unique_ptr<SessionJob> MakeInfoJob(const JobOptions& o) {
  return std::make_unique<InfoJob>(o);
}

std::unique_ptr<Command> AddInfo(CLI::App& program, GlobalOptions& global) {
  return std::make_unique<SessionCommand>(
      program, global, "info", "Connect, read the identification and calibration, print",
      kInfoExamples, [](const JobOptions& o, std::ostream&) { return MakeInfoJob(o); });
}

}  // namespace kline
