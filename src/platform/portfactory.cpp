#include "platform/portfactory.h"

#include <QThread>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/qtserialportadapter.h"
#include "platform/system.h"

kline::PortFactory MakeDeviceFactory() {
  return [](const std::string&) -> std::unique_ptr<kline::SerialPort> {
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
