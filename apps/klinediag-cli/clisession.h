#pragma once

#include <QElapsedTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "connection/form2.h"
#include "connection/linkmonitor.h"
#include "sim/simconfig.h"
#include "ui/eventsink.h"

namespace kline {

class QtHost;
class VirtualHost;

// What a session of the headless window is set up from: the command line's common options.
struct SessionSetup {
  std::optional<std::string> port;
  std::optional<std::string> ecu;
  std::optional<std::string> settings;
  bool virtualTime = false;
  std::shared_ptr<const SimConfig> sim;
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
};

// The headless main window with what runs it: the host (real clock or virtual time), the port
// factory (the simulated ECU or a device), the window logic, the link monitor. Lost ports and a
// silent ECU are remarked on `err` once. Used by the plain run and the subcommands alike.
class CliSession {
 public:
  CliSession(SessionSetup setup, std::ostream& err);
  ~CliSession();
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  // Sinks added before build() see every event of the window.
  EventFanout& sinks() { return sinks_; }
  // Adds a sink the session keeps until after the window is gone (the window publishes as it
  // closes its port).
  template <class Sink>
  Sink& own(std::unique_ptr<Sink> sink) {
    Sink& s = *sink;
    sinks_.add(&s);
    owned_.push_back(std::move(sink));
    return s;
  }
  // Milliseconds since the start, on the session's clock.
  std::function<uint64_t()> clock() const { return since_; }
  bool virtualTime() const { return vhost_ != nullptr; }
  Host& host() { return *host_; }
  VirtualHost* vhost() { return vhost_; }
  QtHost* qhost() { return qhost_; }

  // Makes the window and the link monitor.
  void build();
  Form2& form() { return *form_; }
  const LinkStatus& link() const { return link_->status(); }
  // The port went away mid-run.
  bool lost() const { return lost_; }

  // Runs `fn` as an entry into the window's logic.
  void guarded(const std::function<void()>& fn);
  // Loads the window, selects the ECU type and types the port. Returns a usage error (virtual
  // time with a device) or an empty text.
  std::string load();
  // Presses Connect; false, with the port and the reason on `err`, when the port did not open.
  bool connect();
  // Presses Disconnect and unloads the window.
  void finish();

  // How a job ended.
  enum class End { Done, Lost, Interrupted, NoAnswer };
  // Runs the session until `step` (asked between the window's handlers, and free to play user
  // actions) returns true, the port is lost, a signal comes, or `limitMs` of line time pass
  // without progress().
  End runJob(const std::function<bool()>& step, uint64_t limitMs);
  // The job moved on: the limit counts again from now.
  void progress();

 private:
  SessionSetup setup_;
  std::ostream& err_;
  std::unique_ptr<Host> host_;
  VirtualHost* vhost_ = nullptr;
  QtHost* qhost_ = nullptr;
  std::function<uint64_t()> since_;
  EventFanout sinks_;
  std::unique_ptr<EventSink> notices_;
  std::vector<std::unique_ptr<EventSink>> owned_;
  PortFactory devices_;
  std::unique_ptr<Form2> form_;
  std::unique_ptr<LinkMonitor> link_;
  bool lost_ = false;
  bool toldSilent_ = false;
  uint64_t deadline_ = 0;
  uint64_t limit_ = 0;
  QElapsedTimer wall_;
};

}  // namespace kline
