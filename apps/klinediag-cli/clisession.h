#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "session/sessioncore.h"
#include "sim/simconfig.h"
#include "ui/eventsink.h"

namespace kline {

class QtHost;
class SessionJob;
class VirtualHost;

// What a session of the headless window is set up from: the command line's common options.
struct SessionSetup {
  std::optional<std::string> port;
  std::optional<std::string> ecu;  // a name of EcuCliNames(), any case
  std::optional<std::string> settings;
  bool virtualTime = false;
  std::shared_ptr<const SimConfig> sim;  // none: the default simulated ECU
  bool keepJournal = false;              // keep the events for a support bundle
  records::KeeperOptions records;        // the visits' records file; none when its path is empty
  std::optional<int> mileage;            // typed for the visit
  // The ECU has not answered a Connect for a while (see FirstAnswerWatch); on the run's thread.
  std::function<void(const ev::Connecting&)> onNoAnswer;
  std::optional<int> joinHours;  // --join-visits; none: as the settings say
};

// The simulated ECU a --sim FILE describes (the default one without a file) into `out`; returns
// why it cannot be read, as a usage error, or an empty text.
std::string LoadSimConfig(const std::optional<std::string>& file, SimConfig& out);

// Ctrl+C and SIGTERM while it lives: the run in progress is asked to end (a handler waiting on
// the real clock gives up at once) and interrupted() turns true.
class SignalScope {
 public:
  explicit SignalScope(QtHost* host);
  ~SignalScope();
  SignalScope(const SignalScope&) = delete;
  SignalScope& operator=(const SignalScope&) = delete;
  static bool interrupted();
  // Catches Ctrl+C and SIGTERM from the program's first moment, before any run: one that comes
  // while the program starts is kept for the run, which then ends at once.
  static void CatchEarly();
};

// A session core on the command line's clock (the real one or virtual time) with what the
// command line adds: lost ports and a silent ECU are remarked on `err` once, a lost port ends
// what waits, settings that cannot be saved are remarked on once; and the one run loop of the
// command line (runJob). Used by the run without a subcommand and the subcommands alike.
// The exit code of a run whose standard output could no longer be written (its reader went away:
// `klinediag-cli live | head -2`): 141, as the shell reports a tool that a closed pipe stopped
// (128 + SIGPIPE), so that `set -o pipefail` scripts see what they see of any other tool.
inline constexpr int kClosedOutputExit = 141;

class CliSession {
 public:
  CliSession(SessionSetup setup, std::ostream& err);
  ~CliSession();
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  // Adds an observer of every event from now on, kept until the session is gone.
  template <class Sink>
  Sink& own(std::unique_ptr<Sink> sink) {
    Sink& s = *sink;
    core_->observe(&s);
    owned_.push_back(std::move(sink));
    return s;
  }
  // Milliseconds since the start, on the session's clock.
  std::function<uint64_t()> clock() const { return since_; }
  bool virtualTime() const { return vhost_ != nullptr; }
  Host& host() { return *host_; }
  VirtualHost* vhost() { return vhost_; }
  QtHost* qhost() { return qhost_; }

  SessionCore& core() { return *core_; }
  Form2& form() { return core_->form(); }
  const LinkStatus& link() const { return core_->link(); }
  // The port went away mid-run.
  bool lost() const { return lost_; }
  // Standard output can no longer be written (its reader went away): the run ends as for an
  // interrupt, quietly.
  void outputClosed();

  // Runs `fn` as an entry into the window's logic.
  void guarded(const std::function<void()>& fn);
  // Loads the window, selects the ECU type and types the port. Returns a usage error (virtual
  // time with a device) or an empty text.
  std::string load();
  // The port and the ECU type the window will connect with, and where each came from when not from
  // the command line: "ECU 16m on port 5", "using port 5 and ECU 16m from FILE".
  std::string portAndEcu() const;
  // Presses Connect; false, with the port and the reason on `err`, when the port did not open.
  bool connect();
  // Presses Disconnect and unloads the window.
  void finish();

  // How a job ended.
  enum class End { Done, Lost, Interrupted, NoAnswer, OutputClosed };
  // Runs the session until the job's step (asked between the window's handlers, and free to play
  // user actions) says it is done, a timed job reaches its end, the port is lost, a signal comes,
  // or `limitMs` of line time pass without progress() (none: no limit).
  End runJob(SessionJob& job, std::optional<uint64_t> limitMs);
  // The job moved on: the limit counts again from now.
  void progress();
  // While runJob runs: plays `action` as an entry into the window's logic at `ms` of line time
  // since the session's start (at once when that has passed); actions at one time in the order
  // given.
  void at(uint64_t ms, std::function<void()> action);

 private:
  class Remarks;

  SessionSetup setup_;
  std::ostream& err_;
  std::unique_ptr<Host> host_;
  VirtualHost* vhost_ = nullptr;
  QtHost* qhost_ = nullptr;
  QElapsedTimer wall_;
  std::function<uint64_t()> since_;
  std::vector<std::unique_ptr<EventSink>> owned_;
  std::unique_ptr<Remarks> remarks_;
  std::unique_ptr<SessionCore> core_;
  // The settings file's port and ECU type code when the window loaded.
  std::string savedPort_, savedEcu_;
  bool lost_ = false;
  bool outputClosed_ = false;
  bool toldSilent_ = false;
  bool toldBabble_ = false;
  uint64_t deadline_ = 0;
  std::optional<uint64_t> limit_;
  // The owner of the timers of at() on the real clock, while runJob runs.
  std::unique_ptr<QObject> timers_;
};

}  // namespace kline
