// The ports subcommand: the serial ports, likely K-line cables first.
#include "platform/portlist.h"
#include "platform/portsjson.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

int Subcommands::runPorts(std::ostream& out) {
  const std::vector<PortRecord> ports = PortList::Available();
  if (o_.json) {
    out << PortsJson(ports) << "\n";
    return 0;
  }
  std::size_t width = 4;
  for (const auto& p : ports) width = std::max(width, Columns(p.device));
  out << "   #  " << PadRight("PORT", width) << "  USB ID     DESCRIPTION\n";
  bool marked = false;
  for (const auto& p : ports) {
    std::string about = p.description;
    for (const std::string& more :
         {p.manufacturer, p.serialNumber.empty() ? "" : "serial " + p.serialNumber})
      if (!more.empty()) about += (about.empty() ? "" : ", ") + more;
    marked = marked || p.likelyKLine;
    std::string line = std::string(p.likelyKLine ? "*" : " ") + " " +
                       PadLeft(p.number ? std::to_string(p.number) : "", 2) + "  " +
                       PadRight(p.device, width) + "  " + PadRight(p.usbId(), 9) + "  " + about;
    out << line.substr(0, line.find_last_not_of(' ') + 1) << "\n";
  }
  if (marked) out << "* likely K-line cable (a USB-serial chip such cables are built on)\n";
  return 0;
}

}  // namespace kline
