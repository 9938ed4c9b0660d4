#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "serial/usbchips.h"
#include "serial/usbportfacts.h"

namespace kline {

// One serial port as the platform describes it, or the simulated ECU.
struct PortRecord {
  std::string name;    // the port's own name ("ttyUSB0", "COM7"; "sim")
  std::string device;  // what to type in the port field ("/dev/ttyUSB0", "COM7", "sim")
  std::string description;
  std::string manufacturer;
  std::string serialNumber;
  std::string product;  // the USB device's product string, where the system tells it
  std::string driver;   // the serial driver ("ftdi_sio", "ch341"), where the system tells it
  std::optional<uint16_t> vendorId;
  std::optional<uint16_t> productId;
  std::optional<int> latencyTimerMs;  // an FTDI adapter's latency timer, where the system shows it
  const UsbChip* chip = nullptr;      // what is known of its USB chip (set by Ordered())
  int number = 0;                     // the port number N that names it in the port field (0: none)
  bool likelyKLine = false;           // a USB-serial chip that K-line cables are commonly built on
  bool sim = false;                   // the built-in simulated ECU

  // "0403:6001", or empty without USB ids.
  std::string usbId() const;
};

// The ports to offer the user: likely K-line cables first, then the other ports, then the
// simulated ECU.
class PortList {
 public:
  // The serial ports the platform sees now, as it describes them (the device tree filling in what
  // Qt lacks), in no particular order.
  static std::vector<PortRecord> Scan();
  // The same, Numbered(): what the port chooser and `klinediag-cli ports` show.
  static std::vector<PortRecord> Available();
  // A list as Scan() gives it, ordered and numbered by Ordered() as this system numbers its ports
  // (COMN is number N on Windows): the one numbering of the port chooser, the ports subcommand
  // and a port number typed in the port field or given to --port.
  static std::vector<PortRecord> Numbered(std::vector<PortRecord> scanned);
  // The devices of Numbered(scanned) that have a number, by their number: where the port list
  // numbers the ports itself, the N-th is port number N (QtSerialPortAdapter::AvailablePorts).
  static std::vector<std::string> NumberedDevices(std::vector<PortRecord> scanned);
  // What is known of the adapter behind a port field's text ("sim", a number, a device name or
  // path): its description, maker and USB ids; empty when the system lists no such port.
  static std::string AdapterOf(const std::string& portText);

  // Numbers the ports as the port field counts them (USB adapters first, then by name; with
  // `comNumbers`, as on Windows, COMN is number N), marks the likely K-line cables, and orders
  // them: marked first, then USB, then by name, the simulated ECU last. Pure: tests feed it any
  // list.
  static std::vector<PortRecord> Ordered(std::vector<PortRecord> ports, bool comNumbers = false);

  // Whether a USB vendor:product pair is a chip K-line cables are commonly built on: one of the
  // chip table (FindUsbChip): any FTDI (0403), CH340/CH341 (1a86:7523, 1a86:5523), PL2303
  // (067b:2303 and its G generation), CP210x (10c4:ea60).
  static bool LikelyKLine(uint16_t vendorId, uint16_t productId);

  // What the system's device tree tells of the adapter behind `device` ("/dev/ttyUSB0", a link to
  // it, or "ttyUSB0"): driver, USB strings, latency timer. Nothing known where there is no tree.
  static UsbPortFacts UsbFactsOf(const std::string& device);
  // The device tree's root: "/sys", or the folder KLINEDIAG_SYSFS_ROOT names. Only tests set it,
  // to run the programs over a tree of their own.
  static std::string SysfsRoot();
};

}  // namespace kline
