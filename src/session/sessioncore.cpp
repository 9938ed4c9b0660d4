#include "session/sessioncore.h"

#include <charconv>

#include "connection/ecutypes.h"
#include "connection/portfield.h"
#include "serial/text.h"
#include "sim/simecu.h"

namespace kline {

namespace {

// A port that never opens, for a port field with nothing behind it.
class AbsentPort : public SerialPort {
 public:
  bool isOpen() const override { return false; }
  int inBufferCount() override { return 0; }
  int16_t commEvent() override { return kEventNone; }
  bool getLineSettings(LineSettings&) override { return false; }
  std::string openError() const override { return "no such serial port"; }
  std::string deviceName() const override { return CommPort; }

 protected:
  void doOpen() override {}
  void doClose() override {}
  void doWrite(const ByteString&) override {}
  ByteString doReadAll() override { return {}; }
  bool doSetLineSettings(const LineSettings&) override { return false; }
};

std::string ClockText(const WallTime& t) {
  // "2026-12-06T16:20:31.123+01:00" -> "16:20:31"
  const std::string iso = CsvRecorder::IsoTime(t);
  return iso.substr(11, 8);
}

}  // namespace

namespace {
// Where the settings keep the records' place: the file (empty: the default one) and whether
// they are off.
const char* const kRecordsSection = "Records";
const char* const kRecordsFile = "File";
const char* const kRecordsOff = "Off";
const char* const kJoinVisitsHours = "JoinVisitsHours";
}  // namespace

std::string RecordsPathFromSettings(const IniFile& settings) {
  if (settings.read(kRecordsSection, kRecordsOff) == "1") return {};
  const std::string file = settings.read(kRecordsSection, kRecordsFile);
  return file.empty() ? records::DefaultRecordsPath() : file;
}

void SaveRecordsChoice(const IniFile& settings, const std::string& path, bool off) {
  settings.write(kRecordsSection, kRecordsOff, off ? "1" : "0");
  settings.write(kRecordsSection, kRecordsFile, off ? std::string() : path);
}

int JoinHoursFromSettings(const IniFile& settings) {
  const std::string text = Trim(settings.read(kRecordsSection, kJoinVisitsHours));
  int hours = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), hours);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || hours < 0 ||
      hours > records::kMaxJoinHours)
    return records::kDefaultJoinHours;
  return hours;
}

SimConfig DefaultSimConfig() {
  return SimConfig::FromJson("{}", DefaultEcuType().sim);
}

// The fan-out the logic publishes to: stamps the wall time on live cycles, measures the pace,
// then hands each event to the session's observers, the recording and the added observers.
class SessionCore::Hub : public EventFanout {
 public:
  explicit Hub(SessionCore& core) : core_(core) {}
  void onEvent(const SessionEvent& e) override {
    if (const auto* c = std::get_if<ev::LiveCycle>(&e)) {
      ev::LiveCycle stamped = *c;
      if (core_.options_.wallClock) stamped.wall = core_.options_.wallClock();
      core_.meter_.end(core_.host_.timeGetTime(), stamped.completed);
      forward(SessionEvent(std::move(stamped)));
      return;
    }
    // What was read while the line babbled is marked, wherever it is shown. An identification
    // stays doubtful once a part of it was.
    if (const auto* r = std::get_if<ev::ReadoutDone>(&e)) {
      ev::ReadoutDone marked = *r;
      marked.readout.trusted = core_.link_.lineTrusted();
      forward(SessionEvent(std::move(marked)));
      return;
    }
    if (const auto* id = std::get_if<ev::EcuIdentified>(&e)) {
      idTrusted_ = idTrusted_ && core_.link_.lineTrusted();
      ev::EcuIdentified marked = *id;
      marked.trusted = idTrusted_;
      forward(SessionEvent(std::move(marked)));
      return;
    }
    if (std::holds_alternative<ev::Connecting>(e)) {
      core_.meter_.reset();
      idTrusted_ = true;
    }
    forward(e);
  }

 private:
  void forward(const SessionEvent& e) {
    EventFanout::onEvent(e);
    if (core_.keeper_) core_.keeper_->onEvent(e);
    if (core_.recorder_ && core_.recorder_->isOpen()) {
      core_.recorder_->onEvent(e);
      if (!core_.recorder_->error().empty()) {
        core_.recordingError_ = core_.recorder_->error();
        core_.recorder_.reset();
      }
    }
  }
  SessionCore& core_;
  bool idTrusted_ = true;
};

