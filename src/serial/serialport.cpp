#include "serial/serialport.h"

#include <sstream>

#include "ui/eventsink.h"

namespace kline {

void SerialPort::open() {
  doOpen();
  if (sink_) sink_->onOpen(isOpen());
}

void SerialPort::close() {
  doClose();
  if (sink_) sink_->onClose();
}

void SerialPort::write(const ByteString& bytes) {
  if (sink_) sink_->onTx(bytes);
  doWrite(bytes);
}

ByteString SerialPort::readAll() {
  ByteString b = doReadAll();
  if (sink_ && !b.empty()) sink_->onRx(b);
  return b;
}

bool SerialPort::setLineSettings(const LineSettings& in) {
  return doSetLineSettings(in);
}

void SerialPort::reportLost(const std::string& reason) {
  if (lost()) return;
  lostReason_ = reason.empty() ? "the device went away" : reason;
  if (onLost_) onLost_(lostReason_);
  if (sink_) sink_->onLost(lostReason_);
}

void SerialPort::reportNotice(const std::string& text) {
  if (sink_) sink_->onNotice(text);
}

void SerialPort::reportBaud(int32_t baud, bool ok) {
  if (sink_) sink_->onBaud(baud, ok);
}

std::optional<PortError> SetBaudRate(SerialPort& Com, int32_t baud) {
  std::optional<PortError> err;
  LineSettings dcb;
  if (!Com.isOpen()) {
    err = PortError{8018, Com.name(), "Operation valid only when the port is open"};
  } else if (!Com.getLineSettings(dcb)) {
    err = PortError{8021, Com.name(), "Could not read current state of the port"};
  } else {
    dcb.baud = baud;
    if (!Com.setLineSettings(dcb))
      err = PortError{8015, Com.name(), "Could not set port to specified baud rate"};
  }
  Com.reportBaud(baud, !err);
  return err;
}

LineSettings parseSettings(const std::string& settings) {
  LineSettings s;
  std::istringstream in(settings);
  std::string field;
  int i = 0;
  while (std::getline(in, field, ',')) {
    try {
      switch (i) {
        case 0:
          s.baud = std::stoi(field);
          break;
        case 1:
          if (!field.empty()) s.parity = static_cast<char>(std::tolower(field[0]));
          break;
        case 2:
          s.dataBits = std::stoi(field);
          break;
        case 3:
          s.stopBits = std::stoi(field);
          break;
      }
    } catch (...) {
    }
    ++i;
  }
  return s;
}

}  // namespace kline
