// The keeper on virtual time against the simulated ECU: a session's faults, test and trimmer
// change become its visit in the records file; a known bike is told; a test without a verdict
// is kept as such when a lost link ends the visit. (A file that is no records: tst_cli.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "actuators/form1.h"
#include "livedata/channelstats.h"
#include "records/recordkeeper.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::records;
using namespace kline::test;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// 2026-03-14 10:00 UTC, one hour ahead locally, moving with the line's time.
KeeperOptions Options(const std::string& path, const VirtualHost* host) {
  KeeperOptions o;
  o.path = path;
  o.version = "9.9";
  o.joinHours = 0;  // each connection a visit of its own (the joins have tests of their own)
  o.wallClock = [host] {
    return WallTime{1773482400000 + static_cast<int64_t>(host ? host->now() : 0), 60};
  };
  return o;
}

}  // namespace

TEST(RecordKeeper, ASessionWithFaultsATestAndATrimmerChangeIsKeptAsItsVisit) {
  SimConfig cfg;
  cfg.burst = SimConfig::DefaultBurst();
  cfg.answers = {{0x0F, 0x20}, {0x10, 0x00}, {0x11, 0x00}, {0x71, 0x04}};
  SimSession s(cfg);
  const std::string path = (TempFolder() / "records.sqlite").string();
  std::vector<std::string> problems;
  std::vector<BikeNews> known;
  KeeperOptions o = Options(path, &s.host);
  o.onProblem = [&](const std::string& why) { problems.push_back(why); };
  o.onBikeNews = [&](const BikeNews& k) {
    if (k.kind == BikeNews::Kind::KnownBike) known.push_back(k);
  };
  RecordKeeper keeper(o);
  s.sinks.add(&keeper);
  s.form->ctl.userSetValue("Check4", 1);  // the calibration too, read after the identification

  s.connect();
  s.run(3000);
  s.form->ctl.userClick("Command11");
  s.form->ctl.userSetValue("List1", 0);  // the fuel pump: OK
  s.run(40000);
  s.form->ctl.userClick("test");
  s.run(2000);
  s.form->form1().ctl.userClick("Option1");  // CO regulation on, which frees the trimmer
  s.form->form1().ctl.userSetText("Text2", "140");
  s.form->form1().ctl.userClick("Command10");
  s.form->form1().ctl.userClick("back");
  s.run(3000);
  const auto channels = s.core->report().channels();
  s.disconnect();
  keeper.flush();
  const int64_t first = keeper.visit();
  ASSERT_NE(first, 0);
  EXPECT_TRUE(known.empty());

  std::string why;
  auto store = RecordStore::Open(path, RecordStore::Mode::ReadOnly, why);
  ASSERT_TRUE(store) << why;
  const auto v = store->visit(first);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->begun.port, "sim");
  EXPECT_EQ(v->begun.ecu, "15m");
  EXPECT_EQ(v->begun.version, "9.9");
  EXPECT_EQ(v->begun.start.utcOffsetMinutes, 60);
  EXPECT_GT(v->end.msSinceEpoch, v->begun.start.msSinceEpoch);
  EXPECT_EQ(v->key.identification, s.core->report().identity().identification);
  ASSERT_FALSE(v->key.calibration.empty());  // the later record updated the key

  ASSERT_EQ(v->readouts.size(), 1u);
  const Readout& faults = v->readouts[0].readout;
  EXPECT_EQ(faults.kind, ReadoutKind::Faults);
  EXPECT_EQ(faults.bytes[0], 0x20);
  const auto lambda = std::find(faults.lines.begin(), faults.lines.end(), "Lambda sensor Faulty");
  ASSERT_NE(lambda, faults.lines.end());
  EXPECT_TRUE(faults.fault[static_cast<std::size_t>(lambda - faults.lines.begin())]);
  EXPECT_FALSE(faults.fault[0] && faults.lines[0] == "Icv OK");

  ASSERT_EQ(v->tests.size(), 1u);
  EXPECT_EQ(v->tests[0].name, "80 fuel pump");
  EXPECT_EQ(v->tests[0].code, 0x80);
  EXPECT_EQ(v->tests[0].verdict, ev::Verdict::Passed);
  EXPECT_EQ(v->tests[0].shown, "OK");

  ASSERT_EQ(v->changes.size(), 2u);
  EXPECT_EQ(v->changes[0].setting, Setting::CoRegulation);
  EXPECT_EQ(v->changes[0].after, 1);
  EXPECT_EQ(v->changes[1].setting, Setting::Trimmer);
  // The byte written, and the value read before it (0x20 on the trimmer channel: -96).
  EXPECT_EQ(v->changes[1].after, 140);
  EXPECT_EQ(v->changes[1].before, 0x20);

  // The channels as the report computes them, numbers beside the texts.
  ASSERT_EQ(v->channels.size(), channels.size());
  ASSERT_FALSE(channels.empty());
  for (std::size_t i = 0; i < channels.size(); ++i) {
    EXPECT_EQ(v->channels[i].count, channels[i].count);
    EXPECT_EQ(v->channels[i].meanText, channels[i].meanText);
    EXPECT_EQ(v->channels[i].maxText, channels[i].maxText);
    EXPECT_DOUBLE_EQ(v->channels[i].mean, channels[i].mean);
  }

  // The same bike again: known, with its last visit's date and faults.
  s.connect();
  s.run(3000);
  s.disconnect();
  keeper.flush();
  ASSERT_EQ(known.size(), 1u);
  EXPECT_EQ(known[0].previousVisit, first);
  EXPECT_NE(known[0].visit, first);
  EXPECT_THAT(known[0].text, StartsWith("Known bike: " + v->key.identification +
                                        " \u2014 last visit 2026-03-14, "));
  EXPECT_THAT(known[0].text, HasSubstr("fault"));
  EXPECT_EQ(store->bikes().size(), 1u);
  EXPECT_EQ(store->visits(known[0].bike.id).size(), 2u);
  EXPECT_TRUE(problems.empty());
}

