// The records file: what is written reads back whole, the lists and the comparison, merging and
// forgetting, the old and the newer schema, files that are not ours or cannot be written, and
// two writers at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "records/recordstore.h"

namespace kline::records {
namespace {

namespace fs = std::filesystem;

class RecordStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("klinediag-records-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    path_ = (dir_ / "records.sqlite").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  std::unique_ptr<RecordStore> open(RecordStore::Mode mode = RecordStore::Mode::ReadWrite) {
    std::string why;
    auto s = RecordStore::Open(path_, mode, why);
    EXPECT_TRUE(s) << why;
    return s;
  }

  // A count straight from the file, past the store.
  int64_t count(const std::string& sqlText) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    int64_t n = -1;
    if (sqlite3_prepare_v2(db, sqlText.c_str(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
  }

  static std::string bytesOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path dir_;
  std::string path_;
};

WallTime At(int64_t s) {
  return {1'790'000'000'000 + s * 1000, 60};
}

ReadoutRecord Faults(std::vector<std::string> lines, std::vector<bool> fault, int64_t at) {
  ReadoutRecord r;
  r.readout.kind = ReadoutKind::Faults;
  r.readout.lines = std::move(lines);
  r.readout.fault = std::move(fault);
  r.at = At(at);
  return r;
}

// A bike with one visit started at `at` that read these fault lines (all flagged).
int64_t VisitWithFaults(RecordStore& s, const BikeKey& key, int64_t at,
                        const std::vector<std::string>& faults) {
  const int64_t bike = s.bikeFor(key);
  const int64_t visit = s.startVisit(bike, {At(at), "sim", "", key.ecu, "0.1.0", true});
  s.addReadout(visit, Faults(faults, std::vector<bool>(faults.size(), true), at + 5));
  return visit;
}

TEST_F(RecordStoreTest, AVisitReadsBackWholeWithItsBytesAsGiven) {
  auto s = open();
  ASSERT_TRUE(s);
  const std::string odd = "Imm\xff\xfe \x01 caf\xc3\xa9";  // not UTF-8, a control byte
  const int64_t bike = s->bikeFor({"15m", "0C 4D", odd, ""});
  ASSERT_GT(bike, 0) << s->error();
  const int64_t visit =
      s->startVisit(bike, {At(0), "/dev/ttyUSB0", "FT232R", "15m", "0.1.0", false});
  ASSERT_GT(visit, 0) << s->error();
  // The calibration comes after the identification: the visit takes it too.
  EXPECT_EQ(s->bikeFor({"15m", "0C 4D", odd, "CAL 7"}), bike);

  ReadoutRecord immo;
  immo.readout.kind = ReadoutKind::Immobiliser2;
  immo.readout.lines = {"Key taught", odd};
  immo.readout.fault = {false, true};
  immo.readout.bytes = {0x40, 0, 0};
  immo.readout.code = 0x1c;
  immo.readout.faultStored = true;
  immo.readout.time = 4'000'000'000u;
  immo.readout.trusted = false;
  immo.at = At(3);
  ASSERT_TRUE(s->batch([&] {
    return s->addReadout(visit, Faults({"Throttle", "Stored: 1"}, {true, false}, 2)) &&
           s->addReadout(visit, immo) &&
           s->addTest(visit,
                      {"Form1", "Fuel pump", 2, ev::Verdict::Failed, "Test failed", At(4)}) &&
           s->addChange(visit, {Setting::Trimmer, -1, 131, At(5)}) &&
           s->addChange(visit, {Setting::CoRegulation, 0, 1, At(6)}) &&
           s->setChannels(visit, {{0, "Engine speed", "rpm", 10, 900, 1200.5, 1000.25, "900",
                                   "1200.5", "1000.25"}}) &&
           s->setChannels(visit,
                          {{0, "Engine speed", "rpm", 12, 800, 1300, 1001, "800", "1300", "1001"},
                           {3, "Air",
                            "\xc2\xb0"
                            "C",
                            12, 20, 21, 20.5, "20", "21", "20.5"}}) &&
           s->addFile(visit, {FileKind::Report, "/tmp/r\xe9port.html", At(7)}) &&
           s->setMileage(visit, 12345);
  })) << s->error();
  ASSERT_TRUE(s->endVisit(visit, At(60)));

  const auto v = s->visit(visit);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->bike, bike);
  EXPECT_EQ(v->begun.port, "/dev/ttyUSB0");
  EXPECT_EQ(v->begun.adapter, "FT232R");
  EXPECT_FALSE(v->begun.identityTrusted);
  EXPECT_EQ(v->begun.start.msSinceEpoch, At(0).msSinceEpoch);
  EXPECT_EQ(v->end.msSinceEpoch, At(60).msSinceEpoch);
  EXPECT_EQ(v->end.utcOffsetMinutes, 60);
  EXPECT_EQ(v->mileage, 12345);
  EXPECT_EQ(v->key.identification, odd);
  EXPECT_EQ(v->key.calibration, "CAL 7");
  ASSERT_EQ(v->readouts.size(), 2u);
  EXPECT_EQ(v->readouts[0].readout.lines, (std::vector<std::string>{"Throttle", "Stored: 1"}));
  EXPECT_EQ(v->readouts[0].readout.fault, (std::vector<bool>{true, false}));
  const Readout& r = v->readouts[1].readout;
  EXPECT_EQ(r.kind, ReadoutKind::Immobiliser2);
  EXPECT_EQ(r.lines[1], odd);
  EXPECT_EQ(r.fault, (std::vector<bool>{false, true}));
  EXPECT_EQ(r.bytes[0], 0x40);
  EXPECT_EQ(r.code, 0x1c);
  EXPECT_TRUE(r.faultStored);
  EXPECT_EQ(r.time, 4'000'000'000u);
  EXPECT_FALSE(r.trusted);
  ASSERT_EQ(v->tests.size(), 1u);
  EXPECT_EQ(v->tests[0].verdict, ev::Verdict::Failed);
  EXPECT_EQ(v->tests[0].shown, "Test failed");
  ASSERT_EQ(v->changes.size(), 2u);
  EXPECT_EQ(v->changes[0].before, -1);
  EXPECT_EQ(v->changes[0].after, 131);
  EXPECT_EQ(v->changes[1].setting, Setting::CoRegulation);
  ASSERT_EQ(v->channels.size(), 2u);  // replaced, not added to
  EXPECT_EQ(v->channels[0].count, 12u);
  EXPECT_EQ(v->channels[1].unit,
            "\xc2\xb0"
            "C");
  EXPECT_DOUBLE_EQ(v->channels[1].mean, 20.5);
  ASSERT_EQ(v->files.size(), 1u);
  EXPECT_EQ(v->files[0].path, "/tmp/r\xe9port.html");

  // JSON: the invalid bytes replaced, the control byte escaped by the dump.
  const std::string text = ToJson(*v).dump();
  EXPECT_NE(text.find("Imm\xef\xbf\xbd\xef\xbf\xbd \\u0001 caf\xc3\xa9"), std::string::npos);
  EXPECT_NE(text.find("\"verdict\":\"failed\""), std::string::npos);
  EXPECT_NO_THROW(s->exportJson().dump());
  EXPECT_EQ(s->exportJson()["bikes"][0]["visit_records"][0]["mileage"], 12345);

  // A failed write in a batch takes the others back with it, whatever the batch returns.
  EXPECT_FALSE(s->batch([&] {
    s->addTest(visit, {"Form2", "Idle", 1, ev::Verdict::Passed, "OK", At(8)});
    s->startVisit(999, {At(9), "sim", "", "15m", "0.1.0", true});
    return true;
  }));
  EXPECT_NE(s->error(), "");
  EXPECT_EQ(s->visit(visit)->tests.size(), 1u);
}

TEST_F(RecordStoreTest, BikesListTheLastVisitFirstWithItsFaultsAndAreFoundBySearch) {
  auto s = open();
  ASSERT_TRUE(s);
  const BikeKey red{"15m", "0C", "RED 1", "C1"}, blue{"16m", "", "BLUE 2", "C2"},
      green{"P8", "", "GREEN 3", ""};
  const int64_t red1 = VisitWithFaults(*s, red, 100, {"Throttle", "Lambda"});
  const int64_t red2 = s->startVisit(s->bikeFor(red), {At(300), "sim", "", "15m", "0.1.0", true});
  s->addReadout(red2, Faults({"Throttle", "Lambda"}, {true, true}, 301));
  s->addReadout(red2, Faults({"Throttle", "Fault count 1"}, {true, false}, 302));
  s->addTest(red2, {"Form2", "Fuel", 1, ev::Verdict::Passed, "OK", At(302)});
  VisitWithFaults(*s, blue, 200, {});
  const int64_t g = s->bikeFor(green);
  s->setDetails(g, {"Grandad's\nP8", "XY-9", "O'Brien", "carb \xe9t\xe9"});

  const std::vector<Bike> all = s->bikes();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].key.identification, "RED 1");
  EXPECT_EQ(all[0].visits, 2);
  EXPECT_EQ(all[0].lastVisit, red2);
  EXPECT_EQ(all[0].lastFaults, 1);  // the non-fault line is not counted
  EXPECT_EQ(all[1].key.identification, "BLUE 2");
  EXPECT_EQ(all[1].lastFaults, 0);
  EXPECT_EQ(all[2].details.name, "Grandad's\nP8");  // never visited: last
  EXPECT_EQ(all[2].lastVisit, 0);
  EXPECT_EQ(all[2].lastFaults, -1);

