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
  o.onKnownBike = [this](const records::KnownBike& k) {
    std::lock_guard lock(m_);
    said_ += "klinediag-cli: " + k.text + "\n";
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
