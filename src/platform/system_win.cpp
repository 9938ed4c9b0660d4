#include <windows.h>
// After windows.h, which it builds on.
#include <timeapi.h>

#include <QCoreApplication>
#include <QDir>
#include <QSerialPort>
#include <QSerialPortInfo>

#include "platform/system.h"

namespace kline::sys {

QString PortFieldName(const QSerialPortInfo& info) {
  return info.portName();
}

bool NumbersAreComNames() {
  return true;
}

QString DeviceForNumber(int n, const QStringList&) {
  // Windows numbers its serial ports itself: port 7 is COM7, listed or not (a port that is not
  // there fails to open with its own message).
  return n > 0 ? QStringLiteral("COM%1").arg(n) : QString();
}

QString DeviceForName(const QString& name) {
  return name;
}

QString PermissionRefusal(const QString&, const QString& qtWhy) {
  // A COM port is opened by one program at a time, and the system does not say by which.
  return qtWhy + QStringLiteral(" (is another program using it?)");
}

void Drain(QSerialPort& port) {
  // On a COM port this returns once the driver has sent everything it was given.
  FlushFileBuffers(reinterpret_cast<HANDLE>(port.handle()));
}

std::string LossReason(QSerialPort& port, const std::string& device) {
  QString name = QString::fromStdString(device);
  // A port may be typed by the name the system locates it by.
  if (name.startsWith(QLatin1String("\\\\.\\"))) name = name.mid(4);
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
    if (info.portName().compare(name, Qt::CaseInsensitive) == 0)
      return "the device went away (" + port.errorString().toStdString() + ")";
  return "the adapter was unplugged (" + device + " is gone)";
}

std::string SetLowLatency(QSerialPort&, const std::string&) {
  // The USB adapter's latency is a setting of its driver here (see ReadLatencyFacts); nothing to
  // ask for at each connect.
  return {};
}

LatencyFacts ReadLatencyFacts(QSerialPort&, const QString&) {
  LatencyFacts f;
  f.note =
      "USB latency timer: on Windows a setting of the adapter's driver: Device Manager, Ports "
      "(COM & LPT), the adapter's COM port, Properties, Port Settings, Advanced, Latency Timer "
      "(1 to 4 ms suits the K-line best; the usual 16 ms slows every exchange)";
  return f;
}

void UseFineTimers() {
  // The system's timers tick every 15.6 ms unless a program asks for 1 ms; the pauses of an
  // exchange are a few ms each. Asked once for the life of the program.
  static const bool asked = timeBeginPeriod(1) == TIMERR_NOERROR;
  (void)asked;
}

bool IsSystemProgramFolder(const QString& dir) {
  const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(dir));
  for (const char* var : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432"}) {
    const QString system = QDir::cleanPath(QDir::fromNativeSeparators(qEnvironmentVariable(var)));
    if (!system.isEmpty() && (clean.compare(system, Qt::CaseInsensitive) == 0 ||
                              clean.startsWith(system + QLatin1Char('/'), Qt::CaseInsensitive)))
      return true;
  }
  return false;
}

void UseUtf8Console() {
  // The console shows the OEM code page unless told otherwise.
  SetConsoleOutputCP(CP_UTF8);
}

void SurviveClosedPipes() {
  // A write to a closed pipe fails here without a signal.
}

std::vector<std::string> Arguments(int, char**) {
  // `main` gets them in the ANSI code page, which cannot hold every user's folder names; Qt reads
  // them from the system in UTF-16.
  std::vector<std::string> out;
  const QStringList args = QCoreApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) out.push_back(args.at(i).toStdString());
  return out;
}

}  // namespace kline::sys
