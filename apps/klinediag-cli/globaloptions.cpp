#include "globaloptions.h"

#include "connection/ecutypes.h"
#include "inputcheck.h"

namespace kline {

namespace {

// What each shared option does, as the program's help says it.
std::string programWords(GlobalOptions::Name name) {
  using Name = GlobalOptions::Name;
  switch (name) {
    case Name::Port:
      return "Port field: a number from 1 to 32767, a device name or path, or sim";
    case Name::Ecu:
      return "ECU type: " + EcuCliNamesText();
    case Name::Settings:
      return "Settings file to load and write";
    case Name::VirtualTime:
      return "Run on virtual time (with --port sim): sleeps and time-outs cost nothing";
    case Name::Sim:
      return "JSON description of the simulated ECU (at most 1 MiB)";
    case Name::Events:
      return "Write every event as JSON Lines to FILE or - (stdout)";
    case Name::Timeout:
      return "Give up after MS ms of line time without an answer (default 120000)";
    case Name::Json:
      return "Print JSON";
    case Name::Records:
      return "The records file that a session keeps its visit in and records reads (default: the "
             "user's)";
    case Name::NoRecords:
      return "Keep no record of the visit";
    case Name::Mileage:
      return "The bike's mileage in km, kept with the visit";
    case Name::JoinVisits:
      return "A connection within HOURS hours of the bike's last visit, or on the same day, goes "
             "on with that visit; 0: every connection is a visit of its own (default: the "
             "settings' Records/JoinVisitsHours, else 4)";
  }
  return {};
}

// A command by the words that choose it: "info", "records show".
std::string commandName(const CLI::App& command) {
  const CLI::App* parent = command.get_parent();
  return parent && parent->get_parent() ? commandName(*parent) + " " + command.get_name()
                                        : command.get_name();
}

}  // namespace

CLI::Validator WholeNumberIn(uint64_t lo, uint64_t hi) {
  return CLI::Validator([lo, hi](std::string& text) { return CheckWholeNumber(text, lo, hi); },
                        "INT in [" + std::to_string(lo) + " - " + std::to_string(hi) + "]",
                        "whole number");
}

GlobalOptions::GlobalOptions(CLI::App& program) : program_(program) {
  for (Name name : {Name::Port, Name::Ecu, Name::Settings, Name::VirtualTime, Name::Sim,
                    Name::Events, Name::Timeout, Name::Json, Name::Records, Name::NoRecords,
                    Name::Mileage, Name::JoinVisits}) {
    CLI::Option* o = define(program, name, programWords(name));
    onProgram_[name] = o;
    if (name >= Name::Timeout) o->group("Options of the subcommands, also before their name");
  }
}

CLI::Option* GlobalOptions::define(CLI::App& app, Name name, const std::string& what) {
  switch (name) {
    case Name::Port:
      return app.add_option("--port", port, what);
    case Name::Ecu:
      return app.add_option("--ecu", ecu, what)
          ->check(CLI::IsMember(EcuCliNames(), CLI::ignore_case));
    case Name::Settings:
      return app.add_option("--settings", settings, what);
    case Name::VirtualTime:
      return app.add_flag("--virtual-time", virtualTime, what);
    case Name::Sim:
      return app.add_option("--sim", simFile, what);
    case Name::Events:
      return app.add_option("--events", events, what)->type_name("FILE");
    case Name::Timeout:
      return app.add_option("--timeout", limitMs, what)->check(WholeNumberIn(1, 604800000));
    case Name::Json:
      return app.add_flag("--json", json, what);
    case Name::Records:
      return app.add_option("--records", records, what)->type_name("FILE");
    case Name::NoRecords:
      return app.add_flag("--no-records", noRecords, what);
    case Name::Mileage:
      return app.add_option("--mileage", mileage, what)
          ->type_name("KM")
          ->check(WholeNumberIn(0, 9999999));
    case Name::JoinVisits:
      return app.add_option("--join-visits", joinHours, what)
          ->type_name("HOURS")
          ->check(WholeNumberIn(0, records::kMaxJoinHours));
  }
  return nullptr;
}

CLI::Option* GlobalOptions::add(CLI::App& command, Name name, const std::string& what) {
  CLI::Option* o = define(command, name, what.empty() ? programWords(name) : what);
  if (command.get_parent() == &program_) takers_[o->get_name()].push_back(&command);
  return o;
}

void GlobalOptions::takenWithoutSubcommand(std::initializer_list<Name> names) {
  for (Name n : names) withoutSubcommand_.insert(onProgram_.at(n)->get_name());
}

std::string GlobalOptions::refused(const CLI::App& program) const {
  // The commands the parse went through: the program, a subcommand, a subcommand of that.
  std::vector<const CLI::App*> chain{&program};
  while (!chain.back()->get_subcommands().empty())
    chain.push_back(chain.back()->get_subcommands().front());
  const CLI::App& chosen = *chain.back();
  if (chain.size() == 1) {
    for (const auto& shared : onProgram_) {
      const CLI::Option* o = shared.second;
      if (o->count() == 0 || withoutSubcommand_.contains(o->get_name())) continue;
      std::string takers;
      if (auto t = takers_.find(o->get_name()); t != takers_.end())
        for (const CLI::App* command : t->second)
          takers += (takers.empty() ? "" : ", ") + command->get_name();
      return o->get_name() + " needs a subcommand that takes it (" + takers + ")";
    }
    return {};
  }
  for (std::size_t i = 0; i + 1 < chain.size(); ++i)
    for (const CLI::Option* o : chain[i]->get_options()) {
      if (o->count() == 0) continue;
      const CLI::Option* own = chosen.get_option_no_throw(o->get_name());
      if (!own) return commandName(chosen) + " takes no " + o->get_name();
      if (own->count() > 0) return o->get_name() + " is given twice";
    }
  return {};
}

SessionSetup GlobalOptions::setup(std::shared_ptr<const SimConfig> sim, bool keepJournal) const {
  SessionSetup s;
  s.port = port;
  s.ecu = ecu;
  s.settings = settings;
  s.virtualTime = virtualTime;
  s.sim = std::move(sim);
  s.keepJournal = keepJournal;
  return s;
}

std::string GlobalOptions::check(SimConfig& sim) const {
  if (port)
    if (std::string why = CheckPortArgument(*port); !why.empty()) return why;
  return LoadSimConfig(simFile, sim);
}

}  // namespace kline
