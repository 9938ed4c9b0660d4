#include "platform/portlist.h"

#include <QSerialPortInfo>
#include <algorithm>
#include <cstdio>

namespace kline {

std::string PortRecord::usbId() const {
  if (!vendorId || !productId) return {};
  char text[10];
  std::snprintf(text, sizeof text, "%04x:%04x", *vendorId, *productId);
  return text;
}

bool PortList::LikelyKLine(uint16_t vendorId, uint16_t productId) {
  switch (vendorId) {
    case 0x0403:
      return true;
    case 0x1a86:
      return productId == 0x7523 || productId == 0x5523;
    case 0x067b:
      return productId == 0x2303;
    case 0x10c4:
      return productId == 0xea60;
    default:
      return false;
  }
}

std::vector<PortRecord> PortList::Ordered(std::vector<PortRecord> ports) {
  std::erase_if(ports, [](const PortRecord& p) { return p.sim; });
  // The port field's numbering: USB adapters (those with a vendor id) first, then by name.
  std::stable_sort(ports.begin(), ports.end(), [](const PortRecord& a, const PortRecord& b) {
    if (a.vendorId.has_value() != b.vendorId.has_value()) return a.vendorId.has_value();
    return a.name < b.name;
  });
  for (std::size_t i = 0; i < ports.size(); ++i) {
    PortRecord& p = ports[i];
    p.number = static_cast<int>(i + 1);
    p.likelyKLine = p.vendorId && p.productId && LikelyKLine(*p.vendorId, *p.productId);
  }
  std::stable_sort(ports.begin(), ports.end(), [](const PortRecord& a, const PortRecord& b) {
    return a.likelyKLine && !b.likelyKLine;
  });
  PortRecord sim;
  sim.name = sim.device = "sim";
  sim.description = "Simulated ECU";
  sim.sim = true;
  ports.push_back(sim);
  return ports;
}

std::vector<PortRecord> PortList::Available() {
  std::vector<PortRecord> ports;
  for (const QSerialPortInfo& i : QSerialPortInfo::availablePorts()) {
    PortRecord p;
    p.name = i.portName().toStdString();
    p.device = i.systemLocation().toStdString();
    p.description = i.description().toStdString();
    p.manufacturer = i.manufacturer().toStdString();
    p.serialNumber = i.serialNumber().toStdString();
    if (i.hasVendorIdentifier()) p.vendorId = i.vendorIdentifier();
    if (i.hasProductIdentifier()) p.productId = i.productIdentifier();
    ports.push_back(p);
  }
  return Ordered(std::move(ports));
}

}  // namespace kline