  EXPECT_EQ(s->bikes("xy-").size(), 1u);
  EXPECT_EQ(s->bikes("o'brien").size(), 1u);  // a quote is text, not SQL
  EXPECT_EQ(s->bikes("ED 1").size(), 1u);
  EXPECT_EQ(s->bikes("%").size(), 0u);
  EXPECT_EQ(s->bikes("c").size(), 3u);  // calibration "C1", "C2", notes "carb"

  const auto visits = s->visits(all[0].id);
  ASSERT_EQ(visits.size(), 2u);
  EXPECT_EQ(visits[0].id, red2);
  EXPECT_EQ(visits[0].tests, 1);
  EXPECT_EQ(visits[1].faults, 2);
  EXPECT_EQ(s->previousVisit(red2), red1);
  EXPECT_EQ(s->previousVisit(red1), 0);

  std::string why;
  EXPECT_EQ(s->bikeByNumber(std::to_string(g), why)->id, g);
  EXPECT_EQ(s->searchBike("grandad", why)->id, g);
  EXPECT_FALSE(s->searchBike("E", why));  // RED, BLUE, GREEN
  EXPECT_NE(why.find("3 bikes match"), std::string::npos) << why;
  EXPECT_EQ(why.find('\n'), std::string::npos);
  EXPECT_FALSE(s->searchBike("nothing like it", why));
  // A number only ever means the bike of that number, never a bike whose texts hold it.
  ASSERT_EQ(s->searchBike("9", why)->id, g);  // "XY-9"
  EXPECT_FALSE(s->bikeByNumber("9", why));
  EXPECT_EQ(why, "No bike 9 in the records");
  EXPECT_FALSE(s->bikeByNumber("red", why));
  EXPECT_NE(why.find("is not a bike's number"), std::string::npos) << why;
  EXPECT_FALSE(s->bikeByNumber("", why));
  EXPECT_EQ(s->findBike(BikeKey{"15m", "0C", "RED 1", ""})->id, all[0].id);
}

TEST_F(RecordStoreTest, AMergedBikeKeepsItsIdentityAndAForgottenBikeLeavesNothing) {
  auto s = open();
  ASSERT_TRUE(s);
  const BikeKey oldEcu{"15m", "0C", "OLD ECU", ""}, newEcu{"15m", "0C", "NEW ECU", ""};
  VisitWithFaults(*s, oldEcu, 100, {"Throttle"});
  VisitWithFaults(*s, newEcu, 200, {});
  const int64_t from = s->findBike(oldEcu)->id, into = s->findBike(newEcu)->id;
  ASSERT_TRUE(s->setDetails(from, {"Customer's bike", "", "Zebedee Quux", "Secret-note-4711"}));
  ASSERT_TRUE(s->merge(from, into)) << s->error();
  EXPECT_FALSE(s->merge(into, into));
  EXPECT_FALSE(s->bike(from));
  const auto kept = s->bike(into);
  EXPECT_EQ(kept->visits, 2);
  EXPECT_EQ(kept->details.owner, "Zebedee Quux");
  // The old ECU comes back on the bike it was merged into.
  EXPECT_EQ(s->bikeFor(oldEcu), into);
  const int64_t other = s->bikeFor({"16m", "", "SOMEONE ELSE", ""});

  ASSERT_TRUE(s->forget(into)) << s->error();
  EXPECT_FALSE(s->forget(into));
  EXPECT_EQ(count("SELECT count(*) FROM bikes"), 1);
  EXPECT_EQ(count("SELECT count(*) FROM bikes WHERE id = " + std::to_string(other)), 1);
  for (const char* table : {"visits", "readouts", "readout_lines", "tests", "changes", "channels",
                            "files", "bike_aliases"})
    EXPECT_EQ(count(std::string("SELECT count(*) FROM ") + table), 0) << table;
  s.reset();
  // Not in free pages or the log either.
  for (const char* suffix : {"", "-wal"})
    EXPECT_EQ(bytesOf(path_ + suffix).find("Secret-note-4711"), std::string::npos) << suffix;
}

TEST_F(RecordStoreTest, TheP8ReadEitherWayIsOneBikeAndAnOlderFilesTwoStayUntilMerged) {
  auto s = open();
  ASSERT_TRUE(s);
  const BikeKey whole{"P8", "", "KLP8--0815", ""}, bySensor{"P8-sensor", "", "KLP8--0815", ""};
  const int64_t bike = s->bikeFor(bySensor);
  ASSERT_NE(bike, 0);
  EXPECT_EQ(s->bikeFor(whole), bike);
  EXPECT_EQ(s->findBike(bySensor)->id, bike);
  EXPECT_EQ(s->bike(bike)->key.ecu, "P8");
  EXPECT_NE(s->bikeFor({"15m", "", "KLP8--0815", ""}), bike);  // another ECU type

  // A file written before: one bike per P8 type. Each connection finds the bike of its very
  // type, until the user merges them; then both find the one kept.
  s.reset();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "INSERT INTO bikes (ecu, iso_code, identification) VALUES "
                         "('P8', '', 'KLP8--0999'), ('P8-sensor', '', 'KLP8--0999')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  s = open();
  ASSERT_TRUE(s);
  const BikeKey oldWhole{"P8", "", "KLP8--0999", ""},
      oldBySensor{"P8-sensor", "", "KLP8--0999", ""};
  const int64_t p8 = s->bikeFor(oldWhole), sensor = s->bikeFor(oldBySensor);
  EXPECT_NE(p8, sensor);
  EXPECT_EQ(s->bikes("KLP8--0999").size(), 2u);
  ASSERT_TRUE(s->merge(sensor, p8)) << s->error();
  EXPECT_EQ(s->bikeFor(oldBySensor), p8);
  EXPECT_EQ(s->bikeFor(oldWhole), p8);
  EXPECT_EQ(s->bikes("KLP8--0999").size(), 1u);
}

TEST(RecordsCompare, FaultsAppearedClearedAndStayedTrimmerAndMeans) {
  Visit older, newer;
  older.id = 1;
  newer.id = 2;
  older.readouts = {Faults({"A", "B", "gone"}, {true, true, true}, 0),
                    Faults({"A", "B", "Count 2", "Lambda"}, {true, true, false, false}, 1)};
  newer.readouts = {Faults({"B", "C", "Count 2"}, {true, true, false}, 2)};
  older.changes = {{Setting::Trimmer, -1, 120, {}},
                   {Setting::Trimmer, 120, 125, {}},
                   {Setting::CoRegulation, 0, 1, {}}};
  older.channels = {{0, "Engine speed", "rpm", 5, 0, 0, 1000, "", "", ""},
                    {2, "Battery", "V", 0, 0, 0, 0, "", "", ""}};
  newer.channels = {{0, "Engine speed", "rpm", 5, 0, 0, 1100, "", "", ""},
                    {1, "Throttle", "%", 3, 0, 0, 4.5, "", "", ""}};
  const Comparison c = Compare(older, newer);
  EXPECT_TRUE(c.faultsReadBoth);
  EXPECT_EQ(c.appeared, std::vector<std::string>{"C"});
  EXPECT_EQ(c.cleared, std::vector<std::string>{"A"});
  EXPECT_EQ(c.stayed, std::vector<std::string>{"B"});
  EXPECT_EQ(c.trimmerOlder, 125);
  EXPECT_EQ(c.trimmerNewer, -1);
  ASSERT_EQ(c.channels.size(), 3u);
  EXPECT_EQ(c.channels[0].older, 1000);
  EXPECT_EQ(c.channels[0].newer, 1100);
  EXPECT_EQ(c.channels[1].older, std::nullopt);
  EXPECT_EQ(c.channels[1].newer, 4.5);
  EXPECT_EQ(c.channels[2].older, std::nullopt);  // no cycles: no mean
  EXPECT_EQ(ToJson(c)["channels"][2]["older_mean"], nullptr);

  newer.readouts.clear();
  const Comparison none = Compare(older, newer);
  EXPECT_FALSE(none.faultsReadBoth);
  EXPECT_TRUE(none.appeared.empty() && none.cleared.empty() && none.stayed.empty());
}

TEST_F(RecordStoreTest, AVersionOneFileIsBroughtUpToDateAndANewerOneOpensReadOnly) {
  {
    std::ifstream in(fs::path(KLINE_RECORDS_TESTDATA) / "records_v1.sql");
    const std::string sqlText{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(sqlText.empty());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sqlText.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  {
    // Read as it is, and left so, when opened for reading only.
    const std::string before = bytesOf(path_);
    auto s = open(RecordStore::Mode::ReadOnly);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->bikes().at(0).details.name, "Red one");
    EXPECT_EQ(s->visit(2)->tests.at(0).shown, "Test finish");
    EXPECT_EQ(s->findBike(BikeKey{"15m", "0C 4D", "IDENT 4711", ""})->id, 1);
    s.reset();
    EXPECT_EQ(bytesOf(path_), before);
  }
  {
    auto s = open();
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->readOnly());
    EXPECT_NE(s->notice().find("from schema 1 to 2"), std::string::npos) << s->notice();
    EXPECT_EQ(count("PRAGMA user_version"), kSchemaVersion);
    const auto bikes = s->bikes();
    ASSERT_EQ(bikes.size(), 1u);
    EXPECT_EQ(bikes[0].details.owner, "Mrs Smith");
    EXPECT_EQ(bikes[0].visits, 2);
    EXPECT_EQ(bikes[0].lastFaults, 1);
    const auto v = s->visit(1);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->mileage, std::nullopt);
    EXPECT_EQ(v->readouts[0].readout.lines[1], "Engine temperature sensor");
    EXPECT_EQ(v->channels[0].meanText, "1512");
    EXPECT_TRUE(s->setMileage(1, 20500));
    EXPECT_TRUE(s->addFile(2, {FileKind::Log, "/tmp/log.txt", At(0)}));
    const Comparison c = Compare(*v, *s->visit(2));
    EXPECT_EQ(c.cleared, std::vector<std::string>{"Engine temperature sensor"});
  }
  EXPECT_EQ(IntegrityCheck(path_), "ok");
  EXPECT_EQ(count("SELECT mileage FROM visits WHERE id = 1"), 20500);
  {
    auto again = open();  // nothing left to do
    EXPECT_EQ(again->notice(), "");
  }

