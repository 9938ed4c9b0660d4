#include "records/recordstore.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <system_error>
#include <thread>

#include "livedata/csvrecorder.h"
#include "records/schema.h"
#include "records/sqlite.h"
#include "serial/filepath.h"

namespace kline::records {
namespace {

using nlohmann::json;

// A second program holding the file makes a write wait this long in SQLite's busy handler, and
// a transaction that still finds it busy is tried this many times in all.
constexpr int kBusyTimeoutMs = 5000;
constexpr int kAttempts = 3;

// User text in a one-line message: control characters would break the line or reach a terminal.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return s;
}

// The text with every byte sequence that is not UTF-8 replaced by U+FFFD, for JSON.
std::string ValidUtf8(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    std::size_t len = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      len = 1;
      cp = c;
    } else if (c >= 0xc2 && c <= 0xdf) {
      len = 2;
      cp = c & 0x1fu;
    } else if (c >= 0xe0 && c <= 0xef) {
      len = 3;
      cp = c & 0x0fu;
    } else if (c >= 0xf0 && c <= 0xf4) {
      len = 4;
      cp = c & 0x07u;
    }
    bool ok = len > 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      ok = (p[i + k] & 0xc0) == 0x80;
      cp = cp << 6 | (p[i + k] & 0x3fu);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8 either.
    if (ok && ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff)) ||
               (cp >= 0xd800 && cp <= 0xdfff)))
      ok = false;
    if (ok) {
      out.append(s, i, len);
      i += len;
    } else {
      out += "\xef\xbf\xbd";
      ++i;
    }
  }
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

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

const char* SettingName(Setting s) {
  return s == Setting::Trimmer ? "trimmer" : "co_regulation";
}

FileKind FileKindOf(const std::string& s) {
  if (s == "recording") return FileKind::Recording;
  if (s == "report") return FileKind::Report;
  return FileKind::Log;
}

json Time(WallTime t) {
  return t.msSinceEpoch ? json(CsvRecorder::IsoTime(t)) : json(nullptr);
}

json Text(const std::string& s) {
  return ValidUtf8(s);
}

// The fault lines of a visit's last fault readout; none when it read no faults.
std::optional<std::vector<std::string>> LastFaultLines(const Visit& v) {
  for (auto r = v.readouts.rbegin(); r != v.readouts.rend(); ++r) {
    if (r->readout.kind != ReadoutKind::Faults) continue;
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < r->readout.lines.size(); ++i)
      if (i < r->readout.fault.size() && r->readout.fault[i]) lines.push_back(r->readout.lines[i]);
    return lines;
  }
  return std::nullopt;
}

int LastTrimmer(const Visit& v) {
  for (auto c = v.changes.rbegin(); c != v.changes.rend(); ++c)
    if (c->setting == Setting::Trimmer) return c->after;
  return -1;
}

// What an SQLite failure means for the user.
std::string Describe(int code, const std::string& words) {
  switch (code & 0xff) {
    case SQLITE_FULL:
      return "the disk is full";
    case SQLITE_READONLY:
      return "the file or its folder is read-only";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "another program kept the file busy";
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return "the file is damaged";
    case SQLITE_CANTOPEN:
      return "the file or its folder cannot be written";
    case SQLITE_IOERR:
      return "the file could not be written or read (" + words + ")";
    default:
      return words;
  }
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

}  // namespace

struct RecordStore::Impl {
  std::string path;
  bool readOnly = false;
  int schema = kSchemaVersion;
  std::string notice, error;
  sql::Database db;
  std::map<const char*, sql::Statement> cache;
  int depth = 0;        // open write transactions (batch() around the single writes)
  bool failed = false;  // a write inside the transaction failed

  // A cached statement, reset when the scope ends so that it never holds a read open.
  class Use {
   public:
    explicit Use(sql::Statement& s) : s_(s) {}
    ~Use() { s_.reset(); }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    sql::Statement* operator->() { return &s_; }
    sql::Statement& operator*() { return s_; }

   private:
    sql::Statement& s_;
  };
  Use st(const char* sqlText) {
    auto it = cache.find(sqlText);
    if (it == cache.end()) it = cache.emplace(sqlText, sql::Statement(db, sqlText, true)).first;
    return Use(it->second);
  }

