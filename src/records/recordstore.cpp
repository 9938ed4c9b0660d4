#include "records/recordstore.h"

#include <sqlite3.h>

#include <nlohmann/json.hpp>

#include "connection/ecutypes.h"
#include "records/recordfile.h"
#include "serial/text.h"

namespace kline::records {
namespace {

using nlohmann::json;

ReadoutKind KindOf(const std::string& s) {
  if (s == "immobiliser") return ReadoutKind::Immobiliser;
  if (s == "immobiliser2") return ReadoutKind::Immobiliser2;
  if (s == "diag") return ReadoutKind::Diag;
  return ReadoutKind::Faults;
}

ev::Verdict VerdictOf(const std::string& s) {
  for (ev::Verdict v :
       {ev::Verdict::Passed, ev::Verdict::Failed, ev::Verdict::Unknown, ev::Verdict::Cancelled})
    if (s == ev::VerdictName(v)) return v;
  return ev::Verdict::Unknown;
}

FileKind FileKindOf(const std::string& s) {
  if (s == "recording") return FileKind::Recording;
  if (s == "report") return FileKind::Report;
  return FileKind::Log;
}

// The bikes' list: each bike with its number of visits, its last visit and that visit's last
// fault readout's count of fault lines.
constexpr const char* kBikesSql = R"sql(
SELECT b.id, b.ecu, b.iso_code, b.identification, b.calibration, b.name, b.registration,
  b.owner, b.notes,
  (SELECT count(*) FROM visits WHERE bike = b.id),
  lv.id, lv.start_ms, lv.start_offset,
  (SELECT r.fault_lines FROM readouts r WHERE r.visit = lv.id AND r.kind = 'faults'
   ORDER BY r.id DESC LIMIT 1)
FROM bikes b
LEFT JOIN visits lv ON lv.id =
  (SELECT id FROM visits WHERE bike = b.id ORDER BY start_ms DESC, id DESC LIMIT 1)
)sql";

Bike BikeRow(sql::Statement& s) {
  Bike b;
  b.id = s.integer(0);
  b.key = {s.text(1), s.text(2), s.text(3), s.text(4)};
  b.details = {s.text(5), s.text(6), s.text(7), s.text(8)};
  b.visits = static_cast<int>(s.integer(9));
  b.lastVisit = s.isNull(10) ? 0 : s.integer(10);
  b.lastStart = {s.integer(11), static_cast<int>(s.integer(12))};
  b.lastFaults = s.isNull(13) ? -1 : static_cast<int>(s.integer(13));
  return b;
}

std::optional<Bike> BikeById(RecordFile& f, int64_t id) {
  static const std::string q = std::string(kBikesSql) + " WHERE b.id = ?1";
  RecordFile::Use s = f.st(q.c_str());
  s->bind(1, id);
  if (s->step() != SQLITE_ROW) return std::nullopt;
  return BikeRow(*s);
}

std::optional<int64_t> BikeIdFor(RecordFile& f, const BikeKey& k) {
  const std::vector<std::string> ecus = LabelsOfSameEcu(k.ecu);
  for (const std::string& ecu : ecus) {
    RecordFile::Use s =
        f.st("SELECT id FROM bikes WHERE ecu = ?1 AND iso_code = ?2 AND identification = ?3");
    s->bind(1, ecu).bind(2, k.isoCode).bind(3, k.identification);
    if (s->step() == SQLITE_ROW) return s->integer(0);
  }
  if (f.schema < 2) return std::nullopt;
  for (const std::string& ecu : ecus) {
    RecordFile::Use s = f.st(
        "SELECT bike FROM bike_aliases WHERE ecu = ?1 AND iso_code = ?2 AND identification = ?3");
    s->bind(1, ecu).bind(2, k.isoCode).bind(3, k.identification);
    if (s->step() == SQLITE_ROW) return s->integer(0);
  }
  return std::nullopt;
}

bool BikeExists(RecordFile& f, int64_t id) {
  RecordFile::Use s = f.st("SELECT 1 FROM bikes WHERE id = ?1");
  s->bind(1, id);
  return s->step() == SQLITE_ROW;
}

}  // namespace

