#include "platform/portsjson.h"

#include <nlohmann/json.hpp>

namespace kline {

using nlohmann::json;

std::string PortsJson(const std::vector<PortRecord>& ports) {
  json a = json::array();
  for (const auto& p : ports) {
    // What the system does not tell is null.
    auto known = [](const std::string& s) { return s.empty() ? json(nullptr) : json(s); };
    const std::string id = p.usbId();
    json j = {{"device", p.device},
              {"description", known(p.description)},
              {"manufacturer", known(p.manufacturer)},
              {"serial_number", known(p.serialNumber)},
              {"usb_id", known(id)},
              {"likely_kline", p.likelyKLine},
              {"sim", p.sim}};
    j["number"] = p.number ? json(p.number) : json(nullptr);
    // The ids as the system writes them ("0403").
    j["vendor_id"] = id.empty() ? json(nullptr) : json(id.substr(0, 4));
    j["product_id"] = id.empty() ? json(nullptr) : json(id.substr(5));
    j["product"] = known(p.product);
    j["driver"] = known(p.driver);
    j["chip"] = p.chip ? json(std::string(p.chip->name)) : json(nullptr);
    j["chip_notes"] = ChipNotes(p.chip);
    j["latency_timer_ms"] = p.latencyTimerMs ? json(*p.latencyTimerMs) : json(nullptr);
    a.push_back(j);
  }
  return a.dump(2);
}

}  // namespace kline
