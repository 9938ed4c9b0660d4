#include "platform/seenports.h"

#include "platform/portlist.h"

namespace kline {

std::vector<SeenPort> SeenPorts() {
  std::vector<SeenPort> out;
  for (const PortRecord& p : PortList::Available())
    if (!p.sim)
      out.push_back({p.device, p.description, p.usbId(),
                     p.chip ? std::string(p.chip->name) : std::string(),
                     p.latencyTimerMs.value_or(0)});
  return out;
}

}  // namespace kline