  void fail(const std::string& what, const char* verb = "written") {
    error = std::string("Records not ") + verb + " (" + what +
            "): " + Describe(db.errorCode(), db.errorText());
  }

  // Runs `f` as one write transaction, or as part of the one open; a transaction that finds the
  // file busy once the busy time-out has run out is tried again, from the start.
  template <class F>
  bool write(const std::string& what, F&& f) {
    error.clear();
    if (readOnly) {
      error = "Records not written (" + what + "): the records file is open read-only";
      return false;
    }
    if (depth > 0) {
      const bool ok = f();
      if (!ok) {
        failed = true;
        if (error.empty()) fail(what);
      }
      return ok;
    }
    for (int attempt = 1;; ++attempt) {
      sql::Transaction t(db);
      int rc = t.begin();
      bool ok = rc == SQLITE_OK;
      if (ok) {
        struct Depth {
          int& n;
          ~Depth() { n = 0; }
        } inside{depth = 1};
        failed = false;
        ok = f() && !failed;
        if (ok) {
          rc = t.commit();
          ok = rc == SQLITE_OK;
        }
      }
      if (ok) {
        error.clear();
        return true;
      }
      const int code = db.errorCode() & 0xff;
      if (error.empty() || code == SQLITE_BUSY) fail(what);
      t.rollback();
      if (code != SQLITE_BUSY || attempt == kAttempts) return false;
      error.clear();
    }
  }

  // A read of several statements sees one state of the file.
  struct ReadTxn {
    Impl& d;
    bool open;
    explicit ReadTxn(Impl& impl)
        : d(impl),
          open(sqlite3_get_autocommit(impl.db.handle()) != 0 &&
               impl.db.exec("BEGIN") == SQLITE_OK) {}
    ~ReadTxn() {
      if (open) d.db.exec("COMMIT");
    }
    ReadTxn(const ReadTxn&) = delete;
    ReadTxn& operator=(const ReadTxn&) = delete;
  };

  Bike bikeRow(sql::Statement& s) {
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

  std::optional<Bike> bikeById(int64_t id) {
    static const std::string q = std::string(kBikesSql) + " WHERE b.id = ?1";
    Use s = st(q.c_str());
    s->bind(1, id);
    if (s->step() != SQLITE_ROW) return std::nullopt;
    return bikeRow(*s);
  }

  std::optional<int64_t> bikeIdFor(const BikeKey& k) {
    {
      Use s = st("SELECT id FROM bikes WHERE ecu = ?1 AND iso_code = ?2 AND identification = ?3");
      s->bind(1, k.ecu).bind(2, k.isoCode).bind(3, k.identification);
      if (s->step() == SQLITE_ROW) return s->integer(0);
    }
    if (schema < 2) return std::nullopt;
    Use s = st(
        "SELECT bike FROM bike_aliases WHERE ecu = ?1 AND iso_code = ?2 AND identification = ?3");
    s->bind(1, k.ecu).bind(2, k.isoCode).bind(3, k.identification);
    if (s->step() == SQLITE_ROW) return s->integer(0);
    return std::nullopt;
  }

  bool exists(const char* sqlText, int64_t id) {
    Use s = st(sqlText);
    s->bind(1, id);
    return s->step() == SQLITE_ROW;
  }
  bool visitExists(int64_t id) { return exists("SELECT 1 FROM visits WHERE id = ?1", id); }
  bool bikeExists(int64_t id) { return exists("SELECT 1 FROM bikes WHERE id = ?1", id); }
};

RecordStore::RecordStore(std::unique_ptr<Impl> impl) : d_(std::move(impl)) {}
RecordStore::~RecordStore() = default;

std::unique_ptr<RecordStore> RecordStore::Open(const std::string& path, Mode mode,
                                               std::string& why) {
  namespace fs = std::filesystem;
  const std::string shown = OneLine(path);
  const fs::path p = PathFromUtf8(path);
  std::error_code ec;
  const bool exists = fs::exists(p, ec);
  if (exists && fs::is_directory(p, ec)) {
    why = "The records file " + shown + " is a folder";
    return nullptr;
  }
  if (!exists) {
    if (mode == Mode::ReadOnly) {
      why = "No records file at " + shown;
      return nullptr;
    }
    if (p.has_parent_path() && !fs::is_directory(p.parent_path(), ec)) {
      fs::create_directories(p.parent_path(), ec);
      if (ec) {
        why = "The records folder " + OneLine(PathToUtf8(p.parent_path())) +
              " cannot be made: " + ec.message();
        return nullptr;
      }
    }
  }

  auto d = std::make_unique<Impl>();
  d->path = path;
  std::string words;
  int code = SQLITE_OK;
  auto openAs = [&](bool readOnly) {
    d->readOnly = readOnly;
    d->cache.clear();
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!d->db.open(path, flags, words, &code)) return false;
    sqlite3_busy_timeout(d->db.handle(), kBusyTimeoutMs);
    return true;
  };
  if (!openAs(mode == Mode::ReadOnly)) {
    why = "The records file " + shown + " cannot be opened: " + Describe(code, words);
    return nullptr;
  }
  if (mode == Mode::ReadWrite && sqlite3_db_readonly(d->db.handle(), "main") == 1) {
    why = "The records file " + shown + " is read-only";
    return nullptr;
  }

