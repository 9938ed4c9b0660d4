// The faults subcommand: presses the fault readout and both immobiliser readouts as a user
// would, and prints the readouts the session published.
#include <nlohmann/json.hpp>

#include "scriptedaction.h"
#include "session/eventjsonlines.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

namespace {

using nlohmann::json;

const Example kFaultsExamples[] = {
    {"klinediag-cli faults --port 1 --ecu 16m",
     "The thirteen fault lines and both immobiliser states; exit code 3 when a fault is stored."},
    {"klinediag-cli faults --port sim --virtual-time --json",
     "The same as JSON, each line with its fault flag."},
};

class FaultsJob : public SessionJob {
 public:
  explicit FaultsJob(const JobOptions& o) : json_(o.format == "json") {}

  bool step(CliSession& s) override {
    if (!ready(s)) return false;
    faults_.reset();
    immo_.reset();
    immo2_.reset();
    for (UserAction a :
         {UserAction::ReadFaults, UserAction::ReadImmobiliser, UserAction::ReadImmobiliser2})
      PlayAction(s.form().ctl, ActionFor(a));
    return true;
  }

  int print(const std::string& device, std::ostream& out, std::ostream& err) override {
    if (!faults_) {
      err << "klinediag-cli: no answer to the fault readout on " << device << "\n";
      return 1;
    }
    const auto& b = faults_->bytes;
    const bool set = faults_->faultStored;
    // Each line with its fault flag, trimmed. A state the ECU did not answer is null; one without a
    // set bit an empty list.
    auto lines = [](const std::optional<Readout>& r) {
      if (!r) return json(nullptr);
      json a = json::array();
      for (std::size_t i = 0; i < r->lines.size(); ++i)
        a.push_back(
            {{"text", JsonTrimmed(r->lines[i])}, {"fault", i < r->fault.size() && r->fault[i]}});
      return a;
    };
    bool trusted = faults_->trusted;
    for (const auto* r : {&immo_, &immo2_})
      if (*r && !(*r)->trusted) trusted = false;
    if (json_) {
      json j = {{"port", device},
                {"ecu", ecu_},
                {"code", HexByte(faults_->code)},
                {"bytes", ReadoutHexBytes(*faults_)},
                {"faults", lines(faults_)},
                {"fault_stored", set},
                {"immobiliser", lines(immo_)},
                {"immobiliser2", lines(immo2_)},
                {"trusted", trusted}};
      out << j.dump(2) << "\n";
    } else {
      for (const auto& l : faults_->lines) out << l << "\n";
      printState(out, "immobiliser", immo_);
      printState(out, "immobiliser 2", immo2_);
      out << "fault bytes 0F=" << HexByte(b[0]) << " 10=" << HexByte(b[1])
          << " 11=" << HexByte(b[2]) << ": " << (set ? "a fault is stored" : "no fault") << "\n";
    }
    if (!trusted) {
      err << "klinediag-cli: " << UntrustedReason(device, "the faults were read") << "\n";
      return 1;
    }
    return set ? 3 : 0;
  }

 protected:
  void on(const SessionEvent& e) override {
    const auto* done = std::get_if<ev::ReadoutDone>(&e);
    if (!done) return;
    switch (done->readout.kind) {
      case ReadoutKind::Faults:
        faults_ = done->readout;
        break;
      case ReadoutKind::Immobiliser:
        immo_ = done->readout;
        break;
      case ReadoutKind::Immobiliser2:
        immo2_ = done->readout;
        break;
      case ReadoutKind::Diag:
        break;
    }
  }

 private:
  static void printState(std::ostream& out, const char* title, const std::optional<Readout>& r) {
    if (!r) {
      out << title << ": no answer\n";
      return;
    }
    for (const auto& l : r->lines) out << title << ": " << l << "\n";
    if (r->lines.empty()) out << title << ": no state bit set\n";
  }

  bool json_;
  std::optional<Readout> faults_, immo_, immo2_;
};

}  // namespace

std::unique_ptr<SessionJob> MakeFaultsJob(const JobOptions& o) {
  return std::make_unique<FaultsJob>(o);
}

std::unique_ptr<Command> AddFaults(CLI::App& program, GlobalOptions& global) {
  return std::make_unique<SessionCommand>(
      program, global, "faults", "Connect, read the fault bytes and the immobiliser state",
      kFaultsExamples, [](const JobOptions& o, std::ostream&) { return MakeFaultsJob(o); });
}

}  // namespace kline
