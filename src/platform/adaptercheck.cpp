#include "platform/adaptercheck.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "platform/portlist.h"
#include "platform/qtserialportadapter.h"
#include "platform/system.h"
#include "serial/text.h"

namespace kline {

namespace {

constexpr std::array<uint8_t, 4> kPattern = {0x5A, 0xA5, 0x3C, 0xC3};

// Every request code the windows send to an ECU (the trimmer's values 00..FE follow 8D in
// diagnostic mode only, which the check never enters).
constexpr bool IsRequestCode(uint8_t b) {
  return (b >= 0x01 && b <= 0x0B) || b == 0x0F || b == 0x10 || b == 0x11 ||
         (b >= 0x15 && b <= 0x28) || b == 0x3A || b == 0x71 || b == 0x72 ||
         (b >= 0x80 && b <= 0x8D) || b == 0xAA || b == 0xCC || b == 0xFF;
}
static_assert(std::none_of(kPattern.begin(), kPattern.end(), IsRequestCode),
              "the check must not send a request code");

// Reads what arrives until `enough` bytes are there or `ms` pass; returns the time of the last
// byte (ms since `since`), or -1 when nothing came.
double readFor(QSerialPort& port, ByteString& into, std::size_t enough, int ms,
               const QElapsedTimer& since) {
  QElapsedTimer t;
  t.start();
  double last = -1;
  while (into.size() < enough && t.elapsed() < ms) {
    if (!port.waitForReadyRead(static_cast<int>(std::max<qint64>(1, ms - t.elapsed())))) break;
    QByteArray got = port.readAll();
    if (!got.isEmpty()) {
      into.append(got.constData(), static_cast<std::size_t>(got.size()));
      last = static_cast<double>(since.nsecsElapsed()) / 1e6;
    }
  }
  return last;
}

// Reads and drops what arrives until the line has been quiet for `quietMs` (at most `maxMs`).
int drain(QSerialPort& port, int quietMs, int maxMs) {
  QElapsedTimer t;
  t.start();
  int dropped = 0;
  while (t.elapsed() < maxMs) {
    if (!port.waitForReadyRead(quietMs)) break;
    dropped += static_cast<int>(port.readAll().size());
  }
  return dropped + static_cast<int>(port.readAll().size());
}

}  // namespace

ByteString AdapterCheck::Pattern() {
  return ByteString(reinterpret_cast<const char*>(kPattern.data()), kPattern.size());
}

bool AdapterReport::ok() const {
  return opened() && !rates.empty() &&
         std::all_of(rates.begin(), rates.end(), [](const AdapterRateResult& r) {
           return r.outcome == AdapterRateResult::Outcome::EchoOk;
         });
}

const char* OutcomeName(AdapterRateResult::Outcome o) {
  switch (o) {
    case AdapterRateResult::Outcome::EchoOk:
      return "echo OK";
    case AdapterRateResult::Outcome::NoEcho:
      return "no echo";
    case AdapterRateResult::Outcome::Garbled:
      return "garbled echo";
    case AdapterRateResult::Outcome::RateRefused:
      return "rate refused by the driver";
  }
  return "";
}

AdapterReport AdapterCheck::run(const std::string& spec, int echoWaitMs) {
  AdapterReport r;
  QString error;
  const QString device = QtSerialPortAdapter::ResolveDevice(
      QString::fromStdString(spec), QtSerialPortAdapter::AvailablePorts(), &error);
  r.device = device.isEmpty() ? spec : device.toStdString();
  if (device.isEmpty()) {
    r.openError = error.toStdString();
    return r;
  }
  QSerialPort port;
  port.setPortName(device);
  port.setBaudRate(1200);
  port.setDataBits(QSerialPort::Data8);
  port.setParity(QSerialPort::NoParity);
  port.setStopBits(QSerialPort::OneStop);
  port.setFlowControl(QSerialPort::NoFlowControl);
  if (!port.open(QIODevice::ReadWrite)) {
    r.openError = QtSerialPortAdapter::OpenFailure(port, device);
    return r;
  }
  // A pty has no modem lines; a cable powered by them needs them on.
  if (!port.setDataTerminalReady(true)) port.clearError();
  if (!port.setRequestToSend(true)) port.clearError();

  const sys::LatencyFacts latency = sys::ReadLatencyFacts(port, device);
  r.lowLatency = latency.lowLatency;
  r.latencyTimerMs = latency.latencyTimerMs;
  r.latencyNote = latency.note;
  // The chip: by Qt's ids, else the device tree's, which also tells the driver and the timer.
  const UsbPortFacts facts = PortList::UsbFactsOf(device.toStdString());
  const QSerialPortInfo info(port);
  std::optional<uint16_t> vid = facts.vendorId, pid = facts.productId;
  if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
    vid = info.vendorIdentifier();
    pid = info.productIdentifier();
  }
  if (vid && pid) {
    PortRecord ids;
    ids.vendorId = vid;
    ids.productId = pid;
    r.usbId = ids.usbId();
    r.chip = FindUsbChip(*vid, *pid);
  }
  r.driver = facts.driver;
  if (facts.latencyTimerMs) r.latencyTimerMs = facts.latencyTimerMs;
  r.latencyTimerFile = facts.latencyTimerFile.string();

