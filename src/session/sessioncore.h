#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connection/firstanswerwatch.h"
#include "connection/form2.h"
#include "connection/linkmonitor.h"
#include "diagnosis/faultwatch.h"
#include "host/host.h"
#include "livedata/csvrecorder.h"
#include "livedata/cyclemeter.h"
#include "records/recordkeeper.h"
#include "session/eventjournal.h"
#include "session/sessionreport.h"
#include "sim/simconfig.h"
#include "ui/eventsink.h"

namespace kline {

class SimEcu;

// What a session is made of, apart from its host.
struct SessionOptions {
  std::string settingsPath;
  // The simulated ECU behind the port "sim"; none: the default one (a 15m that answers). Read at
  // each Connect.
  std::shared_ptr<const SimConfig> sim;
  // The simulated ECU takes the type of the ECU type option selected at Connect, unless its
  // description names one.
  bool simTypeFollowsForm = true;
  // The port for any other text of the port field; none: a port that never opens.
  PortFactory devices;
  // How the simulated line waits for its next byte on a real clock; none on virtual time.
  std::function<void(int64_t us)> simSleeper;
  // The wall clock stamped on live cycles and shown beside readouts in the report.
  std::function<WallTime()> wallClock = CsvRecorder::SystemTime;
  // Keep the last minutes of events and the link's history for a support bundle (journal()).
  bool keepJournal = false;
  // A Connect that heard nothing from the ECU in time: the user may be offered the checklist of
  // a first connection (once per Connect; see FirstAnswerWatch). Runs on the session's thread.
  std::function<void(const ev::Connecting&)> onNoAnswer;
  // The bike records: each connection's visit is kept in `records.path` (none when empty); the
  // keeper's callbacks run on its own thread. The session fills in the version and the clock.
  records::KeeperOptions records;
  // How close to a bike's last visit a connection joins it, in hours (0: never; see
  // records::JoinsVisit); none: as the settings say (JoinHoursFromSettings).
  std::optional<int> joinHours;
  // The mileage typed for the first visit.
  std::optional<int> mileage;
};

// The records file the settings choose: the user's default file unless they name another, none
// (empty) when the records are turned off.
std::string RecordsPathFromSettings(const IniFile& settings);
// Remembers the user's choice in the settings: `path` (empty: the default file), or off.
void SaveRecordsChoice(const IniFile& settings, const std::string& path, bool off);
// How close to a bike's last visit a connection joins it, in hours, as the settings say
// ("JoinVisitsHours" of "Records": a whole number from 0, never, to 8760); the default
// (records::kDefaultJoinHours) when they say nothing usable.
int JoinHoursFromSettings(const IniFile& settings);

// The simulated ECU a missing description gives: a 15m that answers, with the usual burst.
SimConfig DefaultSimConfig();

// One session: the windows' logic (Form2 with Form1 and Form3), the one port factory, the
// fan-out of what the logic publishes, and the observers every front end shares: the link's
// state, the latest readouts, the live pace, the first answer, the report's data, the recording
// and the bike records. A front end says what it wants in SessionOptions and builds none of
// these itself. The GUI's
// session thread, the command line's run loop and the tests only drive it: they forward user
// events to its windows and add observers of their own. Everything here runs on the session's
// one thread.
class SessionCore {
 public:
  SessionCore(Host& host, SessionOptions options);
  // Lets the observers go first (the window reports its port's close as it goes), then the
  // windows.
  ~SessionCore();
  SessionCore(const SessionCore&) = delete;
  SessionCore& operator=(const SessionCore&) = delete;

  // Adds an observer of every event, after the session's own; it must outlive the session or
  // be dropped first.
  void observe(EventSink* observer) { observers_.add(observer); }
  void dropObservers() { observers_ = EventFanout(); }
  // Where the logic publishes: the session's own observers, then the added ones.
  EventSink& sink();

  Host& host() { return host_; }
  Form2& form() { return *form_; }
  // A window's controls by name ("Form2", "Form1", "Form3"); null for another name.
  ControlModel* window(const std::string& name) { return form_->window(name); }

  // The window's load, Connect and Disconnect as a user gives them.
  void load();
  // Presses Connect unless connected; whether the port opened.
  bool connect();
  // Presses Disconnect when connected.
  void disconnect();
  // Disconnects as the user would, then unloads every window.
  void unload();
  bool connected() const;

  const LinkStatus& link() const { return link_.status(); }
  LinkMonitor& linkMonitor() { return link_; }
  const FaultWatch& faults() const { return faults_; }
  // Whether the ECU answered since the last Connect, and that Connect's port and type.
  const FirstAnswerWatch& firstAnswer() const { return firstAnswer_; }
  const CycleMeter& meter() const { return meter_; }
  const SessionReport& report() const { return report_; }
  SessionReport& report() { return report_; }
  // The last minutes of events and the link's history; null unless the options keep them.
  const EventJournal* journal() const { return journal_.get(); }
  // Milliseconds since the session began, on the host's clock (the journal's time).
  uint64_t elapsedMs();

  // Records a row of the live values per completed cycle to `path` until stopRecording; why
  // it cannot, or empty. A write that fails later stops the recording (recordingError).
  std::string startRecording(const std::string& path);
  // Closes the recording; its rows.
  int stopRecording();
  bool recording() const { return recorder_ && recorder_->isOpen(); }
  const CsvRecorder* recorder() const { return recorder_.get(); }
  // Why the last recording stopped by itself (a write failed); taken once.
  std::string takeRecordingError();

  // The bike records from now on: the visit in progress ends in the file it began in, the next
  // connection starts one in `path` (none when empty), told to the same callbacks.
  void keepRecordsIn(const std::string& path);
  // The user's choice of records file (`path`, empty: the default one; or off), remembered in the
  // settings and kept from now on; the file now in use (empty: none).
  std::string chooseRecords(const std::string& path, bool off);
  // The records file in use; empty: none.
  const std::string& recordsPath() const { return options_.records.path; }
  // Ends the visit in progress and writes what is queued (the end of a run).
  void closeRecords();
  // The visit the records kept of this session: the one in progress, else the last one (0: none).
  int64_t visit() const { return keeper_ ? keeper_->visit() : closedVisit_; }
  // The keeper of the bike records; null when none are kept.
  records::RecordKeeper* records() { return keeper_.get(); }

  // The simulated ECU made at the last Connect to "sim", and the port texts asked for.
  SimEcu* lastSim() const { return sim_; }
  const std::vector<std::string>& opened() const { return opened_; }

 private:
  class Hub;
  std::unique_ptr<SerialPort> makePort(const std::string& spec);
  void stamp(ev::LiveCycle& c);

  Host& host_;
  SessionOptions options_;
  std::unique_ptr<Hub> hub_;
  EventFanout observers_;
  LinkMonitor link_;
  FaultWatch faults_;
  CycleMeter meter_;
  FirstAnswerWatch firstAnswer_;
  SessionReport report_;
  std::unique_ptr<records::RecordKeeper> keeper_;
  int64_t closedVisit_ = 0;
  std::unique_ptr<CsvRecorder> recorder_;
  std::string recordingError_;
  uint32_t lastClock_ = 0;
  uint64_t elapsed_ = 0;
  std::unique_ptr<EventJournal> journal_;
  SimEcu* sim_ = nullptr;
  std::vector<std::string> opened_;
  std::unique_ptr<Form2> form_;
};

}  // namespace kline
