#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "helptext.h"

namespace kline {

// The subcommands of klinediag-cli for people: ports, check-adapter, info, faults, live, test,
// records (the bikes and their visits, which the session subcommands keep) and support-bundle
// (one archive of what the program saw, for whoever helps the user).
// Each drives the window's logic through the user's actions only (or, for check-adapter, the
// adapter alone), learns what happened from the session's typed events, and prints readable
// text, or JSON with --json. One file per subcommand: cmd_*.cpp.
//
// Exit codes: 0 done (no fault, test OK), 1 failure (port not opened or lost, no answer, no
// verdict, a bad echo), 2 bad command line or unknown test, 3 a fault is stored or the test
// said "Erreur", 130 interrupted (live ends with 0).
class Subcommands {
 public:
  // Adds the subcommands to `app`.
  explicit Subcommands(CLI::App& app);
  // Runs the subcommand the command line chose, after parsing; nullopt when none was chosen.
  std::optional<int> run(std::ostream& out, std::ostream& err);
  // The subcommands for the man page, each with its options and examples, as roff.
  std::string manSection() const;

  // The longest a subcommand waits for the ECU without progress, in ms of line time.
  static constexpr uint64_t kDefaultLimitMs = 120000;

 private:
  enum class Kind { Info, Faults, Live, Test };
  enum class RecordsKind { Bikes, Show, Visit, Compare, Name, Forget, Export, Backup };
  int runPorts(std::ostream& out);
  int runRecords(RecordsKind kind, std::ostream& out, std::ostream& err);
  int runCheckAdapter(std::ostream& out, std::ostream& err);
  // check-adapter --fix: sets the port's latency timer to 1 ms; 0 when set (or nothing to set).
  int fixLatencyTimer(std::ostream& out, std::ostream& err);
  int runSession(Kind kind, std::ostream& out, std::ostream& err);
  int runSupportBundle(std::ostream& out, std::ostream& err);

  struct Options {
    std::optional<std::string> port, ecu, settings, simFile;
    bool virtualTime = false;
    bool json = false;
    bool fix = false;  // check-adapter: set the latency timer first
    uint64_t limitMs = kDefaultLimitMs;
    std::optional<uint64_t> count;
    std::string format = "table";
    std::string test;
    bool yes = false;
    // The records file: --records, --no-records, --mileage; the records subcommands' words.
    std::optional<std::string> records;
    bool noRecords = false;
    std::optional<int> mileage;
    std::string search, bike, text, file;
    int64_t visit = 0;
    std::optional<int64_t> other;
    // support-bundle: the records file's copy, or no connection first.
    bool withRecords = false;
    bool noConnect = false;
  } o_;
  // What each subcommand's help and man page show beside its options.
  struct Help {
    CLI::App* app;
    std::span<const Example> examples;
    const char* more;      // after the examples, or none
    bool session = false;  // after the examples: the exit codes of a session
  };
  std::vector<Help> help_;
  CLI::App* ports_ = nullptr;
  CLI::App* check_ = nullptr;
  CLI::App* info_ = nullptr;
  CLI::App* faults_ = nullptr;
  CLI::App* live_ = nullptr;
  CLI::App* test_ = nullptr;
  CLI::App* records_ = nullptr;
  CLI::App* bundle_ = nullptr;
  std::vector<std::pair<CLI::App*, RecordsKind>> recordsKinds_;
};

// Picks one entry of the test list by its code ("80") or a unique part of its name ("fuel",
// any case). Returns the index, or -1 with `why` saying what is wrong (and listing the tests).
int FindTest(const std::vector<std::string>& items, const std::string& wanted, std::string& why);

}  // namespace kline
