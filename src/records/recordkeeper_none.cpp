// A build without the records' database (the Windows cross build of the core): a keeper that
// keeps nothing and says so once, so that a session asked for records goes on without them.
#include "records/recordkeeper.h"

namespace kline::records {

struct RecordKeeper::Impl {};

RecordKeeper::RecordKeeper(KeeperOptions options) : d_(std::make_unique<Impl>()) {
  if (options.onProblem)
    options.onProblem("cannot keep records in " + options.path +
                      ": this build has no records database");
}

RecordKeeper::~RecordKeeper() = default;

void RecordKeeper::onEvent(const SessionEvent&) {}
void RecordKeeper::noteFile(FileKind, const std::string&) {}
void RecordKeeper::setMileage(std::optional<int>) {}
void RecordKeeper::flush() {}

int64_t RecordKeeper::visit() const {
  return 0;
}

bool RecordKeeper::working() const {
  return false;
}

}  // namespace kline::records
