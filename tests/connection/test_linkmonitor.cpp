// What the user is told about the link, on virtual time against the simulated ECU: a port that
// does not open, an ECU that never wakes or falls silent, an adapter pulled out mid-session.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "connection/linkmonitor.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// A session whose window reports to a link monitor as well as to the recorder.
struct Watched {
  explicit Watched(SimConfig cfg) : s(std::move(cfg)) { s.sinks.add(&link); }
  const LinkStatus& status() const { return link.status(); }
  LinkState state() const { return link.status().state; }

  // The monitor outlives the window, which still reports its port's close when it goes.
  std::vector<LinkStatus> seen;
  LinkMonitor link{[this]() -> const SerialPort* { return s.form->port(); },
                   [this] { return s.host.timeGetTime(); },
                   [this](const LinkStatus& st) { seen.push_back(st); }};
  SimSession s;
};

SimConfig config(EcuType t) {
  SimConfig c;
  c.type = t;
  c.burst = SimConfig::DefaultBurst();
  return c;
}

}  // namespace

TEST(LinkState, APortThatDoesNotOpenSaysWhy) {
  Watched w(config(EcuType::E15m));
  EXPECT_EQ(w.status().text, "Not connected");
  w.s.connect(nullptr, "7");
  EXPECT_EQ(w.state(), LinkState::OpenFailed);
  EXPECT_EQ(w.status().text, "Port 7 not opened: no such serial port");
  EXPECT_TRUE(w.status().rpmStale);
}

TEST(LinkState, AnEcuThatNeverWakesIsReportedAfterFiveSecondsWithWhatToCheck) {
  SimConfig c = config(EcuType::E15m);
  c.ignitionMs = 600000;
  Watched w(c);
  w.s.connect();
  EXPECT_EQ(w.state(), LinkState::Waiting);
  EXPECT_EQ(w.status().text, "Port sim open, waiting for the ECU");
  w.s.run(4900);
  EXPECT_EQ(w.state(), LinkState::Waiting);
  w.s.run(2500);
  EXPECT_EQ(w.state(), LinkState::Silent);
  EXPECT_THAT(w.status().text,
              StartsWith("No answer from the ECU on sim for 7 s: switch the ignition on"));
  EXPECT_THAT(w.status().text, HasSubstr("that sim is its port"));
  // The window's own caption and its line per tick stay as they are.
  EXPECT_EQ(w.s.form->ctl.caption("Label4"), "Wait for ignition..");
  EXPECT_THAT(w.s.rec.logLines(), Contains("init = false => call initial "));
  // The ECU wakes at last: the link is live as soon as its burst is shown.
  w.s.form->ctl.userClick("Check2");
  w.s.cfg.ignitionMs = 300;
  w.s.connect();
  w.s.run(3000);
  EXPECT_EQ(w.state(), LinkState::Live);
  EXPECT_EQ(w.status().text, "Port sim open, the ECU answers");
}

TEST(LinkState, AnEcuThatFallsSilentGreysTheValuesWhileTheLampStaysAsTheWindowSetsIt) {
  SimConfig c = config(EcuType::E15m);
  c.ignitionMs = 300;
  c.silentAfterMs = 4000;
  Watched w(c);
  w.s.connect();
  w.s.run(3500);
  ASSERT_EQ(w.state(), LinkState::Live);
  EXPECT_FALSE(w.status().valuesStale);
  EXPECT_FALSE(w.status().rpmStale);
  w.s.run(10000);
  EXPECT_EQ(w.state(), LinkState::Silent);
  EXPECT_THAT(w.status().text, HasSubstr("is the ignition still on?"));
  EXPECT_TRUE(w.status().valuesStale);
  EXPECT_EQ(w.s.form->ctl.get("Shape1").colour, kRgbGreen);
}

TEST(LinkState, APausedPollLoopIsNotSilence) {
  SimConfig c = config(EcuType::P8);
  Watched w(c);
  w.s.connect("Option2");
  w.s.run(1500);
  ASSERT_EQ(w.state(), LinkState::Live);
  // The diagnostic memory window stops the loop; nobody asks the ECU anything meanwhile.
  w.s.form->ctl.userClick("Diag");
  w.s.run(20000);
  EXPECT_EQ(w.state(), LinkState::Live);
}

TEST(LinkState, ALostAdapterIsToldAtOnceAndAReconnectRecovers) {
  SimConfig c = config(EcuType::E15m);
  c.ignitionMs = 300;
  c.lostAfterMs = 3000;
  Watched w(c);
  w.s.connect();
  w.s.run(2900);
  ASSERT_EQ(w.state(), LinkState::Live);
  w.s.run(200);
  EXPECT_EQ(w.state(), LinkState::Lost);
  EXPECT_EQ(w.status().text,
            "Port sim lost: the device went away (the simulated adapter was unplugged)");
  EXPECT_TRUE(w.status().valuesStale);
  EXPECT_TRUE(w.status().rpmStale);
  // The window's logic keeps its own state; its log has the loss once.
  EXPECT_EQ(w.s.form->ctl.caption("Check2"), "Disconnect");
  w.s.run(5000);
  EXPECT_EQ(w.state(), LinkState::Lost);
  auto lines = w.s.rec.logLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("port sim lost: ", 0) == 0; }),
            1);

  w.s.disconnect();
  EXPECT_EQ(w.state(), LinkState::Idle);
  EXPECT_EQ(w.status().text, "Port sim closed");
  // The engine speed the logic leaves on screen is stale until the next one is read.
  EXPECT_TRUE(w.status().rpmStale);
  w.s.cfg.lostAfterMs = -1;
  w.s.connect();
  EXPECT_TRUE(w.status().rpmStale);
  w.s.run(2500);
  EXPECT_EQ(w.state(), LinkState::Live);
  EXPECT_FALSE(w.status().rpmStale);
}
