// The ports subcommand: the serial ports, likely K-line cables first.
#include <nlohmann/json.hpp>

#include "platform/portlist.h"
#include "sessionjob.h"
#include "subcommands.h"

namespace kline {

using nlohmann::json;

int Subcommands::runPorts(std::ostream& out) {
  const std::vector<PortRecord> ports = PortList::Available();
  if (o_.json) {
    json a = json::array();
    for (const auto& p : ports) {
      json j = {{"device", p.device},
                {"description", p.description},
                {"manufacturer", p.manufacturer},
                {"serial_number", p.serialNumber},
                {"usb_id", p.usbId()},
                {"likely_kline", p.likelyKLine},
                {"sim", p.sim}};
      j["number"] = p.number ? json(p.number) : json(nullptr);
      // The ids as the system writes them ("0403"), or null.
      const std::string id = p.usbId();
      j["vendor_id"] = id.empty() ? json(nullptr) : json(id.substr(0, 4));
      j["product_id"] = id.empty() ? json(nullptr) : json(id.substr(5));
      j["maker"] = p.manufacturer;
      j["product"] = p.product;
      j["serial"] = p.serialNumber;
      j["driver"] = p.driver;
      j["chip"] = p.chip ? json(std::string(p.chip->name)) : json(nullptr);
      json notes = json::array();
      if (p.chip)
        for (std::string_view n : p.chip->notes) notes.push_back(std::string(n));
      j["chip_notes"] = notes;
      j["latency_timer_ms"] = p.latencyTimerMs ? json(*p.latencyTimerMs) : json(nullptr);
      a.push_back(j);
    }
    out << a.dump(2) << "\n";
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