SessionCore::SessionCore(Host& host, SessionOptions options)
    : host_(host),
      options_(std::move(options)),
      hub_(std::make_unique<Hub>(*this)),
      link_([this]() -> const SerialPort* { return form_ ? form_->port() : nullptr; },
            [this] { return host_.timeGetTime(); },
            [this](const LinkStatus& s) { hub_->onEvent(ev::LinkChanged{s}); }),
      faults_([this] { return host_.timeGetTime(); }),
      firstAnswer_([this] { return host_.timeGetTime(); }, options_.onNoAnswer),
      report_(
          [this] { return options_.wallClock ? ClockText(options_.wallClock()) : std::string(); }) {
  if (!options_.sim) options_.sim = std::make_shared<const SimConfig>(DefaultSimConfig());
  hub_->add(&link_);
  hub_->add(&faults_);
  hub_->add(&firstAnswer_);
  hub_->add(&report_);
  lastClock_ = host_.timeGetTime();
  if (options_.keepJournal) {
    journal_ = std::make_unique<EventJournal>([this] { return elapsedMs(); }, JournalLimits{},
                                              options_.wallClock);
    hub_->add(journal_.get());
  }
  hub_->add(&observers_);
  form_ = std::make_unique<Form2>(
      host_, [this](const std::string& spec) { return makePort(spec); }, options_.settingsPath,
      hub_.get());
  keepRecordsIn(options_.records.path);
  if (keeper_ && options_.mileage) keeper_->setMileage(options_.mileage);
  host_.setTimerHandler([this] {
    meter_.begin(host_.timeGetTime());
    form_->Timer1_Timer();
  });
}

uint64_t SessionCore::elapsedMs() {
  // The host's clock wraps after 49 days; the difference since the last reading does not.
  const uint32_t now = host_.timeGetTime();
  elapsed_ += static_cast<uint32_t>(now - lastClock_);
  lastClock_ = now;
  return elapsed_;
}

SessionCore::~SessionCore() {
  dropObservers();
  recorder_.reset();
  form_.reset();
  // After the windows: the port's close ends the visit, then what is queued is written.
  keeper_.reset();
}

void SessionCore::closeRecords() {
  if (!keeper_) return;
  keeper_->flush();
  closedVisit_ = keeper_->visit();
  keeper_.reset();
}

void SessionCore::keepRecordsIn(const std::string& path) {
  keeper_.reset();
  options_.records.path = path;
  if (path.empty()) return;
  records::KeeperOptions o = options_.records;
  if (o.version.empty()) o.version = KLINE_VERSION;
  if (!o.wallClock) o.wallClock = options_.wallClock;
  o.joinHours = options_.joinHours ? *options_.joinHours : JoinHoursFromSettings(form_->settings());
  keeper_ = std::make_unique<records::RecordKeeper>(std::move(o));
}

std::string SessionCore::chooseRecords(const std::string& path, bool off) {
  SaveRecordsChoice(form_->settings(), path, off);
  keepRecordsIn(RecordsPathFromSettings(form_->settings()));
  return recordsPath();
}

EventSink& SessionCore::sink() {
  return *hub_;
}

std::unique_ptr<SerialPort> SessionCore::makePort(const std::string& spec) {
  opened_.push_back(spec);
  if (ParsePortField(spec).kind == PortField::Kind::Sim) {
    SimConfig cfg = *options_.sim;
    if (options_.simTypeFollowsForm && !cfg.typeGiven)
      cfg.type = SelectedEcuTypeInfo(form_->ctl).sim;
    auto port = std::make_unique<SimEcu>(cfg, [this] { return host_.micros(); });
    if (options_.simSleeper) port->setSleeper(options_.simSleeper);
    sim_ = port.get();
    return port;
  }
  if (options_.devices) return options_.devices(spec);
  return std::make_unique<AbsentPort>();
}

void SessionCore::load() {
  form_->Form_Load();
}

bool SessionCore::connected() const {
  return form_->connectPressed();
}

bool SessionCore::connect() {
  form_->pressConnect(true);
  return form_->portOpen();
}

void SessionCore::disconnect() {
  form_->pressConnect(false);
}

void SessionCore::unload() {
  disconnect();
  form_->Form_Unload();
}

std::string SessionCore::startRecording(const std::string& path) {
  stopRecording();
  auto rec = std::make_unique<CsvRecorder>(options_.wallClock ? options_.wallClock
                                                              : CsvRecorder::SystemTime);
  std::string why = rec->open(path);
  if (!why.empty()) return why;
  recordingError_.clear();
  recorder_ = std::move(rec);
  return {};
}

int SessionCore::stopRecording() {
  if (!recorder_) return 0;
  recorder_->close();
  const int rows = recorder_->rows();
  recorder_.reset();
  return rows;
}

std::string SessionCore::takeRecordingError() {
  std::string why;
  why.swap(recordingError_);
  return why;
}

}  // namespace kline