RecordStore::RecordStore(std::unique_ptr<RecordFile> file) : d_(std::move(file)) {}
RecordStore::~RecordStore() = default;

std::unique_ptr<RecordStore> RecordStore::Open(const std::string& path, Mode mode,
                                               std::string& why) {
  auto file = RecordFile::Open(path, mode == Mode::ReadOnly, why);
  return file ? std::unique_ptr<RecordStore>(new RecordStore(std::move(file))) : nullptr;
}

const std::string& RecordStore::path() const {
  return d_->path;
}
bool RecordStore::readOnly() const {
  return d_->readOnly;
}
const std::string& RecordStore::notice() const {
  return d_->notice;
}
const std::string& RecordStore::error() const {
  return d_->error;
}

int64_t RecordStore::bikeFor(const BikeKey& key) {
  int64_t id = 0;
  const bool ok = d_->write("bike", [&] {
    if (auto found = BikeIdFor(*d_, key)) {
      id = *found;
      if (key.calibration.empty()) return true;
      RecordFile::Use u =
          d_->st("UPDATE bikes SET calibration = ?2 WHERE id = ?1 AND calibration <> ?2");
      if (!u->bind(1, id).bind(2, key.calibration).run()) return false;
      // The calibration is read after the identification: the visit begun with the
      // identification alone takes it too.
      RecordFile::Use v = d_->st(
          "UPDATE visits SET calibration = ?2 WHERE id = (SELECT id FROM visits WHERE bike = ?1 "
          "ORDER BY start_ms DESC, id DESC LIMIT 1) AND calibration = ''");
      return v->bind(1, id).bind(2, key.calibration).run();
    }
    RecordFile::Use s = d_->st(
        "INSERT INTO bikes (ecu, iso_code, identification, calibration) VALUES (?1, ?2, ?3, ?4)");
    s->bind(1, EcuOfLabel(key.ecu))
        .bind(2, key.isoCode)
        .bind(3, key.identification)
        .bind(4, key.calibration);
    if (!s->run()) return false;
    id = sqlite3_last_insert_rowid(d_->db.handle());
    return true;
  });
  return ok ? id : 0;
}

int64_t RecordStore::startVisit(int64_t bike, const VisitStart& v) {
  int64_t id = 0;
  const bool ok = d_->write("visit", [&] {
    RecordFile::Use s = d_->st(
        "INSERT INTO visits (bike, start_ms, start_offset, port, adapter, ecu, version, "
        "identity_trusted, iso_code, identification, calibration) SELECT id, ?2, ?3, ?4, ?5, ?6, "
        "?7, ?8, iso_code, identification, calibration FROM bikes WHERE id = ?1");
    s->bind(1, bike)
        .bind(2, v.start.msSinceEpoch)
        .bind(3, v.start.utcOffsetMinutes)
        .bind(4, v.port)
        .bind(5, v.adapter)
        .bind(6, v.ecu)
        .bind(7, v.version)
        .bind(8, v.identityTrusted ? 1 : 0);
    if (!s->run()) return false;
    if (sqlite3_changes(d_->db.handle()) == 0) {
      d_->error = "Records not written (visit): no bike " + std::to_string(bike);
      return false;
    }
    id = sqlite3_last_insert_rowid(d_->db.handle());
    return true;
  });
  return ok ? id : 0;
}

bool RecordStore::endVisit(int64_t visit, WallTime end) {
  return d_->write("end of visit", [&] {
    RecordFile::Use s = d_->st("UPDATE visits SET end_ms = ?2, end_offset = ?3 WHERE id = ?1");
    return s->bind(1, visit).bind(2, end.msSinceEpoch).bind(3, end.utcOffsetMinutes).run();
  });
}

bool RecordStore::reopenVisit(int64_t visit) {
  return d_->write("visit", [&] {
    RecordFile::Use s = d_->st("UPDATE visits SET end_ms = 0, end_offset = 0 WHERE id = ?1");
    return s->bind(1, visit).run();
  });
}

bool RecordStore::setMileage(int64_t visit, std::optional<int> km) {
  return d_->write("mileage", [&] {
    RecordFile::Use s = d_->st("UPDATE visits SET mileage = ?2 WHERE id = ?1");
    return s->bind(1, visit).bind(2, km).run();
  });
}

