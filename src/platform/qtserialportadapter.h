#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <string>

#include "serial/serialport.h"

class QSerialPort;

namespace kline {

// The port object on a real serial device through QSerialPort.
//
// The session thread has no notifier running while the logic blocks, so QSerialPort moves bytes
// only inside its wait calls: counting and waiting therefore pump waitForReadyRead, and writing
// flushes until the bytes have left Qt's buffer. The QSerialPort is created at the first open,
// inside the thread that uses it.
class QtSerialPortAdapter : public SerialPort {
 public:
  QtSerialPortAdapter();
  ~QtSerialPortAdapter() override;

  bool isOpen() const override;
  int inBufferCount() override;
  int16_t commEvent() override;
  bool getLineSettings(LineSettings& out) override;
  bool sleepUntilWaiting(int count, int ms) override;
  std::string name() const override { return "MSComm1"; }
  std::string openError() const override { return openError_; }
  std::string deviceName() const override;

  // True once the device went away (adapter unplugged) while open.
  bool dead() const { return dead_; }
  // Whether the device is still open underneath and watched for incoming bytes.
  bool watching() const;

  // The serial ports of the machine in the order a port number counts them, as the port list
  // numbers them (PortList::Ordered: USB adapters first, then by name).
  static QStringList AvailablePorts();
  // The device a port field text names: the N-th entry of AvailablePorts() for a number N (COMN
  // on Windows), else the name itself, a bare name on unix meaning /dev/NAME. Empty, with
  // `error` filled, when there is no such port.
  static QString ResolveDevice(const QString& spec, const QStringList& ports, QString* error);
  // Why `port` did not open `device`, in words the user can act on.
  static std::string OpenFailure(const QSerialPort& port, const QString& device);

 protected:
  void doOpen() override;
  void doClose() override;
  void doWrite(const ByteString& bytes) override;
  ByteString doReadAll() override;
  bool doSetLineSettings(const LineSettings& in) override;

 private:
  void pump();
  void setLowLatency();
  void noteError(int error);
  // Why the open device went away, in words the user can act on.
  std::string lossReason() const;

  std::unique_ptr<QSerialPort> port_;
  std::string device_;
  std::string openError_;
  bool dead_ = false;
  bool received_ = false;
};

}  // namespace kline
