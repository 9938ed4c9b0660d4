#pragma once

// The session subcommands' records: the visit kept in the records file as the session goes, and
// what the keeper has to say (a known bike, a problem with the file) told on stderr once, from the
// command line's own thread.
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "records/recordkeeper.h"
#include "ui/eventsink.h"

namespace kline {

class CliRecords : public EventSink {
 public:
  // Keeps the visits of the session in `path`, with the mileage typed (if any).
  CliRecords(const std::string& path, std::optional<int> mileage, std::ostream& err);
  ~CliRecords() override;

  void onEvent(const SessionEvent& e) override;
  // After the session's end: writes the visit's rest and tells what is left to tell.
  void finish();

 private:
  void tell();

  std::ostream& err_;
  std::mutex m_;
  std::string said_;  // what the keeper's thread left to tell
  std::unique_ptr<records::RecordKeeper> keeper_;
};

}  // namespace kline