  // What the file holds, read before anything is written to it, in one read transaction: another
  // program may be writing a new file's first tables meanwhile.
  d->db.exec("BEGIN");
  const auto appId = d->db.integer("PRAGMA application_id");
  const auto version = d->db.integer("PRAGMA user_version");
  const auto tables = d->db.integer("SELECT count(*) FROM sqlite_schema");
  const int readCode = d->db.errorCode();
  const std::string readText = d->db.errorText();
  d->db.exec("ROLLBACK");
  if (!appId || !version || !tables) {
    const int failed = readCode & 0xff;
    why = "The records file " + shown +
          (failed == SQLITE_NOTADB ? " is not a records file"
                                   : " cannot be used: " + Describe(failed, readText));
    return nullptr;
  }
  const bool empty = *appId == 0 && *version == 0 && *tables == 0;
  if (!empty && (*appId != kApplicationId || *version < 1)) {
    why = "The records file " + shown + " is not a records file (a database of another program)";
    return nullptr;
  }
  d->schema = static_cast<int>(*version);
  if (empty && mode == Mode::ReadOnly) {
    why = "The records file " + shown + " holds no records yet";
    return nullptr;
  }
  if (d->schema > kSchemaVersion) {
    d->notice = "The records file " + shown + " was written by a newer klinediag (schema " +
                std::to_string(d->schema) + "; this one knows " + std::to_string(kSchemaVersion) +
                "): opened read-only";
    if (!d->readOnly && !openAs(true)) {
      why = "The records file " + shown + " cannot be opened: " + words;
      return nullptr;
    }
    return std::unique_ptr<RecordStore>(new RecordStore(std::move(d)));
  }
  if (d->readOnly) return std::unique_ptr<RecordStore>(new RecordStore(std::move(d)));