TEST(RecordKeeper, ATestLeftWithoutVerdictIsUnknownAndALostLinkEndsTheVisit) {
  const std::string path = (TempFolder() / "records.sqlite").string();
  int64_t visit = 0;
  {
    RecordKeeper keeper(Options(path, nullptr));
    keeper.setMileage(23410);
    keeper.onEvent(ev::Connecting{"7", "16m"});
    ev::EcuIdentified id;
    id.ecu = "16m";
    id.identification = "AB1";
    keeper.onEvent(id);
    keeper.onEvent(ev::TestStarted{"Form1", "Fuel pump", 0x80});
    keeper.onEvent(ev::LinkChanged{{LinkState::Lost, "Port 7 lost", true, true}});
    // After the end: nothing more belongs to the visit.
    keeper.onEvent(ev::TrimmerSet{0, 5});
    keeper.flush();
    visit = keeper.visit();
  }
  std::string why;
  auto store = RecordStore::Open(path, RecordStore::Mode::ReadOnly, why);
  ASSERT_TRUE(store) << why;
  const auto v = store->visit(visit);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->mileage, 23410);
  EXPECT_NE(v->end.msSinceEpoch, 0);
  ASSERT_EQ(v->tests.size(), 1u);
  EXPECT_EQ(v->tests[0].verdict, ev::Verdict::Unknown);
  EXPECT_TRUE(v->changes.empty());
}

namespace {

// 2026-03-14 00:00 local time, one hour ahead of UTC.
constexpr int64_t kMidnight = 1773442800000;

// A keeper fed by hand, as the session would feed it, on a wall clock the test sets.
struct Workshop {
  explicit Workshop(int joinHours) : path((TempFolder() / "records.sqlite").string()) {
    KeeperOptions o;
    o.path = path;
    o.version = "9.9";
    o.joinHours = joinHours;
    o.wallClock = [this] { return now; };
    o.onBikeNews = [this](const BikeNews& n) { news.push_back(n); };
    keeper = std::make_unique<RecordKeeper>(o);
  }
  // Day `day` after 2026-03-14, local time.
  void at(int day, int hour, int minute) {
    now = {kMidnight + ((day * 24 + hour) * 60 + minute) * int64_t{60000}, 60};
  }
  // Connect, and the ECU identified as `ident`: what the keeper made of it.
  const BikeNews& connect(const std::string& ident) {
    keeper->onEvent(ev::Connecting{"sim", "15m"});
    ev::EcuIdentified id;
    id.ecu = "15m";
    id.identification = ident;
    keeper->onEvent(id);
    keeper->flush();
    static const BikeNews none;
    return news.empty() ? none : news.back();
  }
  void disconnect() {
    keeper->onEvent(ev::Disconnected{});
    keeper->flush();
  }
  // A completed live cycle with the battery's reading, counted in `all` too.
  void cycle(double volts, const char* text) {
    ev::LiveCycle c;
    c.completed = true;
    c.channels[7] = {true, volts, text};
    all.add(c);
    keeper->onEvent(c);
  }
  void faults(int flagged) {
    Readout r;
    for (int i = 0; i < 13; ++i) {
      r.lines.push_back("line " + std::to_string(i));
      r.fault.push_back(i < flagged);
    }
    keeper->onEvent(ev::ReadoutDone{r});
  }
  std::unique_ptr<RecordStore> store() {
    std::string why;
    auto s = RecordStore::Open(path, RecordStore::Mode::ReadOnly, why);
    EXPECT_TRUE(s) << why;
    return s;
  }

