#pragma once

#include <optional>
#include <string>
#include <vector>

#include "serial/serialport.h"
#include "serial/usbchips.h"

namespace kline {

// What the adapter did at one baud rate.
struct AdapterRateResult {
  enum class Outcome { EchoOk, NoEcho, Garbled, RateRefused };
  int baud = 0;
  Outcome outcome = Outcome::NoEcho;
  ByteString received;     // what came back after the pattern was written
  double roundTripMs = 0;  // from the write to the last byte back (EchoOk, Garbled)
  int unasked = 0;         // bytes that arrived before the pattern was written (ECU traffic)
};

// The findings of one check of a K-line adapter.
struct AdapterReport {
  std::string device;     // the device the port field names
  std::string openError;  // why it did not open (with the dialout hint where it applies)
  std::vector<AdapterRateResult> rates;
  std::optional<bool> lowLatency;     // the driver's low-latency flag, where it has one
  std::optional<int> latencyTimerMs;  // a USB adapter's latency timer, where it shows it
  std::string latencyNote;            // where the latency is set instead, on systems that hide it
  std::string latencyTimerFile;       // where the system sets the latency timer (Linux)
  std::string usbId;                  // "0403:6001", where the system tells it
  std::string driver;                 // the serial driver ("ftdi_sio"), where the system tells it
  const UsbChip* chip = nullptr;      // what is known of the adapter's USB chip
  bool opened() const { return openError.empty(); }
  // The echo was good at every rate.
  bool ok() const;
};

// Checks the cable between the computer and the K-line, without the window's logic and without
// talking to an ECU: opens the port at 1200 baud 8N1 with DTR and RTS on (many adapters take
// their power from them), lets the line go quiet, writes a short pattern and reads the echo
// (a K-line adapter hears its own bytes), then does the same at 7812 baud. The pattern uses no
// byte that the window ever sends to an ECU as a request.
class AdapterCheck {
 public:
  // The bytes written at each rate.
  static ByteString Pattern();
  // The rates checked, in order.
  static std::vector<int> Rates() { return {1200, 7812}; }

  // `port` is the port field's text: a device, a path or a port number (not "sim").
  // `echoWaitMs` is how long to wait for the echo at each rate.
  AdapterReport run(const std::string& port, int echoWaitMs = 500);
};

// "echo OK", "no echo", "garbled echo", "rate refused by the driver".
const char* OutcomeName(AdapterRateResult::Outcome o);

// What the latency timer added to the 7812 baud echo's round trip (the round trip less the bytes'
// time on the wire), when the timer is above 4 ms and that echo came back; nullopt otherwise.
std::optional<double> LatencyTimerAddedMs(const AdapterReport& r);

// The longest the echo of `bytes` bytes at `baud` should take: their time on the wire (10 bits a
// byte), the adapter's latency timer (16 ms, the usual default, where the system does not tell
// it) and 20 ms for the system's scheduling, in whole ms rounded up.
int EchoExpectedUnderMs(int baud, std::size_t bytes, std::optional<int> latencyTimerMs);

// The exchanges of a live cycle, for what a slow latency timer costs per cycle.
constexpr int kExchangesPerCycle = 12;

// One line per finding, for a person: what was sent, each rate and what it likely means, the
// low-latency setting, the chip and what is known of it, the latency timer, what it costs and how
// to set it.
std::vector<std::string> DescribeAdapterReport(const AdapterReport& r);

}  // namespace kline
