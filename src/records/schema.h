#pragma once

// The records file's tables, one function per schema version: each brings a file of the
// version before it to its own. A new file goes through all of them, so every step is run by
// every new file as well as by the old files it was written for.
#include "records/sqlite.h"

namespace kline::records {

// Marks a file as ours (PRAGMA application_id): a SQLite file of another program is left alone.
inline constexpr int kApplicationId = 0x6b6c6472;

// Brings the file from `from` to kSchemaVersion inside the caller's transaction, setting
// user_version; false with the database's error when a step failed.
bool MigrateSchema(sql::Database& db, int from);

}  // namespace kline::records
