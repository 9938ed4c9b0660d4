#include "platform/qtserialportadapter.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>

#include "platform/portlist.h"
#include "platform/system.h"

namespace kline {

namespace {

QSerialPort::Parity toQtParity(char p) {
  switch (p) {
    case 'e':
    case 'E':
      return QSerialPort::EvenParity;
    case 'o':
    case 'O':
      return QSerialPort::OddParity;
    case 'm':
    case 'M':
      return QSerialPort::MarkParity;
    case 's':
    case 'S':
      return QSerialPort::SpaceParity;
    default:
      return QSerialPort::NoParity;
  }
}

char fromQtParity(QSerialPort::Parity p) {
  switch (p) {
    case QSerialPort::EvenParity:
      return 'e';
    case QSerialPort::OddParity:
      return 'o';
    case QSerialPort::MarkParity:
      return 'm';
    case QSerialPort::SpaceParity:
      return 's';
    default:
      return 'n';
  }
}

QSerialPort::StopBits toQtStopBits(int s) {
  return s == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
}

QSerialPort::DataBits toQtDataBits(int d) {
  switch (d) {
    case 5:
      return QSerialPort::Data5;
    case 6:
      return QSerialPort::Data6;
    case 7:
      return QSerialPort::Data7;
    default:
      return QSerialPort::Data8;
  }
}

bool allDigits(const QString& s) {
  if (s.isEmpty()) return false;
  return std::all_of(s.begin(), s.end(), [](QChar c) { return c.isDigit(); });
}

}  // namespace

QtSerialPortAdapter::QtSerialPortAdapter() = default;

QtSerialPortAdapter::~QtSerialPortAdapter() {
  if (port_ && port_->isOpen()) port_->close();
}

QStringList QtSerialPortAdapter::AvailablePorts() {
  // The port chooser's numbers, from the same list: the same number opens the same port.
  QStringList out;
  for (const std::string& device : PortList::NumberedDevices(PortList::Scan()))
    out << QString::fromStdString(device);
  return out;
}

QString QtSerialPortAdapter::ResolveDevice(const QString& spec, const QStringList& ports,
                                           QString* error) {
  QString s = spec.trimmed();
  if (allDigits(s)) {
    bool ok = false;
    const int n = s.toInt(&ok);
    if (ok) {
      const QString device = sys::DeviceForNumber(n, ports);
      if (!device.isEmpty()) return device;
    }
    if (error) {
      // Name what there is, so the user can pick the right number or type the device.
      *error = ports.isEmpty() ? QStringLiteral("no serial port number %1; found none").arg(s)
                               : QStringLiteral("no serial port number %1; found %2: %3")
                                     .arg(s)
                                     .arg(ports.size())
                                     .arg(ports.join(QStringLiteral(", ")));
    }
    return {};
  }
  if (s.isEmpty()) {
    if (error) *error = QStringLiteral("no port given");
    return {};
  }
  return sys::DeviceForName(s);
}

std::string QtSerialPortAdapter::OpenFailure(const QSerialPort& port, const QString& device) {
  switch (port.error()) {
    case QSerialPort::PermissionError:
      return sys::PermissionRefusal(device, port.errorString()).toStdString();
    case QSerialPort::DeviceNotFoundError:
      return "no such device";
    default:
      return port.errorString().toStdString();
  }
}

std::string QtSerialPortAdapter::deviceName() const {
  return device_.empty() ? CommPort : device_;
}

bool QtSerialPortAdapter::watching() const {
  return port_ && port_->isOpen();
}

bool QtSerialPortAdapter::isOpen() const {
  // A device that went away counts as closed, so the window's exchanges stop at once.
  return port_ && port_->isOpen() && !dead_;
}

void QtSerialPortAdapter::noteError(int error) {
  switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
      // The device went away: Qt keeps reporting it open, its read notifier keeps firing on the
      // hung-up line and every wait returns at once. Stop watching it: the port is closed as
      // soon as Qt is done with this error (closing it inside Qt's own notification is not
      // safe), and counts as closed from now on.
      if (port_ && port_->isOpen() && !dead_) {
        dead_ = true;
        const std::string why = lossReason();
        QSerialPort* p = port_.get();
        QMetaObject::invokeMethod(
            p,
            [p] {
              if (p->isOpen()) p->close();
              p->clearError();
            },
            Qt::QueuedConnection);
        reportLost(why);
      }
      break;
    default:
      break;
  }
}

std::string QtSerialPortAdapter::lossReason() const {
  return sys::LossReason(*port_, device_);
}

