#pragma once

// One records file open: its SQLite connection, what the file is (ours, its schema version,
// read-only or not) and the transactions the store's queries run in. Opening checks that the
// file is a records file, brings an older schema up to date and switches the file to WAL. The
// store's own: the front ends use RecordStore. Not shared between threads.
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "records/schema.h"
#include "records/sqlite.h"

namespace kline::records {

class RecordFile {
 public:
  // Opens `path` (UTF-8), creating it and its folder unless `readOnly`; null with `why` (one line
  // for the user) when it cannot. A file of a newer schema opens read-only, with `notice` saying
  // so. See RecordStore::Open.
  static std::unique_ptr<RecordFile> Open(const std::string& path, bool readOnly, std::string& why);
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  std::string path;
  bool readOnly = false;
  int schema = 0;      // its PRAGMA user_version
  std::string notice;  // a remark about the file for the user; empty when none
  std::string error;   // why the last call failed; empty after a success
  sql::Database db;

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
  // `sqlText` prepared once and kept (it is cached by its address: a literal or a static).
  Use st(const char* sqlText);

  // Runs `writes` as one write transaction, or as part of the one open; a transaction that finds
  // the file busy once the busy time-out has run out is tried again, from the start (three
  // times in all). False with `error` set ("Records not written (WHAT): ...") when it failed.
  bool write(const std::string& what, const std::function<bool()>& writes);
  // Sets `error` for the last SQLite failure: "Records not VERB (WHAT): ...".
  void fail(const std::string& what, const char* verb = "written");

  // A read of several statements sees one state of the file.
  class ReadTxn {
   public:
    explicit ReadTxn(RecordFile& file);
    ~ReadTxn();
    ReadTxn(const ReadTxn&) = delete;
    ReadTxn& operator=(const ReadTxn&) = delete;

   private:
    RecordFile& file_;
    bool open_;
  };

  // A consistent copy of the file (SQLite's online backup) to `path`, replacing only an earlier
  // copy of records; false with `why`.
  bool backup(const std::string& path, std::string& why);

 private:
  RecordFile() = default;
  bool switchToWal(const std::string& shown, std::string& why);
  bool bringUpToDate(const std::string& shown, std::string& why);

  std::map<const char*, sql::Statement> cache_;
  int depth_ = 0;        // open write transactions (batch() around the single writes)
  bool failed_ = false;  // a write inside the transaction failed
};

// User text in a one-line message: control characters would break the line or reach a terminal.
std::string OneLine(std::string s);

}  // namespace kline::records