  const ByteString pattern = Pattern();
  bool first = true;
  for (int baud : Rates()) {
    AdapterRateResult res;
    res.baud = baud;
    if (!port.setBaudRate(baud) || port.baudRate() != baud) {
      port.clearError();
      res.outcome = AdapterRateResult::Outcome::RateRefused;
      r.rates.push_back(res);
      continue;
    }
    // Whatever the line says on its own (an ECU waking up) is let by before the pattern goes.
    res.unasked = drain(port, 100, first ? 1500 : 500);
    first = false;
    QElapsedTimer t;
    t.start();
    port.write(pattern.data(), static_cast<qint64>(pattern.size()));
    while (port.bytesToWrite() > 0)
      if (!port.waitForBytesWritten(echoWaitMs)) break;
    double last = readFor(port, res.received, pattern.size(), echoWaitMs, t);
    // Anything more that comes at once belongs to the same answer.
    if (!res.received.empty()) {
      double more = readFor(port, res.received, res.received.size() + 64, 30, t);
      if (more >= 0) last = more;
    }
    res.roundTripMs = std::max(0.0, last);
    if (res.received.empty())
      res.outcome = AdapterRateResult::Outcome::NoEcho;
    else if (res.received.find(pattern) != ByteString::npos)
      res.outcome = AdapterRateResult::Outcome::EchoOk;
    else
      res.outcome = AdapterRateResult::Outcome::Garbled;
    r.rates.push_back(res);
  }
  port.close();
  return r;
}

namespace {

// The time `bytes` take on the wire at `baud`: 10 bits a byte (start, 8 data, stop).
double WireMs(std::size_t bytes, int baud) {
  return static_cast<double>(bytes) * 10 * 1000 / baud;
}

}  // namespace

std::optional<double> LatencyTimerAddedMs(const AdapterReport& r) {
  if (!r.latencyTimerMs || *r.latencyTimerMs <= 4) return std::nullopt;
  for (const AdapterRateResult& x : r.rates) {
    if (x.baud != 7812 || x.outcome != AdapterRateResult::Outcome::EchoOk) continue;
    // The echo of each byte comes as it is sent. The timer holds an answer back at most its own
    // time: a longer wait has another cause.
    const double wireMs = WireMs(x.received.size(), x.baud);
    return std::clamp(x.roundTripMs - wireMs, 0.0, static_cast<double>(*r.latencyTimerMs));
  }
  return std::nullopt;
}

int EchoExpectedUnderMs(int baud, std::size_t bytes, std::optional<int> latencyTimerMs) {
  if (baud <= 0) return 0;
  const double wireMs = WireMs(bytes, baud);
  return static_cast<int>(std::ceil(wireMs + latencyTimerMs.value_or(16) + 20));
}

