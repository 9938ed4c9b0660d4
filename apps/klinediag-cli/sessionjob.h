#pragma once

// What the session subcommands (info, faults, live, test) and the run without a subcommand are
// made of: a job that sets the window up as a user would, plays the user's actions while the
// session runs (CliSession::runJob), learns what happened from the session's typed events, and
// prints the result.
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "clisession.h"
#include "serial/text.h"
#include "ui/eventsink.h"

namespace kline {

// The options of a session subcommand.
struct JobOptions {
  std::string format = "table";  // "table", "csv" or "json" (--json is "json")
  std::optional<uint64_t> count;
  std::string test;
  bool yes = false;  // a test that clears the faults may run
};

// One subcommand's job, observing the session's events from before Connect to the end.
class SessionJob : public EventSink {
 public:
  // After the window has loaded, before Connect: sets the window up by the user's actions.
  // Returns a usage error or an empty text.
  virtual std::string prepare(CliSession& /*s*/) { return {}; }
  // After Connect, as the run starts: hands the session the user's actions that come at given
  // times (CliSession::at).
  virtual void start(CliSession& /*s*/) {}
  // Asked between the window's handlers while the session runs: plays the user's actions once
  // the session is ready for them; true when the job is done.
  virtual bool step(CliSession& s) = 0;
  // A timed job's end, in ms of line time since the session's start: the run ends there, if
  // step() has not ended it before. None: it ends when step() says so.
  virtual std::optional<uint64_t> endMs() const { return std::nullopt; }
  // After a job that got done and the session's end: prints the result to `out` (and why it
  // falls short to `err`), and returns the exit code.
  virtual int print(const std::string& device, std::ostream& out, std::ostream& err) = 0;
  // An interrupt (Ctrl+C) is the normal end of the job: it ends with 0 and prints nothing more.
  virtual bool endsOnInterrupt() const { return false; }

  void onEvent(const SessionEvent& e) override;

  // The ECU type the session uses, by its command-line name ("16m"), once the window loaded.
  void setEcu(std::string ecu) { ecu_ = std::move(ecu); }

 protected:
  // Each typed event, after the job's own bookkeeping.
  virtual void on(const SessionEvent& /*e*/) {}
  // The window has read its records, polls the live values, and the ECU answers (or the line
  // babbles: what is read then is marked, and said).
  bool ready(const CliSession& s) const {
    const LinkState st = s.link().state;
    return completedCycles_ > 0 && (st == LinkState::Live || st == LinkState::Babbling);
  }
  // A live cycle ran, completed or not: the records have been asked for.
  bool polled() const { return cycles_ > 0; }

  std::string ecu_;

 private:
  uint64_t cycles_ = 0;
  uint64_t completedCycles_ = 0;
};

// Why what was read on `device` while `when` cannot be trusted: one line for stderr.
inline std::string UntrustedReason(const std::string& device, const std::string& when) {
  return "not trustworthy: the line on " + device + " carried bytes nobody asked for while " +
         when + " (another device on the K-line, or the wrong adapter or rate?)";
}

std::unique_ptr<SessionJob> MakeInfoJob(const JobOptions& o);
std::unique_ptr<SessionJob> MakeFaultsJob(const JobOptions& o);
std::unique_ptr<SessionJob> MakeLiveJob(const JobOptions& o, std::ostream& out);
std::unique_ptr<SessionJob> MakeTestJob(const JobOptions& o);

// Columns a UTF-8 text takes in a terminal (one per character).
std::size_t Columns(const std::string& s);
std::string PadLeft(const std::string& s, std::size_t width);
std::string PadRight(const std::string& s, std::size_t width);

}  // namespace kline
