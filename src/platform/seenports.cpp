#include "platform/seenports.h"

#include "connection/ecutypes.h"
#include "connection/portfield.h"
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

std::optional<ConnectChecklist> NoAnswerChecklist(const ev::Connecting& c,
                                                  const std::string& simHint,
                                                  const std::string& deviceHint,
                                                  const std::string& listening) {
  const EcuTypeInfo* type = FindEcuType(c.ecu);
  if (!type) return std::nullopt;
  ChecklistContext context{SeenPorts(), {}, listening};
  context.adapterCheck = ParsePortField(c.port).kind == PortField::Kind::Sim ? simHint : deviceHint;
  return BuildConnectChecklist(*type, c.port, context);
}

}  // namespace kline
