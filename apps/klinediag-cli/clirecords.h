#pragma once

// What the records keeper of a session subcommand has to say (a new bike, a known one, the same
// visit going on, a problem with the file), told on stderr once, from the command line's own
// thread: the keeper's thread only leaves the words here.
#include <mutex>
#include <ostream>
#include <string>

#include "records/recordkeeper.h"
#include "ui/eventsink.h"

namespace kline {

class CliRecords : public EventSink {
 public:
  explicit CliRecords(std::ostream& err) : err_(err) {}
  // A session that ended early (a port that did not open) still tells a records problem.
  ~CliRecords() override { tell(); }
  CliRecords(const CliRecords&) = delete;
  CliRecords& operator=(const CliRecords&) = delete;

  // The session's records in `path`, their words told here. This must outlive the keeper.
  records::KeeperOptions options(const std::string& path);

  // Tells what the keeper left, at each event and once the keeper is gone.
  void onEvent(const SessionEvent&) override { tell(); }
  void tell();

 private:
  std::ostream& err_;
  std::mutex m_;
  std::string said_;  // what the keeper's thread left to tell
};

}  // namespace kline
