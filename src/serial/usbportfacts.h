#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kline {

// What the system's device tree (sysfs, on Linux) tells of a serial port's USB adapter: its
// driver, the USB device's ids and strings, and an FTDI chip's latency timer. Read from the
// files alone, under a root folder that tests point at a tree of their own.
struct UsbPortFacts {
  std::string driver;  // the serial driver ("ftdi_sio", "ch341", "pl2303", "cp210x", "cdc_acm")
  std::optional<uint16_t> vendorId, productId;
  std::string manufacturer, product, serial;  // the USB device's own strings
  std::optional<int> latencyTimerMs;          // the driver's latency timer, where it has one
  std::filesystem::path latencyTimerFile;     // where it is read and set (empty without one)

  // The tree knows the port (its folder is there).
  bool known = false;

  // Reads what `sysfsRoot` ("/sys") holds of the tty `ttyName` ("ttyUSB0"); a port the tree
  // does not have, or a system without such a tree, gives facts with `known` false.
  static UsbPortFacts Read(const std::filesystem::path& sysfsRoot, const std::string& ttyName);
  // Writes `ms` to the latency timer file. Empty when done, else why not.
  std::string setLatencyTimer(int ms) const;
};

}  // namespace kline
