// The keeper on virtual time against the simulated ECU: a session's faults, test and trimmer
// change become its visit in the records file; a known bike is told; a test without a verdict
// is kept as such when a lost link ends the visit. (A file that is no records: tst_cli.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "actuators/form1.h"
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
  std::vector<KnownBike> known;
  KeeperOptions o = Options(path, &s.host);
  o.onProblem = [&](const std::string& why) { problems.push_back(why); };
  o.onKnownBike = [&](const KnownBike& k) { known.push_back(k); };
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
