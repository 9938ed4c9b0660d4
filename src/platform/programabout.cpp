#include "platform/programabout.h"

#include <QDateTime>
#include <QSysInfo>
#include <QtGlobal>

#ifndef KLINE_BUILD_TYPE
#define KLINE_BUILD_TYPE "unknown"
#endif

namespace kline {

namespace {

const char* Compiler() {
#if defined(__clang__)
  return "clang " __clang_version__;
#elif defined(__GNUC__)
  return "gcc " __VERSION__;
#elif defined(_MSC_VER)
  return "MSVC";
#else
  return "unknown";
#endif
}

}  // namespace

std::string ProgramAbout(const std::string& program) {
  auto s = [](const QString& q) { return q.toStdString(); };
  return program + " " + KLINE_VERSION + "\nbuild: " + KLINE_BUILD_TYPE + ", " + Compiler() +
         "\nsystem: " + s(QSysInfo::prettyProductName()) + " (" + s(QSysInfo::productType()) + " " +
         s(QSysInfo::productVersion()) + ")\nkernel: " + s(QSysInfo::kernelType()) + " " +
         s(QSysInfo::kernelVersion()) + "\ncpu: " + s(QSysInfo::currentCpuArchitecture()) +
         "\nQt: " + qVersion() + " (built with " + QT_VERSION_STR + ")\n";
}

std::string LocalTimeText() {
  return QDateTime::currentDateTime()
      .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
      .toString(Qt::ISODate)
      .toStdString();
}

}  // namespace kline
