// The live cycles called directly, over a context lent by a test instead of the main window: what
// each one returns, and that the log and the trimmer hand-over go through the context.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "livedata/livecycle.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// The main window's controls, host, port and table, with the log and the hand-over counted here.
struct Lent {
  explicit Lent(SimSession& s)
      : ctx{s.form->ctl,
            s.host,
            [&s] { return s.form->port(); },
            s.form->temptab,
            [this](const std::string& line) { lines.push_back(line); },
            [this] { ++handovers; }} {}

  std::vector<std::string> lines;
  int handovers = 0;
  live::LiveContext ctx;
};

// A session at live data with the poll loop stopped and every channel ticked.
void ReachLiveData(SimSession& s, const char* option) {
  s.form->ctl.setValue("Check3", 0);
  s.connect(option);
  s.run(1500);
  ASSERT_EQ(s.form->cal_ask, kTrue);
  s.form->TimerOn(0);
  for (int i = 0; i < 9; ++i) s.form->ctl.setValue(indexed("Check1", i), 1);
  s.rec.events.clear();
}

SimConfig ofType(EcuType t, SimConfig c = {}) {
  c.type = t;
  if (c.burst.empty()) c.burst = SimConfig::DefaultBurst();
  return c;
}

}  // namespace

TEST(LiveApi, WithoutAPortNothingIsSentAndSensorsTimeOutThroughTheLog) {
  SimSession s(ofType(EcuType::P8));
  Lent l(s);
  EXPECT_FALSE(live::ReadLive15m(l.ctx));
  EXPECT_FALSE(live::ReadLive16m(l.ctx));
  EXPECT_FALSE(live::ReadLivePerSensor(l.ctx));
  EXPECT_FALSE(live::ReadSensorAirTemp(l.ctx));
  EXPECT_FALSE(live::ReadSensorRpm(l.ctx));
  EXPECT_THAT(l.lines, ElementsAre("Air timeout !! ", "RPM1 timeout !! "));
  EXPECT_THAT(s.rec.of("tx"), IsEmpty());
  EXPECT_EQ(l.handovers, 0);
}

TEST(LiveApi, A15mCycleTellsWhetherItRanToItsEndAndHandsTheTrimmerOver) {
  SimConfig c;
  c.silent.insert(0x0A);
  SimSession s(ofType(EcuType::E15m, c));
  ReachLiveData(s, nullptr);
  Lent l(s);
  // The battery channel stays silent: the cycle ends there, before the trimmer.
  EXPECT_FALSE(live::ReadLive15m(l.ctx));
  EXPECT_EQ(l.handovers, 0);
  s.form->ctl.setValue("Check1(7)", 0);
  EXPECT_TRUE(live::ReadLive15m(l.ctx));
  EXPECT_EQ(l.handovers, 1);
  EXPECT_THAT(l.lines, IsEmpty());
}

TEST(LiveApi, A16mCycleDoesNotHandTheTrimmerOver) {
  SimSession s(ofType(EcuType::E16m));
  ReachLiveData(s, "Option7");
  Lent l(s);
  EXPECT_TRUE(live::ReadLive16m(l.ctx));
  EXPECT_EQ(l.handovers, 0);
}

TEST(LiveApi, ASensorTellsWhetherItAnswered) {
  SimConfig c;
  c.silent.insert(0x05);
  SimSession s(ofType(EcuType::P8, c));
  ReachLiveData(s, "Option8");
  Lent l(s);
  EXPECT_TRUE(live::ReadSensorBattery(l.ctx));
  EXPECT_FALSE(live::ReadSensorAdvance(l.ctx));
  EXPECT_THAT(l.lines, ElementsAre("Adv timeout !! "));
  // A silent sensor costs only its own reading: the cycle still goes through all nine.
  s.rec.events.clear();
  EXPECT_TRUE(live::ReadLivePerSensor(l.ctx));
  std::vector<std::string> codes;
  for (const auto& e : s.rec.of("tx")) codes.push_back(e.text);
  EXPECT_THAT(codes, ElementsAre("01", "02", "03", "04", "05", "06", "07", "08", "09", "0A", "0B"));
}
