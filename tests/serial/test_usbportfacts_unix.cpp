// The device tree's facts of a serial port, read from a tree of the test's own laid out as Linux
// lays out sysfs: class/tty/NAME/device links to the port's device under devices/, whose driver
// links to the driver, with the USB device's ids and strings some levels up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "serial/usbportfacts.h"
#include "support/simsession.h"

using namespace kline;
namespace fs = std::filesystem;

namespace {

void put(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

// A USB adapter's tty `name` under `root`: `portLevels` folders below the USB device (2 for a
// usb-serial port, 1 for a modem-class interface), bound to `driver`.
fs::path addPort(const fs::path& root, const std::string& name, const std::string& driver,
                 int portLevels) {
  const fs::path usb = root / "devices/pci0000:00/usb1/1-2";
  put(usb / "idVendor", "0403\n");
  put(usb / "idProduct", "6001\n");
  put(usb / "manufacturer", "FTDI\n");
  put(usb / "product", "FT232R USB\x1b[2J UART\n");
  put(usb / "serial", "A50285BI\n");
  fs::path port = usb / "1-2:1.0";
  if (portLevels == 2) port /= name;
  fs::create_directories(port);
  fs::create_directories(root / "bus/usb-serial/drivers" / driver);
  fs::create_directory_symlink(root / "bus/usb-serial/drivers" / driver, port / "driver");
  fs::create_directories(root / "class/tty" / name);
  fs::create_directory_symlink(port, root / "class/tty" / name / "device");
  return port;
}

}  // namespace

TEST(UsbPortFacts, ReadsDriverIdsStringsAndLatencyTimer) {
  const fs::path root = test::TempFolder();
  const fs::path port = addPort(root, "ttyUSB0", "ftdi_sio", 2);
  put(port / "latency_timer", "16\n");
  const UsbPortFacts f = UsbPortFacts::Read(root, "ttyUSB0");
  EXPECT_TRUE(f.known);
  EXPECT_EQ(f.driver, "ftdi_sio");
  EXPECT_EQ(f.vendorId, 0x0403);
  EXPECT_EQ(f.productId, 0x6001);
  EXPECT_EQ(f.manufacturer, "FTDI");
  // The device's own string reaches nobody's terminal with its control characters.
  EXPECT_EQ(f.product, "FT232R USB [2J UART");
  EXPECT_EQ(f.serial, "A50285BI");
  EXPECT_EQ(f.latencyTimerMs, 16);

  EXPECT_EQ(f.setLatencyTimer(1), "");
  EXPECT_EQ(UsbPortFacts::Read(root, "ttyUSB0").latencyTimerMs, 1);
  fs::remove_all(root);
}

TEST(UsbPortFacts, MissingFilesLeaveTheirFactsUnknown) {
  const fs::path root = test::TempFolder();
  // A modem-class adapter: the interface is the device, no latency timer.
  addPort(root, "ttyACM0", "cdc_acm", 1);
  const UsbPortFacts acm = UsbPortFacts::Read(root, "ttyACM0");
  EXPECT_EQ(acm.driver, "cdc_acm");
  EXPECT_EQ(acm.vendorId, 0x0403);
  EXPECT_FALSE(acm.latencyTimerMs);
  EXPECT_TRUE(acm.latencyTimerFile.empty());
  EXPECT_NE(acm.setLatencyTimer(1), "");

  // A timer file that says no number.
  const fs::path port = addPort(root, "ttyUSB3", "ftdi_sio", 2);
  put(port / "latency_timer", "sixteen\n");
  EXPECT_FALSE(UsbPortFacts::Read(root, "ttyUSB3").latencyTimerMs);

  // A built-in port: its driver is the kernel's serial core, not worth a word.
  const fs::path builtIn = root / "devices/pnp0/00:00/00:00:0/00:00:0.0";
  fs::create_directories(builtIn);
  fs::create_directories(root / "bus/serial-base/drivers/port");
  fs::create_directory_symlink(root / "bus/serial-base/drivers/port", builtIn / "driver");
  fs::create_directories(root / "class/tty/ttyS0");
  fs::create_directory_symlink(builtIn, root / "class/tty/ttyS0/device");
  EXPECT_TRUE(UsbPortFacts::Read(root, "ttyS0").known);
  EXPECT_EQ(UsbPortFacts::Read(root, "ttyS0").driver, "");

  // No such port, no tree, and names that would leave the tree.
  for (const char* name : {"ttyUSB9", "..", "", "../ttyUSB3"})
    EXPECT_FALSE(UsbPortFacts::Read(root, name).known) << name;
  EXPECT_FALSE(UsbPortFacts::Read(root / "none", "ttyUSB3").known);
  fs::remove_all(root);
}
