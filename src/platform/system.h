#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

class QSerialPort;
class QSerialPortInfo;

namespace kline {

// What differs between the systems at the Qt edge, beyond what Qt itself covers: the serial
// driver's extra settings, the names of ports, and the program's surroundings. Each system has
// its own file (system_unix.cpp, system_win.cpp); the build takes the one it runs on.
namespace sys {

// What names a port in the port field: its device path on unix ("/dev/ttyUSB0"), its COM name
// on Windows ("COM7", not the "\\.\COM7" the system locates it by).
QString PortFieldName(const QSerialPortInfo& info);
// Whether a port number N is the system's own COMN rather than the N-th listed port.
bool NumbersAreComNames();
// The device a port number N names: the N-th of `ports` (the machine's ports, USB adapters
// first), or COMN where the system numbers its ports itself. Empty when there is no such port.
QString DeviceForNumber(int n, const QStringList& ports);
// The device a port name names (a bare name on unix means /dev/NAME).
QString DeviceForName(const QString& name);
// Why opening `device` was refused when Qt calls it a permission error (in `qtWhy`), in words the
// user can act on: the device is in use, by whom where the system tells ("in use by klinediag (pid
// 4242)"), or the user may not open it, with what to do about it.
QString PermissionRefusal(const QString& device, const QString& qtWhy);

// Lets the bytes still queued in the driver leave at the current rate (before the rate changes).
void Drain(QSerialPort& port);
// Why the open `device` went away, in words the user can act on.
std::string LossReason(QSerialPort& port, const std::string& device);
// Asks the driver to pass received bytes on at once. A notice for the user where it would matter
// and cannot be had; empty otherwise.
std::string SetLowLatency(QSerialPort& port, const std::string& device);

// What the adapter check tells about the adapter's latency.
struct LatencyFacts {
  std::optional<bool> lowLatency;     // the driver's low-latency flag, where it has one
  std::optional<int> latencyTimerMs;  // a USB adapter's latency timer, where the system shows it
  std::string note;                   // where the setting lives instead, when neither is shown
};
LatencyFacts ReadLatencyFacts(QSerialPort& port, const QString& device);

// Makes the session's pauses of a few ms last what they ask for (the timers' slack or period).
void UseFineTimers();
// Whether `dir` is a system-wide program folder, where a user's settings do not belong.
bool IsSystemProgramFolder(const QString& dir);
// Lets a terminal show the program's UTF-8 output (degree signs, dashes) as such.
void UseUtf8Console();
// A write to a pipe whose reader has gone (`| head -2`) fails instead of killing the program, so
// that it can end its session and records before it exits.
void SurviveClosedPipes();
// The program's arguments after its name, as UTF-8 text whatever the system gives `main` (the ANSI
// code page on Windows). Needs the application object.
std::vector<std::string> Arguments(int argc, char** argv);

}  // namespace sys
}  // namespace kline
