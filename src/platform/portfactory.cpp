#include "platform/portfactory.h"

#include <QThread>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/qtserialportadapter.h"
#include "platform/system.h"

// Where an install lays its mark, from the program's folder (see CMakeLists.txt).
#ifndef KLINE_INSTALL_MARK
#define KLINE_INSTALL_MARK "../share/klinediag/installed.txt"
#endif

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
  // An installed program keeps its settings in the user's configuration folder: one in the
  // system's program folders (also when run as root, to whom they are writable) and one in any
  // prefix, beside whose folder the install laid its mark.
  const bool installed = kline::sys::IsSystemProgramFolder(dir) ||
                         QFileInfo::exists(QDir(dir).filePath(QStringLiteral(KLINE_INSTALL_MARK)));
  if (!dir.isEmpty() && !installed && dirInfo.isDir() && dirInfo.isWritable())
    return QDir(dir).filePath(file);
  QString conf = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(conf);
  return QDir(conf).filePath(file);
}
