#include "clirecords.h"

#include "platform/portlist.h"

namespace kline {

records::KeeperOptions CliRecords::options(const std::string& path) {
  records::KeeperOptions o;
  o.path = path;
  o.adapterOf = PortList::AdapterOf;
  o.onProblem = [this](const std::string& why) {
    std::lock_guard lock(m_);
    said_ += "klinediag-cli: " + why + " (the visit is not kept; the session goes on)\n";
  };
  // A new bike, a known one's new visit, or the same visit going on: one line each.
  o.onBikeNews = [this](const records::BikeNews& n) {
    std::lock_guard lock(m_);
    said_ += "klinediag-cli: " + n.text + "\n";
  };
  return o;
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

}  // namespace kline
