#include "platform/portlist.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QString>
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/system.h"

namespace kline {

std::string PortRecord::usbId() const {
  if (!vendorId || !productId) return {};
  char text[10];
  std::snprintf(text, sizeof text, "%04x:%04x", *vendorId, *productId);
  return text;
}

bool PortList::LikelyKLine(uint16_t vendorId, uint16_t productId) {
  return FindUsbChip(vendorId, productId) != nullptr;
}

std::string PortList::SysfsRoot() {
  const QString root = qEnvironmentVariable("KLINEDIAG_SYSFS_ROOT");
  return root.isEmpty() ? std::string("/sys") : root.toStdString();
}

UsbPortFacts PortList::UsbFactsOf(const std::string& device) {
  // A link (a stable name under /dev/serial/by-id) names its target's tty.
  const QFileInfo info(QString::fromStdString(device));
  const QString real = info.canonicalFilePath();
  const QString name = QFileInfo(real.isEmpty() ? info.filePath() : real).fileName();
  return UsbPortFacts::Read(SysfsRoot(), name.toStdString());
}

namespace {

// N for a name "COMN" (any case), else 0.
int comNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 8) return 0;
  for (std::size_t i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  int n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n <= 32767 ? n : 0;
}

}  // namespace

std::vector<PortRecord> PortList::Ordered(std::vector<PortRecord> ports, bool comNumbers) {
  std::erase_if(ports, [](const PortRecord& p) { return p.sim; });
  // The port field's numbering: USB adapters (those with a vendor id) first, then by name.
  std::stable_sort(ports.begin(), ports.end(), [](const PortRecord& a, const PortRecord& b) {
    if (a.vendorId.has_value() != b.vendorId.has_value()) return a.vendorId.has_value();
    return a.name < b.name;
  });
  for (std::size_t i = 0; i < ports.size(); ++i) {
    PortRecord& p = ports[i];
    p.number = comNumbers ? comNumber(p.name) : static_cast<int>(i + 1);
    p.chip = p.vendorId && p.productId ? FindUsbChip(*p.vendorId, *p.productId) : nullptr;
    p.likelyKLine = p.chip != nullptr;
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

std::vector<PortRecord> PortList::Numbered(std::vector<PortRecord> scanned) {
  return Ordered(std::move(scanned), sys::NumbersAreComNames());
}

std::vector<std::string> PortList::NumberedDevices(std::vector<PortRecord> scanned) {
  std::vector<PortRecord> ports = Numbered(std::move(scanned));
  std::erase_if(ports, [](const PortRecord& p) { return p.number <= 0; });
  std::stable_sort(ports.begin(), ports.end(),
                   [](const PortRecord& a, const PortRecord& b) { return a.number < b.number; });
  std::vector<std::string> devices;
  for (const PortRecord& p : ports) devices.push_back(p.device);
  return devices;
}

std::vector<PortRecord> PortList::Available() {
  return Numbered(Scan());
}

std::vector<PortRecord> PortList::Scan() {
  std::vector<PortRecord> ports;
  for (const QSerialPortInfo& i : QSerialPortInfo::availablePorts()) {
    PortRecord p;
    p.name = i.portName().toStdString();
    p.device = sys::PortFieldName(i).toStdString();
    p.description = i.description().toStdString();
    p.manufacturer = i.manufacturer().toStdString();
    p.serialNumber = i.serialNumber().toStdString();
    if (i.hasVendorIdentifier()) p.vendorId = i.vendorIdentifier();
    if (i.hasProductIdentifier()) p.productId = i.productIdentifier();
    // The device tree fills in what Qt lacks.
    const UsbPortFacts f = UsbFactsOf(sys::PortFieldName(i).toStdString());
    if (!p.vendorId) p.vendorId = f.vendorId;
    if (!p.productId) p.productId = f.productId;
    if (p.manufacturer.empty()) p.manufacturer = f.manufacturer;
    if (p.serialNumber.empty()) p.serialNumber = f.serial;
    p.product = f.product;
    // Without udev, Qt knows no description: the device's own product name is the best one.
    if (p.description.empty()) p.description = f.product;
    p.driver = f.driver;
    p.latencyTimerMs = f.latencyTimerMs;
    ports.push_back(p);
  }
  return ports;
}

std::string PortList::AdapterOf(const std::string& portText) {
  const QString text = QString::fromStdString(portText).trimmed();
  if (text.compare(QLatin1String("sim"), Qt::CaseInsensitive) == 0) return "simulated ECU";
  bool isNumber = false;
  const int number = text.toInt(&isNumber);
  for (const PortRecord& p : Available()) {
    if (p.sim) continue;
    if (QString::fromStdString(p.device) != text && QString::fromStdString(p.name) != text &&
        !(isNumber && p.number == number))
      continue;
    std::string out = p.description;
    for (const std::string& more : {p.manufacturer, p.usbId()})
      if (!more.empty()) out += (out.empty() ? "" : ", ") + more;
    return out;
  }
  return {};
}

}  // namespace kline
