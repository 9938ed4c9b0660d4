#pragma once

// A thin layer over SQLite's C interface: a connection, a prepared statement and a transaction
// that clean up after themselves. Nothing here knows the records' tables.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace kline::records::sql {

// One connection. Not shared between threads.
class Database {
 public:
  Database() = default;
  ~Database();
  Database(Database&& o) noexcept;
  Database& operator=(Database&& o) noexcept;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // sqlite3_open_v2 with `flags` (SQLITE_OPEN_*); false with `why` (SQLite's words) and, when
  // asked, its result code.
  bool open(const std::string& path, int flags, std::string& why, int* code = nullptr);
  void close();
  sqlite3* handle() const { return db_; }
  explicit operator bool() const { return db_ != nullptr; }

  // Runs statements without results; the result code (SQLITE_OK on success).
  int exec(const char* sql);
  // The first column of the first row of `sql` as an integer (pragmas, counts); none on error.
  std::optional<int64_t> integer(const char* sql);
  // The last error's result code (extended) and SQLite's words for it.
  int errorCode() const;
  std::string errorText() const;

 private:
  sqlite3* db_ = nullptr;
};

// A prepared statement. step() returns SQLite's result code (SQLITE_ROW, SQLITE_DONE...).
class Statement {
 public:
  Statement() = default;
  // `persistent`: kept and reused, prepared for that.
  Statement(const Database& db, std::string_view sql, bool persistent = false);
  ~Statement();
  Statement(Statement&& o) noexcept;
  Statement& operator=(Statement&& o) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return st_ != nullptr; }
  int prepareCode() const { return prepareCode_; }

  // Parameters count from 1. Text is bound as given: bytes that are not UTF-8 are kept as they
  // are.
  Statement& bind(int i, int64_t v);
  Statement& bind(int i, int v) { return bind(i, int64_t{v}); }
  Statement& bind(int i, double v);
  Statement& bind(int i, std::string_view v);
  Statement& bind(int i, const std::optional<int>& v);
  Statement& bindNull(int i);

  int step();
  // Steps once and expects no row: true on SQLITE_DONE.
  bool run();
  // Ready for new parameters and a new run.
  void reset();

  // Columns count from 0.
  int64_t integer(int col) const;
  double real(int col) const;
  std::string text(int col) const;
  bool isNull(int col) const;

 private:
  sqlite3_stmt* st_ = nullptr;
  int prepareCode_ = 0;
};

// BEGIN IMMEDIATE (the write lock at once, so a second writer waits in the busy handler instead
// of failing half-way) and ROLLBACK unless committed.
class Transaction {
 public:
  explicit Transaction(Database& db) : db_(db) {}
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  int begin();
  int commit();
  void rollback();

 private:
  Database& db_;
  bool open_ = false;
};

}  // namespace kline::records::sql
