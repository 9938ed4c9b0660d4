#pragma once

// The typed events of a session: what happened, published by the windows' logic where it
// happens, so that the features around it (chart, recorder, report, faults panel, command line)
// never read a control to learn it. Published on the session thread through EventSink::onEvent.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kline {

// What the link is doing, as far as the user can act on it.
enum class LinkState {
  Idle,        // no port open
  OpenFailed,  // the last Connect could not open the port
  Waiting,     // port open, nothing heard from the ECU yet
  Live,        // the ECU answers
  Silent,      // port open, the poll loop runs, and the ECU has said nothing for a while
  Lost,        // the device went away while open
  Babbling,    // port open, and the line carries bytes nobody asked for
};

const char* LinkStateName(LinkState s);

// The link as the windows and the command line show it.
struct LinkStatus {
  LinkState state = LinkState::Idle;
  // One line for the status bar or stderr.
  std::string text = "Not connected";
  // The value fields hold readings that are no longer coming in.
  bool valuesStale = false;
  // The engine-speed readout and bar show a reading from before the port was last opened (or
  // lost): they are live again at the next computed engine speed.
  bool rpmStale = true;
  bool operator==(const LinkStatus&) const = default;
};

// A wall-clock reading: milliseconds since 1970-01-01 UTC and the local offset from UTC.
struct WallTime {
  int64_t msSinceEpoch = 0;
  int utcOffsetMinutes = 0;
};

enum class ReadoutKind { Faults, Immobiliser, Immobiliser2, Diag };
// The kind's name in JSON and in the records file ("faults", "immobiliser2"...).
const char* ReadoutKindName(ReadoutKind k);

// One readout of fault or state bytes with its decoded lines.
struct Readout {
  ReadoutKind kind = ReadoutKind::Faults;
  std::vector<std::string> lines;  // as logged, in order
  std::vector<bool> fault;         // one flag per line
  // The fault bytes 0F, 10 and 11 (fault readout) or the state byte (immobiliser and "Diag",
  // first entry) as the window read them; 0 when its echo was wrong.
  std::array<uint8_t, 3> bytes = {0, 0, 0};
  // The request code of a "Diag" readout (0x15...); the first code of the others.
  uint8_t code = 0;
  // Fault readout: the bytes name a fault, shown or not. Immobiliser: a state bit is set.
  bool faultStored = false;
  uint32_t time = 0;  // the host's millisecond clock when the readout ended
  // The line carried bytes nobody asked for while it was read: what it says may be noise.
  bool trusted = true;

  bool anyFaultLine() const;
};

namespace ev {

// The link's state changed (worked out by the session's link monitor).
struct LinkChanged {
  LinkStatus status;
};

// Connect was pressed: a new connection starts, on `port` (the port field's text) with the
// ECU type `ecu` (its caption in the ECU type table, see EcuTypeOf).
struct Connecting {
  std::string port;
  std::string ecu;
};

// A field of the window took a value from the ECU (`rpm`: the engine-speed readout).
struct EcuAnswered {
  bool rpm = false;
};

// Disconnect was pressed (or the window unloads while connected).
struct Disconnected {};

// The identification so far: the wake-up burst's code, then the records as they complete.
struct EcuIdentified {
  std::string isoCode;
  std::string identification;
  std::string calibration;
  std::string ecu;
  // The line the window added to its information pane for the part just read.
  std::string line;
  // False when the line carried bytes nobody asked for while it was read.
  bool trusted = true;
};

// One channel of a live cycle: ticked in the window, its value as a number (none when the
// field holds no number) and its text as the field shows it.
struct ChannelReading {
  bool ticked = false;
  std::optional<double> value;
  std::string text;
};

// A live cycle of the poll loop ended. An abandoned cycle (a silent channel) leaves the fields
// after that channel holding the previous cycle's values.
struct LiveCycle {
  uint32_t lineMs = 0;  // ms since Connect, on the session's clock
  WallTime wall;        // stamped by the session
  std::array<ChannelReading, 10> channels;
  bool completed = false;
};

// The poll loop stopped (a window opened, a readout, a test) or runs again.
struct LoopPaused {
  bool paused = true;
  std::string why;
};

// A readout of fault, immobiliser or memory bytes ended with an answer.
struct ReadoutDone {
  Readout readout;
};

// A test's code went on the line, from the main window's list ("Form2") or the test window
// ("Form1").
struct TestStarted {
  std::string window;
  std::string name;
  int code = 0;
};

enum class Verdict { Passed, Failed, Unknown, Cancelled };
const char* VerdictName(Verdict v);
// The verdict in the words a window showed: "OK" and "Test finish" passed, "Erreur" and "Test
// failed" failed; anything else ("Test unknown", none) unknown.
Verdict VerdictOfShown(const std::string& shown);

// The test's end: the verdict and the words the window showed for it ("OK", "Erreur",
// "Test finish", "Test failed", "Test unknown"; empty when it showed none).
struct TestEnded {
  std::string window;
  std::string name;
  Verdict verdict = Verdict::Unknown;
  std::string shown;
};

// The ECU confirmed a trimmer value: the byte written, 0 to 254, which the live channel reads
// as the byte less 128 (TrimmerValue). `before` is the last byte known (-1 when none): the
// last one set, or the last one the live channel read.
struct TrimmerSet {
  int before = -1;
  int after = 0;
};

// CO regulation was switched and the ECU confirmed it.
struct CoRegulationSet {
  bool before = false;
  bool after = false;
};

}  // namespace ev

using SessionEvent =
    std::variant<ev::LinkChanged, ev::Connecting, ev::EcuAnswered, ev::Disconnected,
                 ev::EcuIdentified, ev::LiveCycle, ev::LoopPaused, ev::ReadoutDone, ev::TestStarted,
                 ev::TestEnded, ev::TrimmerSet, ev::CoRegulationSet>;

// The event's name in the command line's JSON Lines ("live-cycle", "test-ended"...).
const char* EventName(const SessionEvent& e);

}  // namespace kline
