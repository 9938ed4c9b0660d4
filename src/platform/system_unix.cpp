#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <optional>

#include "platform/system.h"

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#endif

namespace kline::sys {

namespace {

#ifdef Q_OS_LINUX
// The sysfs folder of a USB serial adapter's device node (a link is followed to its target).
std::string usbSerialFolder(const QString& device) {
  const std::string real = QFileInfo(device).canonicalFilePath().toStdString();
  return "/sys/bus/usb-serial/devices/" + real.substr(real.find_last_of('/') + 1);
}
#endif

// The lock files a port's users leave, LCK..NAME in the folders serial programs (Qt's own among
// them) keep them in; NAME is the device's path under /dev/, or its whole path, with "_" for "/".
// The device's own path and, for a link, its target's.
QStringList lockFiles(const QString& device) {
  QStringList names;
  for (const QString& path : {device, QFileInfo(device).canonicalFilePath()}) {
    if (path.isEmpty()) continue;
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (!names.contains(name)) names << name;
  }
  QStringList files;
  for (const QString& dir :
       {QStringLiteral("/var/lock"), QStringLiteral("/etc/locks"),
        QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"),
        QStringLiteral("/tmp"), QStringLiteral("/var/tmp"), QStringLiteral("/var/lock/lockdev"),
        QStringLiteral("/run/lock"), QDir::tempPath()})
    for (const QString& name : names) files << dir + QStringLiteral("/LCK..") + name;
  return files;
}

// The program a process runs, by the name it was started as.
QString programName([[maybe_unused]] long pid) {
#ifdef Q_OS_LINUX
  std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string first;
  if (std::getline(cmdline, first, '\0') && !first.empty())
    return QFileInfo(QString::fromLocal8Bit(first)).fileName();
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  if (std::getline(comm, first)) return QString::fromLocal8Bit(first);
#endif
  return {};
}

struct LockHolder {
  long pid = 0;
  QString name;
};

// The running program whose lock file holds `device`: the file's first line is its pid (in
// decimal, maybe after blanks); Qt's lock files have the program's name on the second.
std::optional<LockHolder> lockHolder(const QString& device) {
  for (const QString& path : lockFiles(device)) {
    std::ifstream in(QFile::encodeName(path).toStdString());
    std::string first, second;
    if (!std::getline(in, first)) continue;
    std::getline(in, second);
    const std::size_t digits = first.find_first_not_of(' ');
    LockHolder h;
    if (digits == std::string::npos ||
        std::from_chars(first.data() + digits, first.data() + first.size(), h.pid).ec !=
            std::errc() ||
        h.pid <= 0)
      continue;
    // A lock left by a program that has ended holds nothing.
    if (::kill(static_cast<pid_t>(h.pid), 0) != 0 && errno != EPERM) continue;
    h.name = programName(h.pid);
    if (h.name.isEmpty()) h.name = QString::fromLocal8Bit(second).trimmed();
    return h;
  }
  return std::nullopt;
}

}  // namespace

QString PortFieldName(const QSerialPortInfo& info) {
  return info.systemLocation();
}

bool NumbersAreComNames() {
  return false;
}

QString DeviceForNumber(int n, const QStringList& ports) {
  return n >= 1 && n <= ports.size() ? ports.at(n - 1) : QString();
}

QString DeviceForName(const QString& name) {
  return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

QString PermissionRefusal(const QString& device, const QString& qtWhy) {
  if (const std::optional<LockHolder> h = lockHolder(device))
    return h->name.isEmpty()
               ? QStringLiteral("in use by the program with pid %1").arg(h->pid)
               : QStringLiteral("in use by %1 (pid %2)").arg(h->name, QString::number(h->pid));
  // A program that holds the device for itself alone makes the system refuse a second open.
  if (qtWhy == QString::fromLocal8Bit(std::strerror(EBUSY)))
    return QStringLiteral("in use by another program");
  // Allowed to read and write it (root always is), yet refused: not a matter of groups.
  if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0)
    return qtWhy + QStringLiteral(" (is another program using it?)");
  return qtWhy + QStringLiteral(" (is your user in the dialout group?)");
}

void Drain(QSerialPort& port) {
  tcdrain(static_cast<int>(port.handle()));
}

std::string LossReason(QSerialPort& port, const std::string& device) {
  // Qt reads errno after a read that returned nothing, which is stale then: ask the line itself.
  pollfd pfd{static_cast<int>(port.handle()), POLLIN, 0};
  if (::poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLHUP))
    return "the line hung up (the adapter was unplugged, or the program serving it ended)";
  if (!QFileInfo::exists(QString::fromStdString(device)))
    return "the device was removed (" + device + " is gone)";
  return "the device went away (" + port.errorString().toStdString() + ")";
}

std::string SetLowLatency([[maybe_unused]] QSerialPort& port,
                          [[maybe_unused]] const std::string& device) {
#ifdef Q_OS_LINUX
  // USB adapters hold received bytes for their latency timer (16 ms on common chips); the
  // driver's low-latency flag passes them on at once.
  const int fd = static_cast<int>(port.handle());
  // The device node may be a link (a stable name, or a pty's): its driver is the target's.
  const std::string usbFolder = usbSerialFolder(QString::fromStdString(device));
  const bool usb = QFileInfo::exists(QString::fromStdString(usbFolder));
  serial_struct ss{};
  const bool supported = ::ioctl(fd, TIOCGSERIAL, &ss) == 0;
  if (supported) {
    ss.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &ss) == 0) return {};
  }
  // A line whose driver has no such setting (a pseudo-terminal, a built-in UART without it)
  // loses nothing by it; only a USB adapter or a driver that refused the setting is worth a word.
  if (!supported && !usb) return {};
  std::string why = std::strerror(errno);
  std::string latency;
  std::ifstream timer(usbFolder + "/latency_timer");
  if (timer >> latency)
    latency = ", latency timer " + latency + " ms";
  else
    latency.clear();
  return "low-latency mode not available on " + device + " (" + why + latency + ")";
#else
  return {};
#endif
}

LatencyFacts ReadLatencyFacts([[maybe_unused]] QSerialPort& port,
                              [[maybe_unused]] const QString& device) {
  LatencyFacts f;
#ifdef Q_OS_LINUX
  serial_struct ss{};
  if (::ioctl(static_cast<int>(port.handle()), TIOCGSERIAL, &ss) == 0)
    f.lowLatency = (ss.flags & ASYNC_LOW_LATENCY) != 0;
  std::ifstream timer(usbSerialFolder(device) + "/latency_timer");
  int latency = 0;
  if (timer >> latency) f.latencyTimerMs = latency;
#endif
  return f;
}

void UseFineTimers() {
#ifdef Q_OS_LINUX
  // The pauses of an exchange are a few ms each; the kernel's default 50 us of timer slack on
  // every one of them adds up over a cycle of a dozen requests.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

bool IsSystemProgramFolder(const QString& dir) {
  for (const char* system : {"/usr/", "/bin", "/sbin", "/opt/"})
    if (dir.startsWith(QLatin1String(system))) return true;
  return false;
}

void UseUtf8Console() {
  // Terminals here take UTF-8 as it is.
}

void SurviveClosedPipes() {
  ::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> Arguments(int argc, char** argv) {
  // The bytes as they came: file names are taken as given.
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace kline::sys
