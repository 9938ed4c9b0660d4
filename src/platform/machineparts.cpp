#include "platform/machineparts.h"

#include "platform/lastadaptercheck.h"
#include "platform/portlist.h"
#include "platform/portsjson.h"
#include "platform/programabout.h"

namespace kline {

void AddMachineParts(const std::string& program, SupportBundleParts& parts) {
  parts.about = ProgramAbout(program);
  parts.portsJson = PortsJson(PortList::Available()) + "\n";
  parts.adapterCheck = LastAdapterCheckText();
}

}  // namespace kline
