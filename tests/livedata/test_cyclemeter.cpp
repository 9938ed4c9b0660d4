// The live data's pace as the status bar tells it, on virtual time against the simulated ECU.
#include <gtest/gtest.h>

#include "livedata/cyclemeter.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;

TEST(CycleMeter, CountsCompletedCyclesAndTimesTheLastFromItsTick) {
  SimConfig c;
  c.type = EcuType::P8;
  SimSession s(c);
  CycleMeter meter;
  int cycles = 0;
  s.host.setTimerHandler([&] {
    meter.begin(s.host.timeGetTime());
    s.form->Timer1_Timer();
  });
  s.form->onLiveCycle = [&](uint32_t, bool completed) {
    meter.end(s.host.timeGetTime(), completed);
    cycles += completed;
  };
  EXPECT_EQ(meter.text(), "");
  s.connect("Option2");
  s.run(10000);
  ASSERT_GT(cycles, 20);
  // Two channels take less than the 50 ms between ticks: the ticks set the pace.
  EXPECT_GT(meter.lastMs(), 5);
  EXPECT_LT(meter.lastMs(), 50);
  EXPECT_NEAR(meter.perSecond(), 20.0, 0.5);
  // A silent channel abandons every cycle: nothing completes, the rate falls to nothing.
  s.form->ctl.userClick("Check2");
  meter.reset();
  for (uint8_t code = 0x01; code <= 0x0B; ++code) s.cfg.silent.insert(code);
  s.connect("Option2");
  s.run(10000);
  EXPECT_EQ(meter.perSecond(), 0);
  EXPECT_EQ(meter.text(), "");
}
