// The test subcommand: selects one test of the main window's list as a user would, and prints
// its log and the verdict the session published.
#include <algorithm>
#include <nlohmann/json.hpp>
#include <vector>

#include "actuators/testlist.h"
#include "connection/ecutypes.h"
#include "scriptedaction.h"
#include "session/eventjsonlines.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

namespace {

using nlohmann::json;

const Example kTestExamples[] = {
    {"klinediag-cli test fuel --port sim", "Runs the fuel pump test (80) of the 15m's list."},
    {"klinediag-cli test 81 --port /dev/ttyUSB0 --ecu p8 --json",
     "Runs test 81 of the P8's list and prints its verdict as JSON."},
    {"klinediag-cli test clear --port 1 --yes",
     "Erases the faults stored in the ECU: a test that clears them runs only with --yes."},
    {"klinediag-cli test fuel --port sim --mileage 23410",
     "Keeps the mileage with the visit in the records."},
};

class TestJob : public SessionJob {
 public:
  explicit TestJob(const JobOptions& o) : json_(o.format == "json"), wanted_(o.test), yes_(o.yes) {}

  // The list holds the loaded ECU type's tests. One that erases the stored faults runs only when
  // the command line says so: nothing goes on the line otherwise.
  std::string prepare(CliSession& s) override {
    const TestList& list = *SelectedEcuTypeInfo(s.form().ctl).tests;
    items_.clear();
    for (const TestEntry& t : list) items_.emplace_back(t.text);
    std::string why;
    index_ = FindTest(items_, wanted_, why);
    if (index_ < 0) return why;
    const TestEntry& t = list[static_cast<std::size_t>(index_)];
    if (t.clearsFaults && !yes_)
      return "test " + Trim(t.text) + " erases the faults stored in the " + ecu_ +
             " ECU: add --yes to run it";
    return {};
  }

  bool step(CliSession& s) override {
    if (!ready(s)) return false;
    logging_ = true;
    PlayAction(s.form().ctl, ActionFor(UserAction::RunTest, index_));
    logging_ = false;
    return true;
  }

  int print(const std::string& device, std::ostream& out, std::ostream& err) override {
    const std::string name =
        Trim(started_ ? started_->name : items_[static_cast<std::size_t>(index_)]);
    const std::string shown = ended_ ? ended_->shown : std::string();
    if (json_) {
      // The verdict as the events and the records name it, and the window's words for it.
      json j = {{"port", device}, {"ecu", ecu_}, {"test", name}, {"log", log_}};
      j["code"] = started_ ? json(HexByte(static_cast<uint8_t>(started_->code))) : json(nullptr);
      j["verdict"] = ended_ ? json(ev::VerdictName(ended_->verdict)) : json(nullptr);
      j["text"] = shown.empty() ? json(nullptr) : json(JsonTrimmed(shown));
      out << j.dump(2) << "\n";
    } else {
      for (const auto& l : log_) out << l << "\n";
      out << "test " << name << ": " << (shown.empty() ? "no verdict" : shown) << "\n";
    }
    const ev::Verdict v = ended_ ? ended_->verdict : ev::Verdict::Unknown;
    if (v == ev::Verdict::Passed) return 0;
    if (v == ev::Verdict::Failed) return 3;
    err << "klinediag-cli: no verdict from the ECU on " << device << "\n";
    return 1;
  }

  void onLog(const std::string& w, const std::string& line) override {
    if (logging_ && w == "Form2") log_.push_back(line);
  }

 protected:
  void on(const SessionEvent& e) override {
    if (const auto* s = std::get_if<ev::TestStarted>(&e); s && s->window == "Form2") started_ = *s;
    if (const auto* d = std::get_if<ev::TestEnded>(&e); d && d->window == "Form2") ended_ = *d;
  }

 private:
  bool json_;
  std::string wanted_;
  bool yes_;
  std::vector<std::string> items_;
  int index_ = -1;
  bool logging_ = false;
  std::vector<std::string> log_;
  std::optional<ev::TestStarted> started_;
  std::optional<ev::TestEnded> ended_;
};

}  // namespace

int FindTest(const std::vector<std::string>& items, const std::string& wanted, std::string& why) {
  std::string list;
  for (const auto& i : items) list += (list.empty() ? "" : ", ") + Trim(i);
  const std::string w = AsciiLower(Trim(wanted));
  std::vector<int> hits;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::string item = AsciiLower(Trim(items[i]));
    const std::string code = item.substr(0, item.find(' '));
    // Its code, or its whole text as the list shows it.
    if (code == w || item == w) return static_cast<int>(i);
    if (!w.empty() && item.substr(code.size()).find(w) != std::string::npos)
      hits.push_back(static_cast<int>(i));
  }
  if (hits.size() == 1) return hits[0];
  why = (hits.empty() ? "no test '" + wanted + "'" : "'" + wanted + "' names several tests") +
        " (tests: " + list + ")";
  return -1;
}

std::unique_ptr<SessionJob> MakeTestJob(const JobOptions& o) {
  return std::make_unique<TestJob>(o);
}

std::unique_ptr<Command> AddTest(CLI::App& program, GlobalOptions& global) {
  auto test = std::make_unique<SessionCommand>(
      program, global, "test", "Connect and run one actuator test of the ECU type's list",
      kTestExamples, [](const JobOptions& o, std::ostream&) { return MakeTestJob(o); });
  JobOptions& o = test->options();
  test->app()
      .add_option("test", o.test, "The test's code (80) or a unique part of its name (fuel)")
      ->required();
  test->app().add_flag("--yes", o.yes,
                       "Run it also when it erases the faults stored in the ECU (Clear DTC)");
  return test;
}

}  // namespace kline
