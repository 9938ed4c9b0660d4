#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "globaloptions.h"
#include "helptext.h"
#include "sessionjob.h"

namespace kline {

// The subcommands of klinediag-cli for people: ports, check-adapter, info, faults, live, test,
// records (the bikes and their visits, which the session subcommands keep) and support-bundle
// (one archive of what the program saw, for whoever helps the user).
// Each drives the window's logic through the user's actions only (or, for check-adapter, the
// adapter alone), learns what happened from the session's typed events, and prints readable
// text, or JSON with --json. One file per subcommand, with its options: cmd_*.cpp.
//
// Exit codes: 0 done (no fault, test OK), 1 failure (port not opened or lost, no answer, no
// verdict, a bad echo), 2 bad command line or unknown test, 3 a fault is stored or the test
// said "Erreur", 130 interrupted (live ends with 0).
//
// A Command is one of them, or the run without a subcommand: its own options, its help and its
// run. The options that several commands share are GlobalOptions.
class Command {
 public:
  virtual ~Command() = default;

  // Whether the parse chose it.
  bool chosen() const { return app_->parsed(); }
  // Runs it after a parse that chose it; returns the exit code.
  virtual int run(std::ostream& out, std::ostream& err) = 0;

  // What a subcommand's help and the man page show beside its options.
  struct Help {
    CLI::App* app;
    std::span<const Example> examples;
    std::string more;  // after the examples in the man page, or nothing
  };
  // Its subcommand's help, and its own subcommands' (records show...).
  const std::vector<Help>& help() const { return help_; }

 protected:
  // Adds the subcommand `name` to `parent` (the first one added is this command's), with its
  // examples and what follows them in its help (and in the man page).
  CLI::App& addSubcommand(CLI::App& parent, const std::string& name, const std::string& what,
                          std::span<const Example> examples, std::string more = {},
                          bool moreInManPage = true);

  CLI::App* app_ = nullptr;

 private:
  std::vector<Help> help_;
};

// A session subcommand (info, faults, live, test): sets the window up, connects, runs its job
// (sessionjob.h) until it is done, and prints what it learnt. The session's options are the
// shared ones; the job's own are added by its cmd_*.cpp to app() and options().
class SessionCommand : public Command {
 public:
  using MakeJob = std::function<std::unique_ptr<SessionJob>(const JobOptions&, std::ostream& out)>;
  SessionCommand(CLI::App& program, GlobalOptions& global, const std::string& name,
                 const std::string& what, std::span<const Example> examples, MakeJob make);

  CLI::App& app() { return *app_; }
  JobOptions& options() { return o_; }
  int run(std::ostream& out, std::ostream& err) override;

 private:
  GlobalOptions& global_;
  JobOptions o_;
  MakeJob make_;
};

// Each subcommand, added to `program` (cmd_*.cpp).
std::unique_ptr<Command> AddPorts(CLI::App& program, GlobalOptions& global);
std::unique_ptr<Command> AddCheckAdapter(CLI::App& program, GlobalOptions& global);
std::unique_ptr<Command> AddInfo(CLI::App& program, GlobalOptions& global);
std::unique_ptr<Command> AddFaults(CLI::App& program, GlobalOptions& global);
std::unique_ptr<Command> AddLive(CLI::App& program, GlobalOptions& global);
std::unique_ptr<Command> AddTest(CLI::App& program, GlobalOptions& global);
std::unique_ptr<Command> AddRecords(CLI::App& program, GlobalOptions& global);
std::unique_ptr<Command> AddSupportBundle(CLI::App& program, GlobalOptions& global);

// Every subcommand, added to `program` in the order its help lists them.
std::vector<std::unique_ptr<Command>> AddSubcommands(CLI::App& program, GlobalOptions& global);
// The subcommands for the man page, each with its options and examples, as roff.
std::string ManSubcommands(const std::vector<std::unique_ptr<Command>>& commands);

// The run without a subcommand (cmd_run.cpp): the headless main window, driven by scripted
// actions (--do) for as long as --duration says; or, with --replay, the summary of a recording.
class ScriptedRun : public Command {
 public:
  // Adds its options to `program`.
  ScriptedRun(CLI::App& program, GlobalOptions& global);
  ~ScriptedRun() override;

  // The recording that --replay names, if any.
  const std::optional<std::string>& replay() const;
  int run(std::ostream& out, std::ostream& err) override;

 private:
  struct Options;
  GlobalOptions& global_;
  std::unique_ptr<Options> o_;
};

// Picks one entry of the test list by its code ("80") or a unique part of its name ("fuel",
// any case). Returns the index, or -1 with `why` saying what is wrong (and listing the tests).
int FindTest(const std::vector<std::string>& items, const std::string& wanted, std::string& why);

}  // namespace kline