bool RecordStore::addReadout(int64_t visit, const ReadoutRecord& rec) {
  return d_->write("readout", [&] {
    const Readout& r = rec.readout;
    int faults = 0;
    for (std::size_t i = 0; i < r.lines.size(); ++i) faults += i < r.fault.size() && r.fault[i];
    {
      RecordFile::Use s = d_->st(
          "INSERT INTO readouts (visit, at_ms, at_offset, kind, byte0, byte1, byte2, code, "
          "fault_stored, host_ms, trusted, fault_lines) "
          "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
      s->bind(1, visit)
          .bind(2, rec.at.msSinceEpoch)
          .bind(3, rec.at.utcOffsetMinutes)
          .bind(4, ReadoutKindName(r.kind))
          .bind(5, r.bytes[0])
          .bind(6, r.bytes[1])
          .bind(7, r.bytes[2])
          .bind(8, r.code)
          .bind(9, r.faultStored ? 1 : 0)
          .bind(10, int64_t{r.time})
          .bind(11, r.trusted ? 1 : 0)
          .bind(12, faults);
      if (!s->run()) return false;
    }
    const int64_t id = sqlite3_last_insert_rowid(d_->db.handle());
    for (std::size_t i = 0; i < r.lines.size(); ++i) {
      RecordFile::Use s =
          d_->st("INSERT INTO readout_lines (readout, n, text, fault) VALUES (?1, ?2, ?3, ?4)");
      s->bind(1, id)
          .bind(2, static_cast<int64_t>(i))
          .bind(3, r.lines[i])
          .bind(4, i < r.fault.size() && r.fault[i] ? 1 : 0);
      if (!s->run()) return false;
    }
    return true;
  });
}

bool RecordStore::addTest(int64_t visit, const TestRecord& t) {
  return d_->write("test", [&] {
    RecordFile::Use s = d_->st(
        "INSERT INTO tests (visit, at_ms, at_offset, window, name, code, verdict, shown) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    return s->bind(1, visit)
        .bind(2, t.at.msSinceEpoch)
        .bind(3, t.at.utcOffsetMinutes)
        .bind(4, t.window)
        .bind(5, t.name)
        .bind(6, t.code)
        .bind(7, ev::VerdictName(t.verdict))
        .bind(8, t.shown)
        .run();
  });
}

bool RecordStore::addChange(int64_t visit, const ChangeRecord& c) {
  return d_->write("change", [&] {
    RecordFile::Use s = d_->st(
        "INSERT INTO changes (visit, at_ms, at_offset, setting, before, after) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    return s->bind(1, visit)
        .bind(2, c.at.msSinceEpoch)
        .bind(3, c.at.utcOffsetMinutes)
        .bind(4, SettingName(c.setting))
        .bind(5, c.before)
        .bind(6, c.after)
        .run();
  });
}

bool RecordStore::setChannels(int64_t visit, const std::vector<ChannelSummary>& channels) {
  return d_->write("live values", [&] {
    {
      RecordFile::Use s = d_->st("DELETE FROM channels WHERE visit = ?1");
      if (!s->bind(1, visit).run()) return false;
    }
    for (const ChannelSummary& c : channels) {
      RecordFile::Use s = d_->st(
          "INSERT INTO channels (visit, idx, name, unit, count, min, max, mean, min_text, "
          "max_text, mean_text) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
      s->bind(1, visit)
          .bind(2, c.index)
          .bind(3, c.name)
          .bind(4, c.unit)
          .bind(5, static_cast<int64_t>(c.count))
          .bind(6, c.min)
          .bind(7, c.max)
          .bind(8, c.mean)
          .bind(9, c.minText)
          .bind(10, c.maxText)
          .bind(11, c.meanText);
      if (!s->run()) return false;
    }
    return true;
  });
}

bool RecordStore::addFile(int64_t visit, const FileRecord& f) {
  return d_->write("file", [&] {
    RecordFile::Use s = d_->st(
        "INSERT INTO files (visit, at_ms, at_offset, kind, path) VALUES (?1, ?2, ?3, ?4, ?5)");
    return s->bind(1, visit)
        .bind(2, f.at.msSinceEpoch)
        .bind(3, f.at.utcOffsetMinutes)
        .bind(4, FileKindName(f.kind))
        .bind(5, f.path)
        .run();
  });
}

bool RecordStore::batch(const std::function<bool()>& writes) {
  return d_->write("batch", writes);
}

bool RecordStore::setDetails(int64_t bike, const BikeDetails& dt) {
  return d_->write("bike details", [&] {
    RecordFile::Use s = d_->st(
        "UPDATE bikes SET name = ?2, registration = ?3, owner = ?4, notes = ?5 WHERE id = ?1");
    s->bind(1, bike).bind(2, dt.name).bind(3, dt.registration).bind(4, dt.owner).bind(5, dt.notes);
    if (!s->run()) return false;
    if (sqlite3_changes(d_->db.handle()) == 0) {
      d_->error = "No bike " + std::to_string(bike);
      return false;
    }
    return true;
  });
}

bool RecordStore::rename(int64_t bike, const std::string& name) {
  return d_->write("name", [&] {
    RecordFile::Use s = d_->st("UPDATE bikes SET name = ?2 WHERE id = ?1");
    if (!s->bind(1, bike).bind(2, name).run()) return false;
    if (sqlite3_changes(d_->db.handle()) == 0) {
      d_->error = "No bike " + std::to_string(bike);
      return false;
    }
    return true;
  });
}

bool RecordStore::merge(int64_t from, int64_t into) {
  return d_->write("merge", [&] {
    if (from == into || !BikeExists(*d_, from) || !BikeExists(*d_, into)) {
      d_->error = from == into ? "A bike cannot be merged into itself"
                               : "No bike " + std::to_string(BikeExists(*d_, from) ? into : from);
      return false;
    }
    // The bike kept takes what the user wrote on the other where it has nothing, and the other's
    // identifications: that ECU's next visit comes to it.
    const char* const steps[] = {
        "UPDATE bikes SET "
        "name = CASE name WHEN '' THEN (SELECT name FROM bikes WHERE id = ?1) ELSE name END, "
        "registration = CASE registration WHEN '' THEN (SELECT registration FROM bikes WHERE id "
        "= ?1) ELSE registration END, "
        "owner = CASE owner WHEN '' THEN (SELECT owner FROM bikes WHERE id = ?1) ELSE owner END, "
        "notes = CASE notes WHEN '' THEN (SELECT notes FROM bikes WHERE id = ?1) ELSE notes END "
        "WHERE id = ?2",
        "UPDATE visits SET bike = ?2 WHERE bike = ?1",
        "UPDATE bike_aliases SET bike = ?2 WHERE bike = ?1",
        "INSERT OR REPLACE INTO bike_aliases (ecu, iso_code, identification, bike) "
        "SELECT ecu, iso_code, identification, ?2 FROM bikes WHERE id = ?1",
        "DELETE FROM bikes WHERE id = ?1",
    };
    for (const char* q : steps) {
      RecordFile::Use s = d_->st(q);
      if (!s->bind(1, from).bind(2, into).run()) return false;
    }
    return true;
  });
}

bool RecordStore::forget(int64_t bike) {
  // What is deleted is overwritten in the file too, not only unlinked: a customer who asks to be
  // forgotten is not left in free pages.
  const int64_t secure = d_->db.integer("PRAGMA secure_delete").value_or(0);
  d_->db.exec("PRAGMA secure_delete = ON");
  const bool ok = d_->write("forget", [&] {
    RecordFile::Use s = d_->st("DELETE FROM bikes WHERE id = ?1");
    if (!s->bind(1, bike).run()) return false;
    if (sqlite3_changes(d_->db.handle()) == 0) {
      d_->error = "No bike " + std::to_string(bike);
      return false;
    }
    return true;
  });
  if (!secure) d_->db.exec("PRAGMA secure_delete = OFF");
  // The log still holds the pages as they were; they go when it is written back and emptied
  // (not while another program reads the file).
  if (ok) d_->db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
  return ok;
}

std::vector<Bike> RecordStore::bikes(const std::string& search) {
  d_->error.clear();
  static const std::string all =
      std::string(kBikesSql) + " ORDER BY lv.start_ms IS NULL, lv.start_ms DESC, b.id DESC";
  static const std::string some =
      std::string(kBikesSql) +
      " WHERE instr(lower(b.name), ?1) OR instr(lower(b.registration), ?1) OR "
      "instr(lower(b.owner), ?1) OR instr(lower(b.notes), ?1) OR "
      "instr(lower(b.identification), ?1) OR instr(lower(b.calibration), ?1)"
      " ORDER BY lv.start_ms IS NULL, lv.start_ms DESC, b.id DESC";
  RecordFile::Use s = d_->st(search.empty() ? all.c_str() : some.c_str());
  if (!search.empty()) s->bind(1, AsciiLower(search));
  std::vector<Bike> out;
  int rc;
  while ((rc = s->step()) == SQLITE_ROW) out.push_back(BikeRow(*s));
  if (rc != SQLITE_DONE) d_->fail("bikes", "read");
  return out;
}

std::optional<Bike> RecordStore::bike(int64_t id) {
  return BikeById(*d_, id);
}

std::optional<Bike> RecordStore::findBike(const BikeKey& key) {
  const auto id = BikeIdFor(*d_, key);
  return id ? BikeById(*d_, *id) : std::nullopt;
}

std::optional<Bike> RecordStore::bikeByNumber(const std::string& number, std::string& why) {
  const bool digits =
      !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || number.size() >= 19) {
    why = "\"" + OneLine(number) +
          "\" is not a bike's number (the list of the records shows them; --search TEXT finds a "
          "bike by its name, registration or identification)";
    return std::nullopt;
  }
  if (auto b = BikeById(*d_, std::stoll(number))) return b;
  why = "No bike " + std::to_string(std::stoll(number)) + " in the records";
  return std::nullopt;
}

std::optional<Bike> RecordStore::searchBike(const std::string& words, std::string& why) {
  if (words.empty()) {
    why = "Search for a bike by a part of its name, registration or identification";
    return std::nullopt;
  }
  const std::string w = AsciiLower(words);
  std::vector<Bike> matches, exact;
  for (Bike& b : bikes()) {
    bool part = false, whole = false;
    for (const std::string* f : {&b.details.name, &b.details.registration, &b.key.identification}) {
      const std::string l = AsciiLower(*f);
      part = part || l.find(w) != std::string::npos;
      whole = whole || l == w;
    }
    if (whole) exact.push_back(b);
    if (part) matches.push_back(std::move(b));
  }
  if (exact.size() == 1) return exact.front();
  if (matches.size() == 1) return matches.front();
  if (matches.empty()) {
    why = "No bike is known by \"" + OneLine(words) + "\"";
    return std::nullopt;
  }
  why = std::to_string(matches.size()) + " bikes match \"" + OneLine(words) + "\":";
  for (std::size_t i = 0; i < matches.size() && i < 5; ++i) {
    const Bike& b = matches[i];
    why += (i ? ", " : " ") + std::to_string(b.id) + " (" +
           OneLine(b.details.name.empty() ? b.key.identification : b.details.name) + ")";
  }
  if (matches.size() > 5) why += "...";
  why += "; name it by its number";
  return std::nullopt;
}

std::vector<VisitSummary> RecordStore::visits(int64_t bike) {
  d_->error.clear();
  const char* q =
      d_->schema >= 2
          ? "SELECT v.id, v.start_ms, v.start_offset, v.end_ms, v.end_offset, v.port, v.ecu, "
            "v.mileage, (SELECT r.fault_lines FROM readouts r WHERE r.visit = v.id AND r.kind = "
            "'faults' ORDER BY r.id DESC LIMIT 1), (SELECT count(*) FROM tests t WHERE t.visit = "
            "v.id) FROM visits v WHERE v.bike = ?1 ORDER BY v.start_ms DESC, v.id DESC"
          : "SELECT v.id, v.start_ms, v.start_offset, v.end_ms, v.end_offset, v.port, v.ecu, "
            "NULL, (SELECT r.fault_lines FROM readouts r WHERE r.visit = v.id AND r.kind = "
            "'faults' ORDER BY r.id DESC LIMIT 1), (SELECT count(*) FROM tests t WHERE t.visit = "
            "v.id) FROM visits v WHERE v.bike = ?1 ORDER BY v.start_ms DESC, v.id DESC";
  RecordFile::Use s = d_->st(q);
  s->bind(1, bike);
  std::vector<VisitSummary> out;
  int rc;
  while ((rc = s->step()) == SQLITE_ROW) {
    VisitSummary v;
    v.id = s->integer(0);
    v.start = {s->integer(1), static_cast<int>(s->integer(2))};
    v.end = {s->integer(3), static_cast<int>(s->integer(4))};
    v.port = s->text(5);
    v.ecu = s->text(6);
    if (!s->isNull(7)) v.mileage = static_cast<int>(s->integer(7));
    v.faults = s->isNull(8) ? -1 : static_cast<int>(s->integer(8));
    v.tests = static_cast<int>(s->integer(9));
    out.push_back(std::move(v));
  }
  if (rc != SQLITE_DONE) d_->fail("visits", "read");
  return out;
}

namespace {

// The visit's readouts, each with its lines.
void ReadReadouts(RecordFile& f, int64_t id, Visit& v) {
  RecordFile::Use s = f.st(
      "SELECT r.id, r.at_ms, r.at_offset, r.kind, r.byte0, r.byte1, r.byte2, r.code, "
      "r.fault_stored, r.host_ms, r.trusted, l.text, l.fault FROM readouts r "
      "LEFT JOIN readout_lines l ON l.readout = r.id WHERE r.visit = ?1 ORDER BY r.id, l.n");
  s->bind(1, id);
  int64_t last = 0;
  while (s->step() == SQLITE_ROW) {
    if (s->integer(0) != last) {
      last = s->integer(0);
      ReadoutRecord rec;
      rec.at = {s->integer(1), static_cast<int>(s->integer(2))};
      Readout& r = rec.readout;
      r.kind = KindOf(s->text(3));
      for (int b = 0; b < 3; ++b)
        r.bytes[static_cast<std::size_t>(b)] = static_cast<uint8_t>(s->integer(4 + b));
      r.code = static_cast<uint8_t>(s->integer(7));
      r.faultStored = s->integer(8) != 0;
      r.time = static_cast<uint32_t>(s->integer(9));
      r.trusted = s->integer(10) != 0;
      v.readouts.push_back(std::move(rec));
    }
    if (!s->isNull(11)) {
      v.readouts.back().readout.lines.push_back(s->text(11));
      v.readouts.back().readout.fault.push_back(s->integer(12) != 0);
    }
  }
}

// The visit's tests.
void ReadTests(RecordFile& f, int64_t id, Visit& v) {
  RecordFile::Use s = f.st(
      "SELECT at_ms, at_offset, window, name, code, verdict, shown FROM tests WHERE visit = ?1 "
      "ORDER BY id");
  s->bind(1, id);
  while (s->step() == SQLITE_ROW) {
    TestRecord t;
    t.at = {s->integer(0), static_cast<int>(s->integer(1))};
    t.window = s->text(2);
    t.name = s->text(3);
    t.code = static_cast<int>(s->integer(4));
    t.verdict = VerdictOf(s->text(5));
    t.shown = s->text(6);
    v.tests.push_back(std::move(t));
  }
}

// The visit's changes of the trimmer and the CO regulation.
void ReadChanges(RecordFile& f, int64_t id, Visit& v) {
  RecordFile::Use s = f.st(
      "SELECT at_ms, at_offset, setting, before, after FROM changes WHERE visit = ?1 ORDER BY "
      "id");
  s->bind(1, id);
  while (s->step() == SQLITE_ROW) {
    ChangeRecord c;
    c.at = {s->integer(0), static_cast<int>(s->integer(1))};
    c.setting = s->text(2) == "trimmer" ? Setting::Trimmer : Setting::CoRegulation;
    c.before = static_cast<int>(s->integer(3));
    c.after = static_cast<int>(s->integer(4));
    v.changes.push_back(c);
  }
}

// The visit's live channels.
void ReadChannels(RecordFile& f, int64_t id, Visit& v) {
  RecordFile::Use s = f.st(
      "SELECT idx, name, unit, count, min, max, mean, min_text, max_text, mean_text FROM "
      "channels WHERE visit = ?1 ORDER BY idx");
  s->bind(1, id);
  while (s->step() == SQLITE_ROW) {
    ChannelSummary c;
    c.index = static_cast<int>(s->integer(0));
    c.name = s->text(1);
    c.unit = s->text(2);
    c.count = static_cast<uint64_t>(s->integer(3));
    c.min = s->real(4);
    c.max = s->real(5);
    c.mean = s->real(6);
    c.minText = s->text(7);
    c.maxText = s->text(8);
    c.meanText = s->text(9);
    v.channels.push_back(std::move(c));
  }
}

// The files made during the visit (schema 2 on).
void ReadFiles(RecordFile& f, int64_t id, Visit& v) {
  RecordFile::Use s =
      f.st("SELECT at_ms, at_offset, kind, path FROM files WHERE visit = ?1 ORDER BY id");
  s->bind(1, id);
  while (s->step() == SQLITE_ROW) {
    FileRecord file;
    file.at = {s->integer(0), static_cast<int>(s->integer(1))};
    file.kind = FileKindOf(s->text(2));
    file.path = s->text(3);
    v.files.push_back(std::move(file));
  }
}

}  // namespace

std::optional<Visit> RecordStore::visit(int64_t id) {
  d_->error.clear();
  RecordFile::ReadTxn read(*d_);
  Visit v;
  {
    RecordFile::Use s = d_->st(
        d_->schema >= 2
            ? "SELECT bike, start_ms, start_offset, end_ms, end_offset, port, adapter, ecu, "
              "version, identity_trusted, iso_code, identification, calibration, mileage FROM "
              "visits WHERE id = ?1"
            : "SELECT bike, start_ms, start_offset, end_ms, end_offset, port, adapter, ecu, "
              "version, identity_trusted, iso_code, identification, calibration, NULL FROM "
              "visits WHERE id = ?1");
    s->bind(1, id);
    if (s->step() != SQLITE_ROW) return std::nullopt;
    v.id = id;
    v.bike = s->integer(0);
    v.begun.start = {s->integer(1), static_cast<int>(s->integer(2))};
    v.end = {s->integer(3), static_cast<int>(s->integer(4))};
    v.begun.port = s->text(5);
    v.begun.adapter = s->text(6);
    v.begun.ecu = s->text(7);
    v.begun.version = s->text(8);
    v.begun.identityTrusted = s->integer(9) != 0;
    v.key = {s->text(7), s->text(10), s->text(11), s->text(12)};
    if (!s->isNull(13)) v.mileage = static_cast<int>(s->integer(13));
  }
  ReadReadouts(*d_, id, v);
  ReadTests(*d_, id, v);
  ReadChanges(*d_, id, v);
  ReadChannels(*d_, id, v);
  if (d_->schema >= 2) ReadFiles(*d_, id, v);
  return v;
}

int64_t RecordStore::previousVisit(int64_t visit) {
  RecordFile::Use s = d_->st(
      "SELECT p.id FROM visits v JOIN visits p ON p.bike = v.bike AND "
      "(p.start_ms, p.id) < (v.start_ms, v.id) WHERE v.id = ?1 "
      "ORDER BY p.start_ms DESC, p.id DESC LIMIT 1");
  s->bind(1, visit);
  return s->step() == SQLITE_ROW ? s->integer(0) : 0;
}

json RecordStore::exportJson() {
  RecordFile::ReadTxn read(*d_);
  json bikesOut = json::array();
  for (const Bike& b : bikes()) {
    json jb = ToJson(b);
    json visitsOut = json::array();
    for (const VisitSummary& s : visits(b.id))
      if (auto v = visit(s.id)) visitsOut.push_back(ToJson(*v));
    jb["visit_records"] = std::move(visitsOut);
    bikesOut.push_back(std::move(jb));
  }
  return {{"records_schema", d_->schema}, {"bikes", std::move(bikesOut)}};
}

bool RecordStore::backup(const std::string& path, std::string& why) {
  return d_->backup(path, why);
}

}  // namespace kline::records