void QtSerialPortAdapter::doOpen() {
  openError_.clear();
  dead_ = false;
  clearLost();
  received_ = false;
  QString error;
  QString device = ResolveDevice(QString::fromStdString(CommPort), AvailablePorts(), &error);
  device_ = device.toStdString();
  if (device.isEmpty()) {
    openError_ = error.toStdString();
    return;
  }
  if (!port_) {
    port_ = std::make_unique<QSerialPort>();
    // Time-outs of the wait calls are the normal way of polling here; only loss of the device
    // matters.
    QObject::connect(port_.get(), &QSerialPort::errorOccurred,
                     [this](QSerialPort::SerialPortError e) { noteError(e); });
  }
  if (port_->isOpen()) port_->close();
  LineSettings ls = parseSettings(Settings);
  port_->setPortName(device);
  port_->setBaudRate(ls.baud);
  port_->setDataBits(toQtDataBits(ls.dataBits));
  port_->setParity(toQtParity(ls.parity));
  port_->setStopBits(toQtStopBits(ls.stopBits));
  port_->setFlowControl(QSerialPort::NoFlowControl);
  if (!port_->open(QIODevice::ReadWrite)) {
    openError_ = OpenFailure(*port_, device);
    port_->clearError();
    return;
  }
  // A pty has no modem lines; nothing else is affected, so carry on.
  if (!port_->setDataTerminalReady(DTREnable)) port_->clearError();
  if (!port_->setRequestToSend(RTSEnable)) port_->clearError();
  port_->clear();
  setLowLatency();
}

void QtSerialPortAdapter::setLowLatency() {
  const std::string notice = sys::SetLowLatency(*port_, device_);
  if (!notice.empty()) reportNotice(notice);
}

void QtSerialPortAdapter::doClose() {
  if (port_ && port_->isOpen()) port_->close();
  if (port_) port_->clearError();
  dead_ = false;
}

void QtSerialPortAdapter::doWrite(const ByteString& bytes) {
  if (!isOpen() || dead_) return;
  port_->write(bytes.data(), static_cast<qint64>(bytes.size()));
  port_->flush();
  while (!dead_ && port_->bytesToWrite() > 0) {
    if (!port_->waitForBytesWritten(100)) break;
  }
}

void QtSerialPortAdapter::pump() {
  if (!isOpen() || dead_) return;
  while (port_->waitForReadyRead(0)) {
  }
  if (port_->bytesAvailable() > 0) received_ = true;
}

ByteString QtSerialPortAdapter::doReadAll() {
  if (!isOpen()) return {};
  pump();
  QByteArray data = port_->readAll();
  return ByteString(data.constData(), static_cast<std::size_t>(data.size()));
}

int QtSerialPortAdapter::inBufferCount() {
  if (!isOpen()) return 0;
  pump();
  return static_cast<int>(port_->bytesAvailable());
}

int16_t QtSerialPortAdapter::commEvent() {
  pump();
  return received_ ? kEventReceive : kEventNone;
}

bool QtSerialPortAdapter::sleepUntilWaiting(int count, int ms) {
  if (ms <= 0) return true;
  QElapsedTimer t;
  t.start();
  if (isOpen() && !dead_) {
    while (port_->bytesAvailable() < count) {
      qint64 remaining = ms - t.elapsed();
      if (remaining <= 0) return true;
      if (!port_->waitForReadyRead(static_cast<int>(remaining))) break;
      received_ = true;
    }
    if (port_->bytesAvailable() >= count) return true;
  }
  // Closed, gone, or a wait that failed early: never let the caller spin.
  qint64 rest = ms - t.elapsed();
  if (rest > 0) QThread::msleep(static_cast<unsigned long>(rest));
  return true;
}

bool QtSerialPortAdapter::getLineSettings(LineSettings& out) {
  if (!isOpen()) return false;
  out.baud = port_->baudRate();
  out.dataBits = static_cast<int>(port_->dataBits());
  out.parity = fromQtParity(port_->parity());
  out.stopBits = port_->stopBits() == QSerialPort::TwoStop ? 2 : 1;
  return true;
}

bool QtSerialPortAdapter::doSetLineSettings(const LineSettings& in) {
  if (!isOpen()) return false;
  // Qt switches the rate at once: let the bytes still in the driver leave at the old one.
  if (!dead_) sys::Drain(*port_);
  bool ok = true;
  if (port_->baudRate() != in.baud) ok = port_->setBaudRate(in.baud) && ok;
  if (port_->dataBits() != toQtDataBits(in.dataBits))
    ok = port_->setDataBits(toQtDataBits(in.dataBits)) && ok;
  if (port_->parity() != toQtParity(in.parity)) ok = port_->setParity(toQtParity(in.parity)) && ok;
  if (port_->stopBits() != toQtStopBits(in.stopBits))
    ok = port_->setStopBits(toQtStopBits(in.stopBits)) && ok;
  if (!ok) port_->clearError();
  return ok;
}

}  // namespace kline