  std::string path;
  WallTime now;
  std::vector<BikeNews> news;
  ChannelStats all;  // the cycles of the stay, as one run would sum them
  std::unique_ptr<RecordKeeper> keeper;
};

}  // namespace

TEST(JoinsVisit, TheSameDayOrWithinTheJoinTimeAcrossMidnight) {
  auto at = [](int day, int hour, int minute, int offset = 60) {
    return WallTime{kMidnight + ((day * 24 + hour) * 60 + minute) * int64_t{60000} -
                        (offset - 60) * int64_t{60000},
                    offset};
  };
  EXPECT_TRUE(JoinsVisit(at(0, 0, 5), at(0, 23, 55), 4));  // the same day, hours apart
  EXPECT_TRUE(JoinsVisit(at(0, 22, 0), at(1, 2, 0), 4));   // 4 h across midnight
  EXPECT_FALSE(JoinsVisit(at(0, 22, 0), at(1, 2, 1), 4));
  EXPECT_TRUE(JoinsVisit(at(0, 22, 0), at(1, 9, 0), 12));  // a longer join time
  EXPECT_FALSE(JoinsVisit(at(0, 9, 0), at(1, 9, 0), 4));   // the next day
  EXPECT_FALSE(JoinsVisit(at(0, 9, 0), at(0, 9, 1), 0));   // 0: never
  // The calendar day is the local one: 00:30 here is the day before in UTC, 20:00 five hours
  // behind UTC the next day there.
  EXPECT_TRUE(JoinsVisit(at(0, 0, 30), at(0, 18, 0), 4));
  EXPECT_FALSE(JoinsVisit(at(-1, 20, 0, -300), at(0, 18, 0, -300), 4));
}

