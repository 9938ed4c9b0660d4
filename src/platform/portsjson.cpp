#include "platform/portsjson.h"

#include <nlohmann/json.hpp>

namespace kline {

using nlohmann::json;

std::string PortsJson(const std::vector<PortRecord>& ports) {
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
    a.push_back(j);
  }
  return a.dump(2);
}

}  // namespace kline