  // WAL: a writer never blocks the readers, and a process killed mid-write leaves the file as
  // it was at the last commit. NORMAL syncs at checkpoints only: a power cut may lose the last
  // commits, never the file.
  // Switching a new file to WAL needs it to itself: while another program does the same, or
  // writes the file's first tables, the switch says busy at once rather than waiting.
  for (int waited = 0;; waited += 50) {
    sql::Statement wal(d->db, "PRAGMA journal_mode = WAL");
    if (wal.step() == SQLITE_ROW && Lower(wal.text(0)) == "wal") break;
    if ((d->db.errorCode() & 0xff) != SQLITE_BUSY || waited >= kBusyTimeoutMs) {
      why = "The records file " + shown +
            " cannot be written: " + Describe(d->db.errorCode(), d->db.errorText());
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (d->db.exec("PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON") != SQLITE_OK) {
    why = "The records file " + shown + " cannot be opened: " + d->db.errorText();
    return nullptr;
  }
  if (d->schema < kSchemaVersion) {
    const int from = d->schema;
    // Another program may have brought the file up to date while this one waited.
    const bool ok = d->write("schema", [&] {
      const auto now = d->db.integer("PRAGMA user_version");
      if (!now) return false;
      return *now >= kSchemaVersion || MigrateSchema(d->db, static_cast<int>(*now));
    });
    if (!ok) {
      why = "The records file " + shown + " cannot be brought up to date: " + d->error;
      return nullptr;
    }
    d->schema = kSchemaVersion;
    if (from > 0)
      d->notice = "The records file " + shown + " was brought from schema " + std::to_string(from) +
                  " to " + std::to_string(kSchemaVersion);
  }
  return std::unique_ptr<RecordStore>(new RecordStore(std::move(d)));
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
    if (auto found = d_->bikeIdFor(key)) {
      id = *found;
      if (key.calibration.empty()) return true;
      Impl::Use u = d_->st("UPDATE bikes SET calibration = ?2 WHERE id = ?1 AND calibration <> ?2");
      if (!u->bind(1, id).bind(2, key.calibration).run()) return false;
      // The calibration is read after the identification: the visit begun with the
      // identification alone takes it too.
      Impl::Use v = d_->st(
          "UPDATE visits SET calibration = ?2 WHERE id = (SELECT id FROM visits WHERE bike = ?1 "
          "ORDER BY start_ms DESC, id DESC LIMIT 1) AND calibration = ''");
      return v->bind(1, id).bind(2, key.calibration).run();
    }
    Impl::Use s = d_->st(
        "INSERT INTO bikes (ecu, iso_code, identification, calibration) VALUES (?1, ?2, ?3, ?4)");
    s->bind(1, key.ecu).bind(2, key.isoCode).bind(3, key.identification).bind(4, key.calibration);
    if (!s->run()) return false;
    id = sqlite3_last_insert_rowid(d_->db.handle());
    return true;
  });
  return ok ? id : 0;
}