TEST(RecordKeeper, AConnectionOfTheSameStayGoesOnWithTheBikesLastVisit) {
  Workshop w(kDefaultJoinHours);
  w.at(0, 9, 0);
  const BikeNews first = w.connect("AB1");
  EXPECT_EQ(first.kind, BikeNews::Kind::NewBike);
  EXPECT_EQ(first.text, "New bike: AB1");
  EXPECT_EQ(first.previousVisit, 0);
  const int64_t stay = first.visit;
  ASSERT_NE(stay, 0);
  w.faults(2);
  w.cycle(12.5, "12.5");
  w.cycle(13.875, "13.875");
  w.at(0, 9, 10);
  w.disconnect();

  // A reconnect hours later the same day (the checklist's, a CLI run's): the same visit, open
  // again while connected, and what it brings adds to it.
  w.at(0, 15, 0);
  BikeNews n = w.connect("AB1");
  EXPECT_EQ(n.kind, BikeNews::Kind::SameVisit);
  EXPECT_EQ(n.visit, stay);
  EXPECT_EQ(n.text, "Same visit as before: AB1 (since 09:00)");
  EXPECT_EQ(w.store()->visit(stay)->end.msSinceEpoch, 0);
  w.keeper->setMileage(23410);
  w.cycle(11, "11");
  w.cycle(14.25, "14,25");
  w.keeper->onEvent(ev::TestStarted{"Form1", "Fuel pump", 0x80});
  w.keeper->onEvent(ev::TestEnded{"Form1", "Fuel pump", ev::Verdict::Passed, "OK"});
  w.at(0, 15, 5);
  w.disconnect();

  // Another bike in between has its own visit and changes nothing of the first one's stay.
  w.at(0, 15, 10);
  n = w.connect("CD2");
  EXPECT_EQ(n.kind, BikeNews::Kind::NewBike);
  EXPECT_NE(n.visit, stay);
  w.at(0, 15, 20);
  w.disconnect();
  w.at(0, 23, 0);
  EXPECT_EQ(w.connect("AB1").visit, stay);
  w.at(0, 23, 30);
  w.disconnect();

  // Across midnight, 3.5 h after the visit ended.
  w.at(1, 3, 0);
  n = w.connect("AB1");
  EXPECT_EQ(n.kind, BikeNews::Kind::SameVisit);
  EXPECT_EQ(n.visit, stay);
  w.cycle(11, "11.0");
  w.at(1, 3, 10);
  w.disconnect();

  auto store = w.store();
  auto v = store->visit(stay);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->begun.start.msSinceEpoch, kMidnight + 9 * 3600000);
  EXPECT_EQ(v->end.msSinceEpoch, kMidnight + 27 * 3600000 + 10 * 60000);
  EXPECT_EQ(v->mileage, 23410);
  EXPECT_EQ(v->readouts.size(), 1u);
  EXPECT_EQ(v->tests.size(), 1u);
  // The live values of the four connections, as if one run.
  const auto expected = w.all.summaries();
  ASSERT_EQ(v->channels.size(), 1u);
  ASSERT_EQ(expected.size(), 1u);
  EXPECT_EQ(v->channels[0].count, 5u);
  EXPECT_EQ(v->channels[0].count, expected[0].count);
  EXPECT_EQ(v->channels[0].minText, expected[0].minText);
  EXPECT_EQ(v->channels[0].maxText, expected[0].maxText);
  EXPECT_EQ(v->channels[0].meanText, expected[0].meanText);
  EXPECT_DOUBLE_EQ(v->channels[0].mean, expected[0].mean);

  // The next day, past the join time: a new visit, told with the stay before and the faults
  // read in its first connection.
  w.at(2, 9, 0);
  n = w.connect("AB1");
  EXPECT_EQ(n.kind, BikeNews::Kind::KnownBike);
  EXPECT_NE(n.visit, stay);
  EXPECT_EQ(n.previousVisit, stay);
  EXPECT_EQ(n.text, "Known bike: AB1 \u2014 last visit 2026-03-14, 2 faults then");
  w.at(2, 23, 0);
  w.disconnect();
  // Not within 4 h across midnight: another.
  w.at(3, 3, 30);
  n = w.connect("AB1");
  EXPECT_EQ(n.kind, BikeNews::Kind::KnownBike);
  EXPECT_EQ(n.text, "Known bike: AB1 \u2014 last visit 2026-03-16, faults not read then");
  w.disconnect();

  store = w.store();
  const auto bikes = store->bikes();
  ASSERT_EQ(bikes.size(), 2u);
  EXPECT_EQ(store->visits(n.bike.id).size(), 3u);
}

TEST(RecordKeeper, AVisitNeverEndedJoinsFromItsStartAndAtZeroEachConnectionIsItsOwn) {
  Workshop w(0);
  // A visit that a killed program left open, that morning.
  {
    std::string why;
    auto s = RecordStore::Open(w.path, RecordStore::Mode::ReadWrite, why);
    ASSERT_TRUE(s) << why;
    ASSERT_NE(s->startVisit(s->bikeFor({"15m", "", "AB1", ""}),
                            {WallTime{kMidnight + 8 * 3600000, 60}, "sim", "", "15m", "9.9", true}),
              0);
  }
  w.at(0, 9, 0);
  BikeNews n = w.connect("AB1");
  EXPECT_EQ(n.kind, BikeNews::Kind::KnownBike);
  w.faults(1);
  w.at(0, 9, 5);
  w.disconnect();
  w.at(0, 9, 6);
  n = w.connect("AB1");
  EXPECT_EQ(n.kind, BikeNews::Kind::KnownBike);
  EXPECT_EQ(n.text, "Known bike: AB1 \u2014 last visit 2026-03-14, 1 fault then");
  w.disconnect();
  EXPECT_EQ(w.store()->visits(n.bike.id).size(), 3u);

  Workshop joins(kDefaultJoinHours);
  {
    std::string why;
    auto s = RecordStore::Open(joins.path, RecordStore::Mode::ReadWrite, why);
    ASSERT_TRUE(s) << why;
    ASSERT_NE(s->startVisit(s->bikeFor({"15m", "", "AB1", ""}),
                            {WallTime{kMidnight + 8 * 3600000, 60}, "sim", "", "15m", "9.9", true}),
              0);
  }
  joins.at(0, 20, 0);
  n = joins.connect("AB1");
  EXPECT_EQ(n.kind, BikeNews::Kind::SameVisit);
  EXPECT_EQ(n.text, "Same visit as before: AB1 (since 08:00)");
  joins.disconnect();
  EXPECT_EQ(joins.store()->visits(n.bike.id).size(), 1u);
}
