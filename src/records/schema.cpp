#include "records/schema.h"

#include <sqlite3.h>

#include <string>

#include "records/recordstore.h"

namespace kline::records {
namespace {

// Version 1: bikes, visits and what a visit read, tested, changed and summarised.
constexpr const char* kVersion1 = R"sql(
-- A bike, known by its ECU's type caption, iso code and identification; the calibration is the
-- last one read; name, registration, owner and notes are the user's.
CREATE TABLE bikes (
  id INTEGER PRIMARY KEY,
  ecu TEXT NOT NULL,
  iso_code TEXT NOT NULL,
  identification TEXT NOT NULL,
  calibration TEXT NOT NULL DEFAULT '',
  name TEXT NOT NULL DEFAULT '',
  registration TEXT NOT NULL DEFAULT '',
  owner TEXT NOT NULL DEFAULT '',
  notes TEXT NOT NULL DEFAULT '',
  UNIQUE (ecu, iso_code, identification)
);

-- A connection that identified a bike: wall times in ms since 1970 UTC with the local offset
-- (end_ms 0: not ended), and the identification as read on that visit.
CREATE TABLE visits (
  id INTEGER PRIMARY KEY,
  bike INTEGER NOT NULL REFERENCES bikes (id) ON DELETE CASCADE,
  start_ms INTEGER NOT NULL,
  start_offset INTEGER NOT NULL,
  end_ms INTEGER NOT NULL DEFAULT 0,
  end_offset INTEGER NOT NULL DEFAULT 0,
  port TEXT NOT NULL,
  adapter TEXT NOT NULL,
  ecu TEXT NOT NULL,
  version TEXT NOT NULL,
  identity_trusted INTEGER NOT NULL,
  iso_code TEXT NOT NULL,
  identification TEXT NOT NULL,
  calibration TEXT NOT NULL
);
CREATE INDEX visits_by_bike ON visits (bike, start_ms);

-- A readout of fault, immobiliser or "Diag" bytes (kind: faults, immobiliser, immobiliser2,
-- diag); fault_lines counts its lines flagged as faults, for the lists.
CREATE TABLE readouts (
  id INTEGER PRIMARY KEY,
  visit INTEGER NOT NULL REFERENCES visits (id) ON DELETE CASCADE,
  at_ms INTEGER NOT NULL,
  at_offset INTEGER NOT NULL,
  kind TEXT NOT NULL,
  byte0 INTEGER NOT NULL,
  byte1 INTEGER NOT NULL,
  byte2 INTEGER NOT NULL,
  code INTEGER NOT NULL,
  fault_stored INTEGER NOT NULL,
  host_ms INTEGER NOT NULL,
  trusted INTEGER NOT NULL,
  fault_lines INTEGER NOT NULL
);
CREATE INDEX readouts_by_visit ON readouts (visit, kind);

-- A readout's lines in order, each with its fault flag.
CREATE TABLE readout_lines (
  readout INTEGER NOT NULL REFERENCES readouts (id) ON DELETE CASCADE,
  n INTEGER NOT NULL,
  text TEXT NOT NULL,
  fault INTEGER NOT NULL,
  PRIMARY KEY (readout, n)
) WITHOUT ROWID;

-- A test of the main window ("Form2") or the test window ("Form1") and its verdict (passed,
-- failed, unknown, cancelled) with the words the window showed.
CREATE TABLE tests (
  id INTEGER PRIMARY KEY,
  visit INTEGER NOT NULL REFERENCES visits (id) ON DELETE CASCADE,
  at_ms INTEGER NOT NULL,
  at_offset INTEGER NOT NULL,
  window TEXT NOT NULL,
  name TEXT NOT NULL,
  code INTEGER NOT NULL,
  verdict TEXT NOT NULL,
  shown TEXT NOT NULL
);
CREATE INDEX tests_by_visit ON tests (visit);

-- The trimmer or the CO regulation set (setting: trimmer, co_regulation); before -1: unknown.
CREATE TABLE changes (
  id INTEGER PRIMARY KEY,
  visit INTEGER NOT NULL REFERENCES visits (id) ON DELETE CASCADE,
  at_ms INTEGER NOT NULL,
  at_offset INTEGER NOT NULL,
  setting TEXT NOT NULL,
  before INTEGER NOT NULL,
  after INTEGER NOT NULL
);
CREATE INDEX changes_by_visit ON changes (visit);

-- A live channel over the visit's completed cycles, as numbers and as the window wrote them.
CREATE TABLE channels (
  visit INTEGER NOT NULL REFERENCES visits (id) ON DELETE CASCADE,
  idx INTEGER NOT NULL,
  name TEXT NOT NULL,
  unit TEXT NOT NULL,
  count INTEGER NOT NULL,
  min REAL NOT NULL,
  max REAL NOT NULL,
  mean REAL NOT NULL,
  min_text TEXT NOT NULL,
  max_text TEXT NOT NULL,
  mean_text TEXT NOT NULL,
  PRIMARY KEY (visit, idx)
) WITHOUT ROWID;
)sql";

// Version 2: the mileage the user types, the files made during a visit, and the identifications
// a bike took over from the bikes merged into it.
constexpr const char* kVersion2 = R"sql(
ALTER TABLE visits ADD COLUMN mileage INTEGER;

-- A recording, report or saved log made during the visit (kind: recording, report, log).
CREATE TABLE files (
  id INTEGER PRIMARY KEY,
  visit INTEGER NOT NULL REFERENCES visits (id) ON DELETE CASCADE,
  at_ms INTEGER NOT NULL,
  at_offset INTEGER NOT NULL,
  kind TEXT NOT NULL,
  path TEXT NOT NULL
);
CREATE INDEX files_by_visit ON files (visit);

-- The identification of a bike merged into another: the next visit of that ECU goes to the bike
-- it was merged into.
CREATE TABLE bike_aliases (
  ecu TEXT NOT NULL,
  iso_code TEXT NOT NULL,
  identification TEXT NOT NULL,
  bike INTEGER NOT NULL REFERENCES bikes (id) ON DELETE CASCADE,
  PRIMARY KEY (ecu, iso_code, identification)
) WITHOUT ROWID;
CREATE INDEX bike_aliases_by_bike ON bike_aliases (bike);
)sql";

constexpr const char* kSteps[] = {kVersion1, kVersion2};
static_assert(std::size(kSteps) == kSchemaVersion);

}  // namespace

bool MigrateSchema(sql::Database& db, int from) {
  for (int v = from; v < kSchemaVersion; ++v) {
    if (db.exec(kSteps[v]) != SQLITE_OK) return false;
  }
  const std::string pragmas = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(kSchemaVersion);
  return db.exec(pragmas.c_str()) == SQLITE_OK;
}

}  // namespace kline::records