int64_t RecordStore::startVisit(int64_t bike, const VisitStart& v) {
  int64_t id = 0;
  const bool ok = d_->write("visit", [&] {
    Impl::Use s = d_->st(
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
    Impl::Use s = d_->st("UPDATE visits SET end_ms = ?2, end_offset = ?3 WHERE id = ?1");
    return s->bind(1, visit).bind(2, end.msSinceEpoch).bind(3, end.utcOffsetMinutes).run();
  });
}

bool RecordStore::setMileage(int64_t visit, std::optional<int> km) {
  return d_->write("mileage", [&] {
    Impl::Use s = d_->st("UPDATE visits SET mileage = ?2 WHERE id = ?1");
    return s->bind(1, visit).bind(2, km).run();
  });
}

bool RecordStore::addReadout(int64_t visit, const ReadoutRecord& rec) {
  return d_->write("readout", [&] {
    const Readout& r = rec.readout;
    int faults = 0;
    for (std::size_t i = 0; i < r.lines.size(); ++i) faults += i < r.fault.size() && r.fault[i];
    {
      Impl::Use s = d_->st(
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
      Impl::Use s =
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
    Impl::Use s = d_->st(
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
    Impl::Use s = d_->st(
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
      Impl::Use s = d_->st("DELETE FROM channels WHERE visit = ?1");
      if (!s->bind(1, visit).run()) return false;
    }
    for (const ChannelSummary& c : channels) {
      Impl::Use s = d_->st(
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
    Impl::Use s = d_->st(
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
    Impl::Use s = d_->st(
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
    Impl::Use s = d_->st("UPDATE bikes SET name = ?2 WHERE id = ?1");
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
    if (from == into || !d_->bikeExists(from) || !d_->bikeExists(into)) {
      d_->error = from == into ? "A bike cannot be merged into itself"
                               : "No bike " + std::to_string(d_->bikeExists(from) ? into : from);
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
      Impl::Use s = d_->st(q);
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
    Impl::Use s = d_->st("DELETE FROM bikes WHERE id = ?1");
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
  Impl::Use s = d_->st(search.empty() ? all.c_str() : some.c_str());
  if (!search.empty()) s->bind(1, Lower(search));
  std::vector<Bike> out;
  int rc;
  while ((rc = s->step()) == SQLITE_ROW) out.push_back(d_->bikeRow(*s));
  if (rc != SQLITE_DONE) d_->fail("bikes", "read");
  return out;
}

std::optional<Bike> RecordStore::bike(int64_t id) {
  return d_->bikeById(id);
}

std::optional<Bike> RecordStore::findBike(const BikeKey& key) {
  const auto id = d_->bikeIdFor(key);
  return id ? d_->bikeById(*id) : std::nullopt;
}

std::optional<Bike> RecordStore::findBike(const std::string& words, std::string& why) {
  if (words.empty()) {
    why = "Name a bike: its number, or a part of its name, registration or identification";
    return std::nullopt;
  }
  if (words.find_first_not_of("0123456789") == std::string::npos && words.size() < 19) {
    if (auto b = d_->bikeById(std::stoll(words))) return b;
  }
  const std::string w = Lower(words);
  std::vector<Bike> matches, exact;
  for (Bike& b : bikes()) {
    bool part = false, whole = false;
    for (const std::string* f : {&b.details.name, &b.details.registration, &b.key.identification}) {
      const std::string l = Lower(*f);
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
  Impl::Use s = d_->st(q);
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

std::optional<Visit> RecordStore::visit(int64_t id) {
  d_->error.clear();
  Impl::ReadTxn read(*d_);
  Visit v;
  {
    Impl::Use s = d_->st(
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
  {
    Impl::Use s = d_->st(
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
  {
    Impl::Use s = d_->st(
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
  {
    Impl::Use s = d_->st(
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
  {
    Impl::Use s = d_->st(
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
  if (d_->schema >= 2) {
    Impl::Use s =
        d_->st("SELECT at_ms, at_offset, kind, path FROM files WHERE visit = ?1 ORDER BY id");
    s->bind(1, id);
    while (s->step() == SQLITE_ROW) {
      FileRecord f;
      f.at = {s->integer(0), static_cast<int>(s->integer(1))};
      f.kind = FileKindOf(s->text(2));
      f.path = s->text(3);
      v.files.push_back(std::move(f));
    }
  }
  return v;
}

int64_t RecordStore::previousVisit(int64_t visit) {
  Impl::Use s = d_->st(
      "SELECT p.id FROM visits v JOIN visits p ON p.bike = v.bike AND "
      "(p.start_ms, p.id) < (v.start_ms, v.id) WHERE v.id = ?1 "
      "ORDER BY p.start_ms DESC, p.id DESC LIMIT 1");
  s->bind(1, visit);
  return s->step() == SQLITE_ROW ? s->integer(0) : 0;
}

json RecordStore::exportJson() {
  Impl::ReadTxn read(*d_);
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
  namespace fs = std::filesystem;
  const std::string shown = OneLine(path);
  const fs::path target = PathFromUtf8(path);
  std::error_code ec;
  if (fs::exists(target, ec) && fs::equivalent(target, PathFromUtf8(d_->path), ec)) {
    why = "The backup cannot replace the records file itself";
    return false;
  }
  fs::path wal = target;
  wal += "-wal";
  if (fs::exists(wal, ec)) {
    why = "The backup would replace " + shown + ", which a program has open";
    return false;
  }
  if (fs::exists(target, ec)) {
    // Only an earlier copy of records is replaced, never some other file.
    std::string notOurs;
    auto earlier = Open(path, Mode::ReadOnly, notOurs);
    if (!earlier) {
      why = "The backup would replace " + shown + ", which is not a records file";
      return false;
    }
  }
  // Copied beside the target and put in its place at once: a copy cut short leaves no half file
  // under the target's name.
  fs::path tmp = target;
  tmp += ".part-" + std::to_string(std::random_device{}());
  if (fs::exists(tmp, ec)) {
    why = "The backup " + shown + " cannot be made: " + OneLine(PathToUtf8(tmp)) + " is in the way";
    return false;
  }
  sql::Database out;
  std::string words;
  if (!out.open(PathToUtf8(tmp), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, words)) {
    why = "The backup " + shown + " cannot be made: " + words;
    return false;
  }
  sqlite3_backup* b = sqlite3_backup_init(out.handle(), "main", d_->db.handle(), "main");
  int rc = SQLITE_ERROR;
  if (b) {
    // Pages in steps, so that a writer in another program is held up only briefly.
    do {
      rc = sqlite3_backup_step(b, 256);
      if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(20);
    } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
    sqlite3_backup_finish(b);
  }
  if (rc != SQLITE_DONE) {
    why = "The backup " + shown + " failed: " + Describe(out.errorCode(), out.errorText());
    out.close();
    fs::remove(tmp, ec);
    return false;
  }
  // The copy stands alone: its log is written into it.
  out.exec("PRAGMA wal_checkpoint(TRUNCATE); PRAGMA journal_mode = DELETE");
  out.close();
  fs::rename(tmp, target, ec);
  if (ec) {
    why = "The backup " + shown + " cannot be put in place: " + ec.message();
    fs::remove(tmp, ec);
    return false;
  }
  return true;
}

std::string IntegrityCheck(const std::string& path) {
  sql::Database db;
  std::string words;
  if (!db.open(path, SQLITE_OPEN_READONLY, words)) return "cannot open: " + words;
  sqlite3_busy_timeout(db.handle(), kBusyTimeoutMs);
  sql::Statement s(db, "PRAGMA integrity_check");
  std::string out;
  int rc;
  while ((rc = s.step()) == SQLITE_ROW) out += (out.empty() ? "" : "\n") + s.text(0);
  if (rc != SQLITE_DONE) return "cannot check: " + db.errorText();
  return out;
}

const char* FileKindName(FileKind k) {
  switch (k) {
    case FileKind::Recording:
      return "recording";
    case FileKind::Report:
      return "report";
    case FileKind::Log:
      return "log";
  }
  return "log";
}

std::string WallTimeText(WallTime t, const char* format) {
  const std::time_t s =
      static_cast<std::time_t>(t.msSinceEpoch / 1000 + int64_t{t.utcOffsetMinutes} * 60);
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &s);
#else
  gmtime_r(&s, &tm);
#endif
  char buf[64];
  return std::strftime(buf, sizeof buf, format, &tm) ? buf : "";
}

std::string NumberText(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

Comparison Compare(const Visit& older, const Visit& newer) {
  Comparison c;
  c.older = older.id;
  c.newer = newer.id;
  const auto was = LastFaultLines(older);
  const auto is = LastFaultLines(newer);
  c.faultsReadBoth = was && is;
  if (c.faultsReadBoth) {
    const std::set<std::string> before(was->begin(), was->end()), now(is->begin(), is->end());
    for (const std::string& l : *is) (before.count(l) ? c.stayed : c.appeared).push_back(l);
    for (const std::string& l : *was)
      if (!now.count(l)) c.cleared.push_back(l);
  }
  c.trimmerOlder = LastTrimmer(older);
  c.trimmerNewer = LastTrimmer(newer);
  std::map<int, Comparison::Channel> channels;
  for (const ChannelSummary& s : older.channels) {
    Comparison::Channel& ch = channels[s.index];
    ch.index = s.index;
    ch.name = s.name;
    ch.unit = s.unit;
    if (s.count) ch.older = s.mean;
  }
  for (const ChannelSummary& s : newer.channels) {
    Comparison::Channel& ch = channels[s.index];
    ch.index = s.index;
    ch.name = s.name;
    ch.unit = s.unit;
    if (s.count) ch.newer = s.mean;
  }
  for (auto& [index, ch] : channels) c.channels.push_back(std::move(ch));
  return c;
}

json ToJson(const Bike& b) {
  return {{"id", b.id},
          {"ecu", Text(b.key.ecu)},
          {"iso_code", Text(b.key.isoCode)},
          {"identification", Text(b.key.identification)},
          {"calibration", Text(b.key.calibration)},
          {"name", Text(b.details.name)},
          {"registration", Text(b.details.registration)},
          {"owner", Text(b.details.owner)},
          {"notes", Text(b.details.notes)},
          {"visits", b.visits},
          {"last_visit", b.lastVisit ? json(b.lastVisit) : json(nullptr)},
          {"last_start", b.lastVisit ? Time(b.lastStart) : json(nullptr)},
          {"last_faults", b.lastFaults >= 0 ? json(b.lastFaults) : json(nullptr)}};
}

json ToJson(const Visit& v) {
  json readouts = json::array();
  for (const ReadoutRecord& rec : v.readouts) {
    const Readout& r = rec.readout;
    json lines = json::array();
    for (std::size_t i = 0; i < r.lines.size(); ++i)
      lines.push_back({{"text", Text(r.lines[i])}, {"fault", i < r.fault.size() && r.fault[i]}});
    readouts.push_back({{"at", Time(rec.at)},
                        {"kind", ReadoutKindName(r.kind)},
                        {"bytes", {r.bytes[0], r.bytes[1], r.bytes[2]}},
                        {"code", r.code},
                        {"fault_stored", r.faultStored},
                        {"trusted", r.trusted},
                        {"lines", std::move(lines)}});
  }
  json tests = json::array();
  for (const TestRecord& t : v.tests)
    tests.push_back({{"at", Time(t.at)},
                     {"window", Text(t.window)},
                     {"name", Text(t.name)},
                     {"code", t.code},
                     {"verdict", ev::VerdictName(t.verdict)},
                     {"shown", Text(t.shown)}});
  json changes = json::array();
  for (const ChangeRecord& c : v.changes)
    changes.push_back({{"at", Time(c.at)},
                       {"setting", SettingName(c.setting)},
                       {"before", c.before >= 0 ? json(c.before) : json(nullptr)},
                       {"after", c.after}});
  json channels = json::array();
  for (const ChannelSummary& c : v.channels)
    channels.push_back({{"index", c.index},
                        {"name", Text(c.name)},
                        {"unit", Text(c.unit)},
                        {"count", c.count},
                        {"min", c.min},
                        {"max", c.max},
                        {"mean", c.mean},
                        {"min_text", Text(c.minText)},
                        {"max_text", Text(c.maxText)},
                        {"mean_text", Text(c.meanText)}});
  json files = json::array();
  for (const FileRecord& f : v.files)
    files.push_back({{"at", Time(f.at)}, {"kind", FileKindName(f.kind)}, {"path", Text(f.path)}});
  return {{"id", v.id},
          {"bike", v.bike},
          {"start", Time(v.begun.start)},
          {"end", Time(v.end)},
          {"port", Text(v.begun.port)},
          {"adapter", Text(v.begun.adapter)},
          {"ecu", Text(v.begun.ecu)},
          {"version", Text(v.begun.version)},
          {"identity_trusted", v.begun.identityTrusted},
          {"mileage", v.mileage ? json(*v.mileage) : json(nullptr)},
          {"iso_code", Text(v.key.isoCode)},
          {"identification", Text(v.key.identification)},
          {"calibration", Text(v.key.calibration)},
          {"readouts", std::move(readouts)},
          {"tests", std::move(tests)},
          {"changes", std::move(changes)},
          {"channels", std::move(channels)},
          {"files", std::move(files)}};
}

json ToJson(const VisitSummary& v) {
  return {{"id", v.id},
          {"start", Time(v.start)},
          {"end", Time(v.end)},
          {"port", Text(v.port)},
          {"ecu", Text(v.ecu)},
          {"mileage", v.mileage ? json(*v.mileage) : json(nullptr)},
          {"faults", v.faults >= 0 ? json(v.faults) : json(nullptr)},
          {"tests", v.tests}};
}

json ToJson(const Comparison& c) {
  auto texts = [](const std::vector<std::string>& v) {
    json a = json::array();
    for (const std::string& s : v) a.push_back(Text(s));
    return a;
  };
  json channels = json::array();
  for (const Comparison::Channel& ch : c.channels)
    channels.push_back({{"index", ch.index},
                        {"name", Text(ch.name)},
                        {"unit", Text(ch.unit)},
                        {"older_mean", ch.older ? json(*ch.older) : json(nullptr)},
                        {"newer_mean", ch.newer ? json(*ch.newer) : json(nullptr)}});
  return {{"older", c.older},
          {"newer", c.newer},
          {"faults_read_both", c.faultsReadBoth},
          {"appeared", texts(c.appeared)},
          {"cleared", texts(c.cleared)},
          {"stayed", texts(c.stayed)},
          {"trimmer_older", c.trimmerOlder >= 0 ? json(c.trimmerOlder) : json(nullptr)},
          {"trimmer_newer", c.trimmerNewer >= 0 ? json(c.trimmerNewer) : json(nullptr)},
          {"channels", std::move(channels)}};
}

}  // namespace kline::records
