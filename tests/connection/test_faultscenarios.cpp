// Faults of the ECU and the adapter, on virtual time: whatever happens on the line, every handler
// ends within its time limits, the poll loop keeps going, and the link's state tells the user.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "support/simsession.h"

using namespace kline;
using namespace kline::test;

namespace {

struct Fault {
  const char* name;
  EcuType type;
  const char* option;
  std::function<void(SimConfig&)> make;
  // A user action at 3 s ("" for none): a test from the list, or the test window.
  const char* action;
  uint64_t longestHandlerMs;  // the bound every handler stays within
  LinkState endState;
};

void PrintTo(const Fault& f, std::ostream* os) {
  *os << f.name;
}

class FaultScenario : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultScenario, EndsEveryWaitKeepsPollingAndShowsTheState) {
  const Fault& f = GetParam();
  SimConfig cfg;
  cfg.type = f.type;
  cfg.burst = SimConfig::DefaultBurst();
  cfg.ignitionMs = 300;
  f.make(cfg);
  SimSession s(cfg);

  uint64_t longest = 0;
  uint64_t ticks = 0, lastTick = 0;
  auto timed = [&](const std::function<void()>& fn) {
    const uint64_t t0 = s.host.now();
    fn();
    longest = std::max(longest, s.host.now() - t0);
  };
  s.host.setTimerHandler([&] {
    timed([&] { s.form->Timer1_Timer(); });
    ++ticks;
    lastTick = s.host.now();
  });
  s.connect(f.option);
  if (*f.action) {
    const std::string a = f.action;
    s.host.schedule(3000, [&, a] {
      timed([&] {
        if (a == "test")
          s.form->ctl.userClick("test");
        else
          s.form->ctl.userSetValue("List1", 0);
      });
    });
  }
  s.run(60000);

  EXPECT_LE(longest, f.longestHandlerMs);
  // The loop still runs at the end (the test window, once back, restarts it too).
  EXPECT_GT(ticks, 10u);
  EXPECT_GE(lastTick + 5000, s.host.now()) << "the poll loop stopped";
  EXPECT_EQ(s.core->link().state, f.endState) << s.core->link().text;
}

// The longest legitimate handlers, from the time limits: the 15m wake-up and its answers with
// the identification (about 1.25 s, all in the first tick), a live cycle's time-out (2000 ms), a
// readout byte's (3000 ms), the list's verdict wait (its bar of up to 40 one-second steps), the
// test window's open sequence. A few ms of pauses are added to each.
constexpr uint64_t kWake = 1300;
constexpr uint64_t kCycle = 2100;
constexpr uint64_t kWakeAndCycle = kWake + 2000;
constexpr uint64_t kReadoutByte = 3000;
constexpr uint64_t kVerdictWait = 40100;
constexpr uint64_t kTestWindowOpen = 4200;

INSTANTIATE_TEST_SUITE_P(
    LineFaults, FaultScenario,
    ::testing::Values(
        Fault{"SomeCodesUnanswered", EcuType::E15m, "Option1",
              [](SimConfig& c) {
                c.silent = {0x05, 0x06};
              },
              "", kWakeAndCycle, LinkState::Live},
        Fault{"AnswersAfterTheLimit", EcuType::E15m, "Option1",
              [](SimConfig& c) { c.lateMs[0x01] = 2500; }, "", kWakeAndCycle, LinkState::Silent},
        Fault{"Babbles", EcuType::P8, "Option2", [](SimConfig& c) { c.babble = "\x55\xAA"; }, "",
              kCycle, LinkState::Babbling},
        Fault{"StopsMidCycle", EcuType::E15m, "Option1",
              [](SimConfig& c) { c.silentAfterMs = 3000; }, "", kCycle, LinkState::Silent},
        Fault{"StopsMidReadout", EcuType::E15m, "Option1",
              [](SimConfig& c) { c.silentAfterMs = 1040; }, "", kWakeAndCycle + kReadoutByte,
              LinkState::Silent},
        Fault{"StopsDuringAVerdictWait", EcuType::E15m, "Option1",
              [](SimConfig& c) {
                c.tests[0x80] = SimConfig::Test{0x00, ByteString(1, '\xFF'), 20000};
                c.silentAfterMs = 4000;
              },
              "list", kVerdictWait, LinkState::Silent},
        Fault{"NoEcho", EcuType::P8, "Option2", [](SimConfig& c) { c.echo = false; }, "",
              kReadoutByte + kCycle, LinkState::Silent},
        Fault{"LostDuringTheHandshake", EcuType::E15m, "Option1",
              [](SimConfig& c) { c.lostAfterMs = 1100; }, "", kWake, LinkState::Lost},
        Fault{"LostDuringALiveCycle", EcuType::P8, "Option2",
              [](SimConfig& c) { c.lostAfterMs = 2000; }, "", kCycle, LinkState::Lost},
        Fault{"LostDuringAVerdictWait", EcuType::E15m, "Option1",
              [](SimConfig& c) {
                c.tests[0x80] = SimConfig::Test{0x00, ByteString(), 0};
                c.lostAfterMs = 5000;
              },
              "list", kVerdictWait, LinkState::Lost},
        Fault{"LostWhileTheTestWindowOpens", EcuType::P8, "Option2",
              [](SimConfig& c) { c.lostAfterMs = 3150; }, "test", kTestWindowOpen,
              LinkState::Lost}),
    [](const ::testing::TestParamInfo<Fault>& i) { return std::string(i.param.name); });

}  // namespace
