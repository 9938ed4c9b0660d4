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
    // What is known of the chip, under its port.
    std::string facts = p.chip ? "chip " + std::string(p.chip->name) : "";
    if (!p.driver.empty()) facts += (facts.empty() ? "driver " : ", driver ") + p.driver;
    if (p.latencyTimerMs)
      facts += (facts.empty() ? "" : ", ") +
               ("latency timer " + std::to_string(*p.latencyTimerMs) + " ms") +
               (*p.latencyTimerMs > 4 ? " (slow: see check-adapter --fix)" : "");
    const std::string indent(6, ' ');
    if (!facts.empty()) out << indent << facts << "\n";
    if (p.chip)
      for (std::string_view n : p.chip->notes) out << indent << "- " << n << "\n";
  }
  if (marked) out << "* likely K-line cable (a USB-serial chip such cables are built on)\n";
  return 0;
}

}  // namespace kline
