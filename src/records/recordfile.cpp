#include "records/recordfile.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <system_error>
#include <thread>

#include "records/recordstore.h"
#include "serial/filepath.h"
#include "serial/text.h"

namespace kline::records {

namespace {

// A second program holding the file makes a write wait this long in SQLite's busy handler, and
// a transaction that still finds it busy is tried this many times in all.
constexpr int kBusyTimeoutMs = 5000;
constexpr int kAttempts = 3;

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

// Whether `path` can be opened as asked: an existing file that is no folder, or (to write) a
// file that can be made in a folder that is there or can be made.
bool PathUsable(const std::string& path, bool readOnly, const std::string& shown,
                std::string& why) {
  namespace fs = std::filesystem;
  const fs::path p = PathFromUtf8(path);
  std::error_code ec;
  const bool exists = fs::exists(p, ec);
  if (exists && fs::is_directory(p, ec)) {
    why = "The records file " + shown + " is a folder";
    return false;
  }
  if (exists) return true;
  if (readOnly) {
    why = "No records file at " + shown;
    return false;
  }
  if (p.has_parent_path() && !fs::is_directory(p.parent_path(), ec)) {
    fs::create_directories(p.parent_path(), ec);
    if (ec) {
      why = "The records folder " + OneLine(PathToUtf8(p.parent_path())) +
            " cannot be made: " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace

std::string OneLine(std::string s) {
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return s;
}

std::unique_ptr<RecordFile> RecordFile::Open(const std::string& path, bool readOnly,
                                             std::string& why) {
  const std::string shown = OneLine(path);
  if (!PathUsable(path, readOnly, shown, why)) return nullptr;

  std::unique_ptr<RecordFile> d(new RecordFile);
  d->path = path;
  std::string words;
  int code = SQLITE_OK;
  auto openAs = [&](bool asReadOnly) {
    d->readOnly = asReadOnly;
    d->cache_.clear();
    const int flags =
        (asReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!d->db.open(path, flags, words, &code)) return false;
    sqlite3_busy_timeout(d->db.handle(), kBusyTimeoutMs);
    return true;
  };
  if (!openAs(readOnly)) {
    why = "The records file " + shown + " cannot be opened: " + Describe(code, words);
    return nullptr;
  }
  if (!readOnly && sqlite3_db_readonly(d->db.handle(), "main") == 1) {
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
  if (empty && readOnly) {
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
    return d;
  }
  if (d->readOnly) return d;
  if (!d->switchToWal(shown, why) || !d->bringUpToDate(shown, why)) return nullptr;
  return d;
}

bool RecordFile::switchToWal(const std::string& shown, std::string& why) {
  // WAL: a writer never blocks the readers, and a process killed mid-write leaves the file as
  // it was at the last commit. NORMAL syncs at checkpoints only: a power cut may lose the last
  // commits, never the file.
  // Switching a new file to WAL needs it to itself: while another program does the same, or
  // writes the file's first tables, the switch says busy at once rather than waiting.
  for (int waited = 0;; waited += 50) {
    sql::Statement wal(db, "PRAGMA journal_mode = WAL");
    if (wal.step() == SQLITE_ROW && AsciiLower(wal.text(0)) == "wal") break;
    if ((db.errorCode() & 0xff) != SQLITE_BUSY || waited >= kBusyTimeoutMs) {
      why = "The records file " + shown +
            " cannot be written: " + Describe(db.errorCode(), db.errorText());
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (db.exec("PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON") != SQLITE_OK) {
    why = "The records file " + shown + " cannot be opened: " + db.errorText();
    return false;
  }
  return true;
}

bool RecordFile::bringUpToDate(const std::string& shown, std::string& why) {
  if (schema >= kSchemaVersion) return true;
  const int from = schema;
  // Another program may have brought the file up to date while this one waited.
  const bool ok = write("schema", [&] {
    const auto now = db.integer("PRAGMA user_version");
    if (!now) return false;
    return *now >= kSchemaVersion || MigrateSchema(db, static_cast<int>(*now));
  });
  if (!ok) {
    why = "The records file " + shown + " cannot be brought up to date: " + error;
    return false;
  }
  schema = kSchemaVersion;
  if (from > 0)
    notice = "The records file " + shown + " was brought from schema " + std::to_string(from) +
             " to " + std::to_string(kSchemaVersion);
  return true;
}

RecordFile::Use RecordFile::st(const char* sqlText) {
  auto it = cache_.find(sqlText);
  if (it == cache_.end()) it = cache_.emplace(sqlText, sql::Statement(db, sqlText, true)).first;
  return Use(it->second);
}

void RecordFile::fail(const std::string& what, const char* verb) {
  error = std::string("Records not ") + verb + " (" + what +
          "): " + Describe(db.errorCode(), db.errorText());
}

bool RecordFile::write(const std::string& what, const std::function<bool()>& writes) {
  error.clear();
  if (readOnly) {
    error = "Records not written (" + what + "): the records file is open read-only";
    return false;
  }
  if (depth_ > 0) {
    const bool ok = writes();
    if (!ok) {
      failed_ = true;
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
      } inside{depth_ = 1};
      failed_ = false;
      ok = writes() && !failed_;
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

RecordFile::ReadTxn::ReadTxn(RecordFile& file)
    : file_(file),
      open_(sqlite3_get_autocommit(file.db.handle()) != 0 && file.db.exec("BEGIN") == SQLITE_OK) {}

RecordFile::ReadTxn::~ReadTxn() {
  if (open_) file_.db.exec("COMMIT");
}

bool RecordFile::backup(const std::string& to, std::string& why) {
  namespace fs = std::filesystem;
  const std::string shown = OneLine(to);
  const fs::path target = PathFromUtf8(to);
  std::error_code ec;
  if (fs::exists(target, ec) && fs::equivalent(target, PathFromUtf8(path), ec)) {
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
    auto earlier = Open(to, true, notOurs);
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
  sqlite3_backup* b = sqlite3_backup_init(out.handle(), "main", db.handle(), "main");
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

}  // namespace kline::records
