#include "records/sqlite.h"

#include <sqlite3.h>

#include <utility>

namespace kline::records::sql {

Database::~Database() {
  close();
}

Database::Database(Database&& o) noexcept : db_(std::exchange(o.db_, nullptr)) {}

Database& Database::operator=(Database&& o) noexcept {
  if (this != &o) {
    close();
    db_ = std::exchange(o.db_, nullptr);
  }
  return *this;
}

bool Database::open(const std::string& path, int flags, std::string& why, int* code) {
  close();
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (code) *code = rc;
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(db_, 1);
    return true;
  }
  why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  close();
  return false;
}

void Database::close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

int Database::exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
}

std::optional<int64_t> Database::integer(const char* sql) {
  Statement st(*this, sql);
  if (!st.ok() || st.step() != SQLITE_ROW) return std::nullopt;
  return st.integer(0);
}

int Database::errorCode() const {
  return db_ ? sqlite3_extended_errcode(db_) : SQLITE_MISUSE;
}

std::string Database::errorText() const {
  return db_ ? sqlite3_errmsg(db_) : "not open";
}

Statement::Statement(const Database& db, std::string_view sql, bool persistent) {
  prepareCode_ = sqlite3_prepare_v3(db.handle(), sql.data(), static_cast<int>(sql.size()),
                                    persistent ? SQLITE_PREPARE_PERSISTENT : 0, &st_, nullptr);
  if (prepareCode_ != SQLITE_OK) {
    sqlite3_finalize(st_);
    st_ = nullptr;
  }
}

Statement::~Statement() {
  sqlite3_finalize(st_);
}

Statement::Statement(Statement&& o) noexcept
    : st_(std::exchange(o.st_, nullptr)), prepareCode_(o.prepareCode_) {}

Statement& Statement::operator=(Statement&& o) noexcept {
  if (this != &o) {
    sqlite3_finalize(st_);
    st_ = std::exchange(o.st_, nullptr);
    prepareCode_ = o.prepareCode_;
  }
  return *this;
}

Statement& Statement::bind(int i, int64_t v) {
  sqlite3_bind_int64(st_, i, v);
  return *this;
}

Statement& Statement::bind(int i, double v) {
  sqlite3_bind_double(st_, i, v);
  return *this;
}

Statement& Statement::bind(int i, std::string_view v) {
  // Never a null pointer: an empty text is '' and not NULL.
  sqlite3_bind_text64(st_, i, v.empty() ? "" : v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  return *this;
}

Statement& Statement::bind(int i, const std::optional<int>& v) {
  return v ? bind(i, int64_t{*v}) : bindNull(i);
}

Statement& Statement::bindNull(int i) {
  sqlite3_bind_null(st_, i);
  return *this;
}

int Statement::step() {
  return st_ ? sqlite3_step(st_) : SQLITE_MISUSE;
}

bool Statement::run() {
  return step() == SQLITE_DONE;
}

void Statement::reset() {
  if (!st_) return;
  sqlite3_reset(st_);
  sqlite3_clear_bindings(st_);
}

int64_t Statement::integer(int col) const {
  return sqlite3_column_int64(st_, col);
}

double Statement::real(int col) const {
  return sqlite3_column_double(st_, col);
}

std::string Statement::text(int col) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, col));
  return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(st_, col)))
           : std::string();
}

bool Statement::isNull(int col) const {
  return sqlite3_column_type(st_, col) == SQLITE_NULL;
}

Transaction::~Transaction() {
  rollback();
}

int Transaction::begin() {
  const int rc = db_.exec("BEGIN IMMEDIATE");
  open_ = rc == SQLITE_OK;
  return rc;
}

int Transaction::commit() {
  const int rc = db_.exec("COMMIT");
  if (rc == SQLITE_OK) open_ = false;
  return rc;
}

void Transaction::rollback() {
  if (open_ && sqlite3_get_autocommit(db_.handle()) == 0) db_.exec("ROLLBACK");
  open_ = false;
}

}  // namespace kline::records::sql
