#include "clirecords.h"

#include "platform/portlist.h"
#include "serial/text.h"

namespace kline {

CliRecords::CliRecords(const std::string& path, std::optional<int> mileage, std::ostream& err)
    : err_(err) {
  records::KeeperOptions o;
  o.path = path;
  o.version = KLINE_VERSION;
  o.adapterOf = PortList::AdapterOf;
  o.onProblem = [this](const std::string& why) {
    std::lock_guard lock(m_);
    said_ += "klinediag-cli: " + why + " (the visit is not kept; the session goes on)\n";
  };
  o.onKnownBike = [this](const records::KnownBike& k) {
    std::lock_guard lock(m_);
    said_ += "klinediag-cli: " + k.text + "\n";
  };
  keeper_ = std::make_unique<records::RecordKeeper>(std::move(o));
  if (mileage) keeper_->setMileage(mileage);
}

// A session that ended early (a port that did not open) still tells a records problem.
CliRecords::~CliRecords() {
  finish();
}

void CliRecords::onEvent(const SessionEvent& e) {
  if (!keeper_) return;
  keeper_->onEvent(e);
  tell();
}

void CliRecords::tell() {
  std::string said;
  {
    std::lock_guard lock(m_);
    if (said_.empty()) return;
    said.swap(said_);
  }
  err_ << said << std::flush;
}

void CliRecords::finish() {
  // The keeper's end ends the visit and writes it.
  keeper_.reset();
  tell();
}

}  // namespace kline
