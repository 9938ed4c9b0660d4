#include "serial/usbportfacts.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <system_error>

namespace kline {

namespace fs = std::filesystem;

namespace {

// A sysfs attribute's first line, without its line end; empty when it cannot be read.
std::string readLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  // The strings are the device's own: control characters are not passed on.
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return line;
}

std::optional<uint16_t> readHexId(const fs::path& file) {
  const std::string text = readLine(file);
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || value > 0xffff)
    return std::nullopt;
  return static_cast<uint16_t>(value);
}

}  // namespace

UsbPortFacts UsbPortFacts::Read(const fs::path& sysfsRoot, const std::string& ttyName) {
  UsbPortFacts f;
  if (ttyName.empty() || ttyName.find('/') != std::string::npos || ttyName == "." ||
      ttyName == "..")
    return f;
  std::error_code ec;
  // class/tty/NAME/device is the port's device: for a USB-serial adapter ("ttyUSB0") the
  // usb-serial port, whose parent is the USB interface and grandparent the USB device; for a
  // modem-class adapter ("ttyACM0") the interface itself.
  const fs::path device = sysfsRoot / "class" / "tty" / ttyName / "device";
  if (!fs::exists(device, ec)) return f;
  f.known = true;
  const fs::path driver = fs::read_symlink(device / "driver", ec);
  if (!ec) f.driver = driver.filename().string();
  if (fs::exists(device / "latency_timer", ec)) {
    f.latencyTimerFile = device / "latency_timer";
    const std::string text = readLine(f.latencyTimerFile);
    int ms = 0;
    const auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), ms);
    if (err == std::errc() && end == text.data() + text.size() && !text.empty())
      f.latencyTimerMs = ms;
  }
  // The USB device is the nearest folder up that has the ids.
  fs::path up = fs::canonical(device, ec);
  if (ec) return f;
  for (int level = 0; level < 3 && up.has_relative_path(); ++level, up = up.parent_path()) {
    if (!fs::exists(up / "idVendor", ec)) continue;
    f.vendorId = readHexId(up / "idVendor");
    f.productId = readHexId(up / "idProduct");
    f.manufacturer = readLine(up / "manufacturer");
    f.product = readLine(up / "product");
    f.serial = readLine(up / "serial");
    break;
  }
  // A built-in port's driver is the kernel's serial core ("port", "serial8250"): nothing the user
  // could act on, and it reads like a fault next to an adapter's driver.
  if (!f.vendorId) f.driver.clear();
  return f;
}

std::string UsbPortFacts::setLatencyTimer(int ms) const {
  if (latencyTimerFile.empty()) return "the adapter's driver has no latency timer";
  std::ofstream out(latencyTimerFile);
  if (!out)
    return "cannot open " + latencyTimerFile.string() + " for writing (" + std::strerror(errno) +
           ")";
  out << ms << "\n";
  out.close();
  if (!out) return "cannot write " + latencyTimerFile.string() + " (" + std::strerror(errno) + ")";
  return {};
}

}  // namespace kline
