#pragma once

// What the records keep: a bike, known by its ECU's identification, and its visits to the
// workshop, each with what was read, tested and changed and a summary of the live values.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "livedata/channelstats.h"
#include "ui/sessionevents.h"

namespace kline::records {

// What a bike is known by: its ECU's type caption ("15m"...), iso code (empty on the types that
// have none), identification and calibration as the window read them.
struct BikeKey {
  std::string ecu, isoCode, identification, calibration;
};

// What the user adds to a bike.
struct BikeDetails {
  std::string name, registration, owner, notes;
};

// A bike as the list shows it.
struct Bike {
  int64_t id = 0;
  BikeKey key;
  BikeDetails details;
  int visits = 0;
  // The last visit: its id (0: none), its start, and the fault lines of its last fault readout
  // (-1: no fault readout in it).
  int64_t lastVisit = 0;
  WallTime lastStart;
  int lastFaults = -1;
};

struct ReadoutRecord {
  Readout readout;  // its lines, fault flags, bytes, code and trust
  WallTime at;
};

struct TestRecord {
  std::string window;  // "Form2" or "Form1"
  std::string name;
  int code = 0;
  ev::Verdict verdict = ev::Verdict::Unknown;
  std::string shown;  // "OK", "Test finish"... as the window showed it
  WallTime at;
};

enum class Setting { Trimmer, CoRegulation };
// The setting's name in the file and in JSON ("trimmer", "co_regulation").
const char* SettingName(Setting s);

// The trimmer or the CO regulation changed: the value before (-1 unknown) and after (the
// trimmer: the byte written, 0 to 254; the CO regulation: 0 off, 1 on).
struct ChangeRecord {
  Setting setting = Setting::Trimmer;
  int before = -1;
  int after = 0;
  WallTime at;
};

// One live channel over the visit's completed cycles, as the session's report summed it.
using kline::ChannelSummary;

enum class FileKind { Recording, Report, Log };
// The kind's name in the file and in JSON ("recording", "report", "log").
const char* FileKindName(FileKind k);

// A file made during the visit.
struct FileRecord {
  FileKind kind = FileKind::Log;
  std::string path;
  WallTime at;
};

// How a visit began.
struct VisitStart {
  WallTime start;
  std::string port;     // the port field's text
  std::string adapter;  // what is known of the adapter on that port; may be empty
  std::string ecu;      // the ECU type's caption
  std::string version;  // the program's version
  bool identityTrusted = true;
};

struct Visit {
  int64_t id = 0;
  int64_t bike = 0;
  VisitStart begun;
  WallTime end;  // msSinceEpoch 0: not ended (still running, or the process was killed)
  std::optional<int> mileage;
  BikeKey key;  // the identification as read on this visit
  std::vector<ReadoutRecord> readouts;
  std::vector<TestRecord> tests;
  std::vector<ChangeRecord> changes;
  std::vector<ChannelSummary> channels;
  std::vector<FileRecord> files;
};

// A visit as a bike's list shows it.
struct VisitSummary {
  int64_t id = 0;
  WallTime start, end;
  std::string port, ecu;
  std::optional<int> mileage;
  int faults = -1;  // fault lines of its last fault readout; -1: none read
  int tests = 0;
};

// A wall time in the zone it was taken in, by strftime's `format` ("%Y-%m-%d %H:%M").
std::string WallTimeText(WallTime t, const char* format);

// A visit is the bike's stay in the workshop: a connection joins the bike's last visit when that
// visit ended (or, never ended, began) at `last` on the same local calendar day as `now`, or
// within `hours` hours before it (a stay across midnight); never when `hours` is 0.
inline constexpr int kDefaultJoinHours = 4;
inline constexpr int kMaxJoinHours = 8760;  // a year
bool JoinsVisit(WallTime last, WallTime now, int hours);

}  // namespace kline::records
