#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/eventsink.h"

namespace kline {

// Line settings as the OS keeps them for an open port (baud, size, parity, stop bits).
struct LineSettings {
  int32_t baud = 1200;
  int dataBits = 8;
  char parity = 'n';
  int stopBits = 1;
};

// Error record of SetBaudRate: number, source (the port's name) and message.
struct PortError {
  int number = 0;
  std::string source;
  std::string message;
  bool operator==(const PortError&) const = default;
};

// Event codes of the port's "last event".
enum : int16_t { kEventNone = 0, kEventReceive = 2 };

// The serial port object the windows talk through. Properties are set while the port is closed and
// take effect at open. Implementations: the simulated ECU (sim/) and the Qt adapter (platform/).
// Every call comes from the session thread; nothing here blocks on the line.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Properties (design names kept): port spec as typed in the port field ("1", "COM7",
  // "/dev/ttyUSB0", "sim"), the modem lines, the event thresholds and the settings text.
  std::string CommPort = "1";
  bool DTREnable = false;
  bool RTSEnable = false;
  int16_t RThreshold = 0;
  int16_t SThreshold = 0;
  std::string Settings = "1200,n,8,1";

  // Opens with the current properties; on failure the port stays closed and openError() says why.
  void open();
  void close();
  virtual bool isOpen() const = 0;
  // Queues the bytes for sending and returns at once.
  void write(const ByteString& bytes);
  // Every waiting byte, in arrival order; empties the receive buffer.
  ByteString readAll();
  // Number of bytes in the receive buffer.
  virtual int inBufferCount() = 0;
  virtual int16_t commEvent() = 0;

  // The device-control block of the open port.
  virtual bool getLineSettings(LineSettings& out) = 0;
  bool setLineSettings(const LineSettings& in);

  // Everything that passes through the port is reported here (tx, rx, open, close, baud).
  void setEventSink(EventSink* sink) { sink_ = sink; }
  void reportBaud(int32_t baud, bool ok);

  // The device went away while open (an adapter unplugged): the port then counts as closed.
  bool lost() const { return !lostReason_.empty(); }
  const std::string& lostReason() const { return lostReason_; }
  // Called once when the device is lost, with the reason.
  void setLostHandler(std::function<void(const std::string&)> h) { onLost_ = std::move(h); }

  // Sleeps at most ms but returns as soon as `count` bytes wait. Returns false when the port cannot
  // wait by itself; the caller then sleeps through the host. The simulated port never waits, so
  // virtual time stays exact.
  virtual bool sleepUntilWaiting(int /*count*/, int /*ms*/) { return false; }

  // The port's name, used as the source of reported errors.
  virtual std::string name() const { return "MSComm1"; }
  // Why the last open failed (empty when it did not).
  virtual std::string openError() const { return {}; }
  // A description of the device actually opened, for messages ("/dev/ttyUSB0", "sim").
  virtual std::string deviceName() const { return CommPort; }

 protected:
  // For implementations: the device is gone (first call counts), or a remark for the status line.
  void reportLost(const std::string& reason);
  void reportNotice(const std::string& text);
  void clearLost() { lostReason_.clear(); }

  virtual void doOpen() = 0;
  virtual void doClose() = 0;
  virtual void doWrite(const ByteString& bytes) = 0;
  virtual ByteString doReadAll() = 0;
  virtual bool doSetLineSettings(const LineSettings& in) = 0;

 private:
  EventSink* sink_ = nullptr;
  std::string lostReason_;
  std::function<void(const std::string&)> onLost_;
};

// Sets the open port's baud rate in its device-control block, keeping every other setting.
// Returns the error record on failure (8018 closed, 8021 unreadable, 8015 refused).
std::optional<PortError> SetBaudRate(SerialPort& Com, int32_t baud);

// Parses the settings text "1200,n,8,1"; missing or bad fields keep their defaults.
LineSettings parseSettings(const std::string& settings);

// Makes the port object for the text of the port field ("sim", a device, a number).
using PortFactory = std::function<std::unique_ptr<SerialPort>(const std::string& spec)>;

}  // namespace kline
