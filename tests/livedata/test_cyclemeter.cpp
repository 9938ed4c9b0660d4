// The live data's pace as the status bar tells it: the count over the last seconds as a unit, and
// the session's own meter on virtual time against the simulated ECU.
#include <gtest/gtest.h>

#include "livedata/cyclemeter.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;

TEST(CycleMeter, CountsTheIntervalsBetweenCompletedCyclesOfTheLastFiveSeconds) {
  CycleMeter m;
  auto cycle = [&m](uint32_t start, uint32_t end, bool completed = true) {
    m.begin(start);
    m.end(end, completed);
  };
  cycle(960, 1000);
  EXPECT_EQ(m.perSecond(), 0);  // one cycle is no pace yet
  EXPECT_EQ(m.text(), "0.0 cycles/s, last 40 ms");
  // Three cycles 100 ms apart: two intervals in 200 ms. An abandoned one changes nothing.
  cycle(1060, 1100);
  cycle(1150, 1200);
  cycle(1210, 1290, false);
  EXPECT_DOUBLE_EQ(m.perSecond(), 10.0);
  EXPECT_EQ(m.text(), "10.0 cycles/s, last 50 ms");
  // The pace drops to one cycle every 500 ms: after five seconds of it, only it counts.
  for (uint32_t t = 1700; t <= 6200; t += 500) cycle(t - 30, t);
  EXPECT_DOUBLE_EQ(m.perSecond(), 2.0);
  EXPECT_EQ(m.text(), "2.0 cycles/s, last 30 ms");
  // And back up: five seconds later the rate is the new one alone.
  for (uint32_t t = 6250; t != 11250; t += 50) cycle(t - 10, t);
  EXPECT_DOUBLE_EQ(m.perSecond(), 20.0);
  m.reset();
  EXPECT_EQ(m.text(), "");
  EXPECT_EQ(m.perSecond(), 0);
}

TEST(CycleMeter, TheSessionsMeterFollowsTheTicksAndCountsNoAbandonedCycle) {
  SimConfig c;
  c.type = EcuType::P8;
  SimSession s(c);
  const CycleMeter& meter = s.core->meter();
  EXPECT_EQ(meter.text(), "");
  s.connect("Option2");
  s.run(10000);
  // Two channels take less than the 50 ms between ticks: the ticks set the pace.
  EXPECT_GT(meter.lastMs(), 5);
  EXPECT_LT(meter.lastMs(), 50);
  EXPECT_NEAR(meter.perSecond(), 20.0, 0.5);
  // A silent channel abandons every cycle: nothing completes; a new connection starts afresh.
  s.form->ctl.userClick("Check2");
  for (uint8_t code = 0x01; code <= 0x0B; ++code) s.cfg.silent.insert(code);
  s.connect("Option2");
  s.run(10000);
  EXPECT_EQ(meter.perSecond(), 0);
  EXPECT_EQ(meter.text(), "");
}