std::vector<std::string> DescribeAdapterReport(const AdapterReport& r) {
  std::vector<std::string> out;
  if (!r.opened()) {
    out.push_back("cannot open port " + r.device + ": " + r.openError);
    return out;
  }
  out.push_back("port " + r.device + ": sent " + ToHex(AdapterCheck::Pattern(), " ") +
                " (not an ECU request) at each rate and read the echo");
  if (r.chip || !r.usbId.empty() || !r.driver.empty()) {
    std::string about;
    for (const std::string& more : {r.usbId, r.driver.empty() ? "" : "driver " + r.driver})
      if (!more.empty()) about += (about.empty() ? "" : ", ") + more;
    out.push_back("chip: " + std::string(r.chip ? r.chip->name : "not one klinediag knows") +
                  (about.empty() ? "" : " (" + about + ")"));
    if (r.chip)
      for (std::string_view note : r.chip->notes) out.push_back("  - " + std::string(note));
  }
  char ms[32];
  for (const AdapterRateResult& x : r.rates) {
    std::string line = std::to_string(x.baud) + " baud: " + OutcomeName(x.outcome);
    std::snprintf(ms, sizeof ms, "%.1f", x.roundTripMs);
    switch (x.outcome) {
      case AdapterRateResult::Outcome::EchoOk:
        line += ", " + std::to_string(x.received.size()) + " bytes back in " + ms + " ms";
        if (x.received.size() > AdapterCheck::Pattern().size())
          line += " (with other bytes: " + ToHex(x.received, " ") + ")";
        if (const int under = EchoExpectedUnderMs(x.baud, x.received.size(), r.latencyTimerMs);
            x.roundTripMs >= under)
          line += "; slow: expected under " + std::to_string(under) +
                  " ms: every exchange with the ECU waits as long (the adapter or its driver holds "
                  "the bytes back)";
        break;
      case AdapterRateResult::Outcome::NoEcho:
        line +=
            ": likely the adapter's K-line side is not powered (most take the bike's 12 V) or "
            "this is not the adapter's port";
        break;
      case AdapterRateResult::Outcome::Garbled:
        line += ": got " + ToHex(x.received, " ") + " in " + ms +
                " ms; likely the adapter cannot do this rate, or the line is noisy";
        break;
      case AdapterRateResult::Outcome::RateRefused:
        line += ": the adapter's driver does not take " + std::to_string(x.baud) + " baud";
        break;
    }
    out.push_back(line);
    if (x.unasked > 0)
      out.push_back(std::to_string(x.baud) + " baud: " + std::to_string(x.unasked) +
                    " bytes came unasked before the check (an ECU talking on the line?)");
  }
  // What the mode does for us: the driver passes each byte on as it comes rather than waiting to
  // fill a buffer; the kernel's FTDI driver runs the latency timer at 1 ms meanwhile.
  if (r.lowLatency)
    out.push_back(std::string("low-latency mode: ") + (*r.lowLatency ? "on" : "off") +
                  " (klinediag asks for it whenever it opens the port: the driver then passes "
                  "each byte on as it comes" +
                  (r.driver == "ftdi_sio" ? "; this driver also runs the latency timer at 1 ms "
                                            "while it is on)"
                                          : ")"));
  else if (r.latencyNote.empty())
    out.push_back("low-latency mode: not offered by this driver");
  if (r.latencyTimerMs)
    out.push_back("USB latency timer: " + std::to_string(*r.latencyTimerMs) + " ms" +
                  (*r.latencyTimerMs > 4 ? " (1 to 4 ms suits the K-line best)" : ""));
  if (r.latencyTimerMs && *r.latencyTimerMs > 4) {
    if (const std::optional<double> added = LatencyTimerAddedMs(r)) {
      const AdapterRateResult& x = *std::find_if(r.rates.begin(), r.rates.end(),
                                                 [](const auto& y) { return y.baud == 7812; });
      const double wireMs = WireMs(x.received.size(), x.baud);
      const double other = x.roundTripMs - wireMs - *added;
      char cost[320];
      if (*added < 1)
        std::snprintf(cost, sizeof cost,
                      "the 7812 baud echo took %.1f ms, its bytes' time on the wire: the timer "
                      "did not hold it back here",
                      x.roundTripMs);
      else
        std::snprintf(
            cost, sizeof cost,
            "the 7812 baud echo took %.1f ms, of which its %zu bytes need ~%.1f ms on the "
            "wire: the timer adds ~%.0f ms to every exchange; a live cycle of ~%d "
            "exchanges loses ~%.0f ms",
            x.roundTripMs, x.received.size(), wireMs, *added, kExchangesPerCycle,
            *added * kExchangesPerCycle);
      out.push_back(cost);
      if (other >= 1) {
        std::snprintf(cost, sizeof cost,
                      "the other ~%.0f ms of that echo are not the timer's (it holds bytes back "
                      "%d ms at most): a slow adapter or driver, or a busy machine",
                      other, *r.latencyTimerMs);
        out.push_back(cost);
      }
    } else if (!r.latencyTimerFile.empty()) {
      out.push_back("the timer may hold each answer back for up to " +
                    std::to_string(*r.latencyTimerMs) + " ms, on every exchange");
    }
    if (!r.latencyTimerFile.empty())
      out.push_back("to set it to 1 ms: klinediag-cli check-adapter --port " + r.device +
                    " --fix, or: echo 1 | sudo tee " + r.latencyTimerFile +
                    " (the package's udev rule sets it whenever the adapter is plugged in)");
  }
  if (!r.latencyNote.empty()) out.push_back(r.latencyNote);
  return out;
}

}  // namespace kline
