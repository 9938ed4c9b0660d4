#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "clisession.h"
#include "sim/simconfig.h"

namespace kline {

// The longest a session subcommand waits for the ECU without progress, in ms of line time.
constexpr uint64_t kDefaultLimitMs = 120000;

// A check of a whole-number option (CheckWholeNumber) for CLI11, from `lo` to `hi`.
CLI::Validator WholeNumberIn(uint64_t lo, uint64_t hi);

// The options that mean one thing to every command that takes them: --port, --ecu, --settings,
// --virtual-time, --sim, --events, --timeout, --json, --records, --no-records, --mileage,
// --join-visits. Each is an option of the program, so that it may come before the subcommand's
// name, and of every subcommand that takes it, with that subcommand's words in its help; both
// write the one value here. After the parse, refused() turns down an option given to a command
// that does not take it, wherever it stands on the command line.
class GlobalOptions {
 public:
  enum class Name {
    Port,
    Ecu,
    Settings,
    VirtualTime,
    Sim,
    Events,
    Timeout,
    Json,
    Records,
    NoRecords,
    Mileage,
    JoinVisits
  };

  // Adds every shared option to `program`: those of the run without a subcommand in the main
  // list of its help, the others in a group of their own.
  explicit GlobalOptions(CLI::App& program);
  GlobalOptions(const GlobalOptions&) = delete;
  GlobalOptions& operator=(const GlobalOptions&) = delete;

  // Adds `name` to a subcommand that takes it; `what` is what it does there (by default what the
  // program's help says).
  CLI::Option* add(CLI::App& command, Name name, const std::string& what = {});
  // The shared options that the run without a subcommand takes.
  void takenWithoutSubcommand(std::initializer_list<Name> names);

  // After the parse: why an option given does not fit the command the parse chose (a usage error
  // naming the option), or an empty text. An option of the program or of a subcommand's parent
  // must be one that the chosen command takes too, and given once.
  std::string refused(const CLI::App& program) const;

  // The session's setup from the shared options, with the simulated ECU `sim`.
  SessionSetup setup(std::shared_ptr<const SimConfig> sim, bool keepJournal = false) const;
  // Why --port or --sim cannot be used (a usage error), or an empty text; the simulated ECU that
  // --sim describes (the default one without it) into `sim`.
  std::string check(SimConfig& sim) const;

  std::optional<std::string> port, ecu, settings, simFile, records, events;
  bool virtualTime = false;
  bool json = false;
  bool noRecords = false;
  uint64_t limitMs = kDefaultLimitMs;
  std::optional<int> mileage;
  std::optional<int> joinHours;  // --join-visits

 private:
  CLI::Option* define(CLI::App& app, Name name, const std::string& what);

  CLI::App& program_;
  // The program's own option of each name, and the subcommands that take it.
  std::map<Name, CLI::Option*> onProgram_;
  std::map<std::string, std::vector<const CLI::App*>> takers_;
  std::set<std::string> withoutSubcommand_;
};

}  // namespace kline
