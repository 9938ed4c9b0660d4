-- A records file as klinediag wrote it with schema version 1 (before the mileage, the files of a
-- visit and the merged bikes' identifications): the migration test builds the file from this.
PRAGMA application_id = 1802265714;
PRAGMA user_version = 1;
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

INSERT INTO bikes VALUES (1, '15m', '0C 4D', 'IDENT 4711', 'CAL A1', 'Red one', 'AB-123', 'Mrs Smith', '');
INSERT INTO visits VALUES (1, 1, 1741939200000, 60, 1741940100000, 60, '/dev/ttyUSB0', 'FT232R', '15m', '0.0.9', 1, '0C 4D', 'IDENT 4711', 'CAL A1');
INSERT INTO visits VALUES (2, 1, 1757000000000, 120, 0, 0, 'sim', '', '15m', '0.0.9', 1, '0C 4D', 'IDENT 4711', 'CAL A1');
INSERT INTO readouts VALUES (1, 1, 1741939300000, 60, 'faults', 18, 0, 4, 15, 1, 98000, 1, 2);
INSERT INTO readout_lines VALUES (1, 0, 'Throttle sensor', 1);
INSERT INTO readout_lines VALUES (1, 1, 'Engine temperature sensor', 1);
INSERT INTO readout_lines VALUES (1, 2, 'Stored faults: 2', 0);
INSERT INTO readouts VALUES (2, 2, 1757000100000, 120, 'faults', 16, 0, 0, 15, 1, 54000, 1, 1);
INSERT INTO readout_lines VALUES (2, 0, 'Throttle sensor', 1);
INSERT INTO tests VALUES (1, 2, 1757000200000, 120, 'Form1', 'Fuel pump', 2, 'passed', 'Test finish');
INSERT INTO changes VALUES (1, 1, 1741939500000, 60, 'trimmer', 120, 128);
INSERT INTO channels VALUES (1, 0, 'Engine speed', 'rpm', 400, 1180, 3020, 1512.5, '1180', '3020', '1512');