  // A file from a later program: read, never written.
  count("PRAGMA user_version");
  {
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_exec(db, "PRAGMA user_version = 3", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  const std::string before = bytesOf(path_);
  auto s = open();
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->readOnly());
  EXPECT_NE(s->notice().find("newer"), std::string::npos);
  EXPECT_EQ(s->bikes().size(), 1u);
  EXPECT_EQ(s->bikeFor({"15m", "", "ANOTHER", ""}), 0);
  EXPECT_NE(s->error().find("read-only"), std::string::npos);
  s.reset();
  EXPECT_EQ(bytesOf(path_), before);
}

// Open in a child process; as root the child drops to "nobody", for whom file modes count.
std::string WhyRefused(const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    std::string why;
    auto s = RecordStore::Open(path, RecordStore::Mode::ReadWrite, why);
    if (s) why = "opened";
    [[maybe_unused]] const auto n = write(fds[1], why.data(), why.size());
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return out;
}

TEST_F(RecordStoreTest, AFileThatIsNotOursOrCannotBeWrittenIsRefusedAndLeftAsItWas) {
  auto refusedUntouched = [&](const std::string& path, const std::string& expect) {
    const std::string before = bytesOf(path);
    std::string why;
    EXPECT_FALSE(RecordStore::Open(path, RecordStore::Mode::ReadWrite, why)) << path;
    EXPECT_NE(why.find(expect), std::string::npos) << why;
    EXPECT_EQ(why.find('\n'), std::string::npos);
    EXPECT_EQ(bytesOf(path), before) << path;
    EXPECT_FALSE(fs::exists(path + "-wal"));
  };
  // Random bytes, of a SQLite file's size or not.
  std::mt19937 rng(7);
  std::string noise(8192, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  std::ofstream(dir_ / "noise.sqlite", std::ios::binary) << noise;
  refusedUntouched((dir_ / "noise.sqlite").string(), "not a records file");
  std::ofstream(dir_ / "short.sqlite", std::ios::binary) << "hello\nworld\n";
  refusedUntouched((dir_ / "short.sqlite").string(), "not a records file");
  // A database of another program.
  const std::string other = (dir_ / "other.sqlite").string();
  sqlite3* db = nullptr;
  sqlite3_open(other.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE notes (t TEXT); INSERT INTO notes VALUES ('mine')", nullptr,
               nullptr, nullptr);
  sqlite3_close(db);
  refusedUntouched(other, "another program");
  // A folder.
  std::string why;
  EXPECT_FALSE(RecordStore::Open(dir_.string(), RecordStore::Mode::ReadWrite, why));
  EXPECT_NE(why.find("folder"), std::string::npos) << why;
  // An empty file becomes a records file.
  std::ofstream(dir_ / "empty.sqlite");
  EXPECT_TRUE(
      RecordStore::Open((dir_ / "empty.sqlite").string(), RecordStore::Mode::ReadWrite, why))
      << why;

  // A read-only file; a read-only folder, with a file in it or a new one.
  {
    auto s = open();
    ASSERT_TRUE(s);
    VisitWithFaults(*s, {"15m", "", "RO", ""}, 0, {"Throttle"});
  }
  const std::string before = bytesOf(path_);
  ASSERT_FALSE(fs::exists(path_ + "-wal"));
  fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_NE(WhyRefused(path_).find("read-only"), std::string::npos) << WhyRefused(path_);
  EXPECT_EQ(bytesOf(path_), before);
  fs::permissions(path_, fs::perms::all);
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);
  const std::string inFolder = WhyRefused(path_);
  EXPECT_NE(inFolder.find("read-only"), std::string::npos) << inFolder;
  EXPECT_EQ(bytesOf(path_), before);
  const std::string fresh = WhyRefused((dir_ / "new.sqlite").string());
  EXPECT_NE(fresh.find("cannot be opened"), std::string::npos) << fresh;
  EXPECT_FALSE(fs::exists(dir_ / "new.sqlite"));
  EXPECT_NE(WhyRefused((dir_ / "sub" / "new.sqlite").string()).find("cannot be made"),
            std::string::npos);
}

TEST_F(RecordStoreTest, AFullDiskFailsTheWriteAndKeepsTheFile) {
  auto s = open();
  ASSERT_TRUE(s);
  const int64_t visit = VisitWithFaults(*s, {"15m", "", "FULL", ""}, 0, {"Throttle"});
  // The process may make no file larger than it has now, plus a little: as a full disk would.
  std::error_code ec;
  const auto size = std::max(fs::file_size(path_), fs::file_size(path_ + "-wal", ec));
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{}, small{};
  getrlimit(RLIMIT_FSIZE, &old);
  small = old;
  small.rlim_cur = static_cast<rlim_t>(size + 65536);
  setrlimit(RLIMIT_FSIZE, &small);
  std::vector<std::string> lines(20000, std::string(80, 'x'));
  const bool wrote = s->addReadout(visit, Faults(lines, std::vector<bool>(lines.size(), false), 1));
  const std::string error = s->error();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_FALSE(wrote);
  EXPECT_NE(error, "");
  EXPECT_EQ(error.find('\n'), std::string::npos);
  // The file goes on as it was.
  EXPECT_EQ(s->visit(visit)->readouts.size(), 1u);
  EXPECT_TRUE(s->addTest(visit, {"Form2", "Idle", 1, ev::Verdict::Passed, "OK", At(2)}))
      << s->error();
  s.reset();
  EXPECT_EQ(IntegrityCheck(path_), "ok");
}

TEST_F(RecordStoreTest, TwoWritersAtOnceBothKeepTheirVisits) {
  ASSERT_TRUE(open());
  constexpr int kVisits = 150;
  auto writer = [&](const std::string& ident, int& written) {
    std::string why;
    auto s = RecordStore::Open(path_, RecordStore::Mode::ReadWrite, why);
    if (!s) return;
    const int64_t bike = s->bikeFor({"15m", "", ident, ""});
    for (int i = 0; i < kVisits; ++i) {
      const bool ok = s->batch([&] {
        const int64_t v = s->startVisit(bike, {At(i), "sim", "", "15m", "0.1.0", true});
        return v && s->addReadout(v, Faults({"Throttle"}, {true}, i)) && s->endVisit(v, At(i + 1));
      });
      written += ok;
    }
  };
  int a = 0, b = 0;
  std::thread ta(writer, "A", std::ref(a)), tb(writer, "B", std::ref(b));
  ta.join();
  tb.join();
  EXPECT_EQ(a, kVisits);
  EXPECT_EQ(b, kVisits);
  EXPECT_EQ(count("SELECT count(*) FROM visits"), 2 * kVisits);
  EXPECT_EQ(count("SELECT count(*) FROM readouts"), 2 * kVisits);
  EXPECT_EQ(IntegrityCheck(path_), "ok");
}

TEST_F(RecordStoreTest, ABackupIsAWholeRecordsFileAndReplacesNothingElse) {
  auto s = open();
  ASSERT_TRUE(s);
  VisitWithFaults(*s, {"15m", "", "BACKED UP", ""}, 0, {"Throttle"});
  const std::string copy = (dir_ / "copy.sqlite").string();
  std::string why;
  ASSERT_TRUE(s->backup(copy, why)) << why;
  ASSERT_TRUE(s->backup(copy, why)) << why;  // an earlier copy is replaced
  EXPECT_EQ(IntegrityCheck(copy), "ok");
  auto c = RecordStore::Open(copy, RecordStore::Mode::ReadOnly, why);
  ASSERT_TRUE(c) << why;
  EXPECT_EQ(c->bikes().at(0).lastFaults, 1);

  const std::string text = (dir_ / "letter.txt").string();
  std::ofstream(text) << "Dear customer";
  EXPECT_FALSE(s->backup(text, why));
  EXPECT_NE(why.find("not a records file"), std::string::npos);
  EXPECT_EQ(bytesOf(text), "Dear customer");
  EXPECT_FALSE(s->backup(path_, why));  // not over itself
  EXPECT_EQ(IntegrityCheck(path_), "ok");

  // A damaged file is reported as such.
  s.reset();
  c.reset();
  std::string bytes = bytesOf(copy);
  ASSERT_GT(bytes.size(), 4096u * 3);
  for (std::size_t i = 4096; i < 4096 + 12; ++i) bytes[i] = '\x55';  // a page's header
  std::ofstream(copy, std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_NE(IntegrityCheck(copy), "ok");
}

}  // namespace
}  // namespace kline::records
