#include "platform/portfactory.h"

#include <QThread>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/qtserialportadapter.h"
#include "platform/system.h"
#include "sim/simecu.h"

kline::PortFactory MakePortFactory(kline::Host& host, std::shared_ptr<const kline::SimConfig> sim) {
  if (!sim) {
    sim = std::make_shared<const kline::SimConfig>(
        kline::SimConfig::FromJson("{}", kline::EcuType::E15m));
  }
  return [&host, sim](const std::string& spec) -> std::unique_ptr<kline::SerialPort> {
    if (QString::fromStdString(spec).trimmed().compare(QLatin1String("sim"), Qt::CaseInsensitive) ==
        0) {
      auto port = std::make_unique<kline::SimEcu>(*sim, [&host] { return host.micros(); });
      // On the real clock the simulated line wakes waits when its bytes arrive, like a device.
      port->setSleeper([](int64_t us) { QThread::usleep(static_cast<unsigned long>(us)); });
      return port;
    }
    return std::make_unique<kline::QtSerialPortAdapter>();
  };
}

QString DefaultSettingsPath() {
  QFileInfo exe(QCoreApplication::applicationFilePath());
  QString dir = QCoreApplication::applicationDirPath();
  QString file = exe.completeBaseName() + QStringLiteral(".ini");
  QFileInfo dirInfo(dir);
  // An installed program keeps its settings in the user's configuration folder, also when run
  // as root (to whom the system's program folder is writable).
  const bool installed = kline::sys::IsSystemProgramFolder(dir);
  if (!dir.isEmpty() && !installed && dirInfo.isDir() && dirInfo.isWritable())
    return QDir(dir).filePath(file);
  QString conf = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(conf);
  return QDir(conf).filePath(file);
}
