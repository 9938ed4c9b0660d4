#pragma once

// The bike records: every visit a bike made to the workshop, kept in one SQLite file that the
// window and the command line share. A bike is known by its ECU's identification; a visit is one
// connection that identified it, with what was read, tested and changed, and a summary of the
// live values. The file is written in short transactions (WAL), so a process killed at any
// moment loses at most the last second of a visit and never the file.
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

// What the store reads comes with its comparison and its JSON.
#include "records/recordjson.h"
#include "records/records.h"
#include "records/visitcompare.h"

namespace kline::records {

// The schema this build writes (PRAGMA user_version). An older file is migrated when opened for
// writing; a newer one is opened read-only.
inline constexpr int kSchemaVersion = 2;

class RecordFile;

// One open records file. Not shared between threads: each thread opens its own (WAL lets them
// read while another writes). Every write is one short transaction, retried while another
// process holds the file (busy time-out).
class RecordStore {
 public:
  enum class Mode { ReadWrite, ReadOnly };
  // Opens `path` (UTF-8), creating it and its folder when `mode` is ReadWrite and it does not
  // exist. Returns null with `why` set (one line for the user) when it cannot: not a records
  // database, a folder that cannot be made, a read-only file. A file is never replaced or
  // truncated. A file of a newer schema opens read-only, with notice() saying so.
  static std::unique_ptr<RecordStore> Open(const std::string& path, Mode mode, std::string& why);
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  const std::string& path() const;
  bool readOnly() const;
  // A remark about the file for the user (a newer schema, a migration); empty when none.
  const std::string& notice() const;
  // Why the last call failed (a full disk, a read-only file); empty after a success.
  const std::string& error() const;

  // Writing. Each returns false (or 0) with error() set when it failed.
  // The bike with this identification (or merged into a bike, see merge()), found or added; its
  // calibration is updated when given, and so is its latest visit's when that began without one.
  // The ECU types that read one ECU two ways (the P8 polled whole or sensor by sensor) find the
  // same bike: one of the very type first (an older file may hold one of each), then the others;
  // a new bike is kept under the ECU's name (EcuOfLabel).
  int64_t bikeFor(const BikeKey& key);
  int64_t startVisit(int64_t bike, const VisitStart& v);
  bool endVisit(int64_t visit, WallTime end);
  // A visit that another connection of the same stay joins: not ended until that one ends.
  bool reopenVisit(int64_t visit);
  bool setMileage(int64_t visit, std::optional<int> km);
  bool addReadout(int64_t visit, const ReadoutRecord& r);
  bool addTest(int64_t visit, const TestRecord& t);
  bool addChange(int64_t visit, const ChangeRecord& c);
  // Replaces the visit's channel summaries.
  bool setChannels(int64_t visit, const std::vector<ChannelSummary>& channels);
  bool addFile(int64_t visit, const FileRecord& f);
  // Runs several writes as one transaction (the keeper's batch of a second); false and rolled
  // back when one of them failed. When another program keeps the file busy past the time-out,
  // the transaction is rolled back and `writes` runs again (up to three times in all).
  bool batch(const std::function<bool()>& writes);

  bool setDetails(int64_t bike, const BikeDetails& d);
  bool rename(int64_t bike, const std::string& name);
  // Moves the visits of `from` to `into` and removes `from`; `into` takes the details it lacks
  // from `from`, and `from`'s identification, so that ECU's next visit comes to `into`.
  bool merge(int64_t from, int64_t into);
  // Removes the bike, its visits and everything in them.
  bool forget(int64_t bike);

  // Reading.
  // The bikes, the most recently seen first; `search` (any case of the letters A-Z) matches the
  // name, registration, owner, notes, identification and calibration.
  std::vector<Bike> bikes(const std::string& search = {});
  std::optional<Bike> bike(int64_t id);
  // By ECU (any type of that ECU, as bikeFor), iso code and identification.
  std::optional<Bike> findBike(const BikeKey& key);
  // A bike by its number as the user typed it ("7"): a number only ever means the bike of that
  // number; `why` says what is wrong otherwise (not a number, no such bike).
  std::optional<Bike> bikeByNumber(const std::string& number, std::string& why);
  // The one bike whose name, registration or identification holds `text` (any case; a whole
  // match wins over parts); `why` says what is wrong otherwise (none, or several, listed).
  std::optional<Bike> searchBike(const std::string& text, std::string& why);
  std::vector<VisitSummary> visits(int64_t bike);  // the latest first
  std::optional<Visit> visit(int64_t id);
  // The bike's visit before this one; 0 when none.
  int64_t previousVisit(int64_t visit);

  // Everything, for `records export`.
  nlohmann::json exportJson();
  // A consistent copy of the file (SQLite's online backup) to `path`; false with `why`.
  bool backup(const std::string& path, std::string& why);

 private:
  explicit RecordStore(std::unique_ptr<RecordFile> file);
  std::unique_ptr<RecordFile> d_;
};

// Whether the records file at `path` is sound: "ok", or what PRAGMA integrity_check found (one
// line per problem), or why it could not be checked.
std::string IntegrityCheck(const std::string& path);

// Where the records live by default: the user's data folder (XDG_DATA_HOME or
// ~/.local/share/klinediag/records.sqlite; %LOCALAPPDATA%\klinediag\records.sqlite on Windows).
std::string DefaultRecordsPath();

}  // namespace kline::records
