// What the user is told about the link, on virtual time against the simulated ECU: a port that
// does not open, an ECU that never wakes or falls silent, an adapter pulled out mid-session.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "connection/linkmonitor.h"
#include "diagnosis/form3.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// A session whose window reports to a link monitor as well as to the recorder.
struct MonitoredSession {
  explicit MonitoredSession(SimConfig cfg) : s(std::move(cfg)) { s.sinks.add(&link); }
  const LinkStatus& status() const { return link.status(); }
  LinkState state() const { return link.status().state; }

  // The monitor outlives the window, which still reports its port's close when it goes.
  std::vector<LinkStatus> seen;
  LinkMonitor link{[this]() -> const SerialPort* { return s.form->port(); },
                   [this] { return s.host.timeGetTime(); },
                   [this](const LinkStatus& st) { seen.push_back(st); }};
  SimSession s;
};

SimConfig monitoredConfig(EcuType t) {
  SimConfig c;
  c.type = t;
  c.burst = SimConfig::DefaultBurst();
  return c;
}

}  // namespace

TEST(LinkState, APortThatDoesNotOpenSaysWhy) {
  MonitoredSession w(monitoredConfig(EcuType::E15m));
  EXPECT_EQ(w.status().text, "Not connected");
  w.s.connect(nullptr, "7");
  EXPECT_EQ(w.state(), LinkState::OpenFailed);
  EXPECT_EQ(w.status().text, "Port 7 not opened: no such serial port");
  EXPECT_TRUE(w.status().rpmStale);
}

TEST(LinkState, AnEcuThatNeverWakesIsReportedAfterFiveSecondsWithWhatToCheck) {
  SimConfig c = monitoredConfig(EcuType::E15m);
  c.ignitionMs = 600000;
  MonitoredSession w(c);
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

TEST(LinkState, SilenceCountsWhileTheLoopAsksFromItsRestartToTheMillisecondAndGreysTheValues) {
  SimConfig c = monitoredConfig(EcuType::P8);
  c.silentAfterMs = 4000;
  MonitoredSession w(c);
  w.s.connect("Option2");
  w.s.run(1500);
  ASSERT_EQ(w.state(), LinkState::Live);
  EXPECT_FALSE(w.status().valuesStale);
  // The diagnostic memory window stops the loop; nobody asks the ECU anything meanwhile, and
  // the ECU falls silent behind it.
  w.s.form->ctl.userClick("Diag");
  w.s.run(20000);
  EXPECT_EQ(w.state(), LinkState::Live);
  // Back in the main window the loop asks again, every 2.5 s so that the clock can be read
  // between two ticks: the silence counts from there, whatever came before.
  w.s.form->form3().ctl.userClick("back");
  w.s.form->ctl.userSetText("Text2", "2500");
  const uint64_t restart = w.s.host.now();
  EXPECT_EQ(w.state(), LinkState::Live);
  std::vector<std::pair<uint64_t, LinkStatus>> polled;
  for (uint64_t after : {4999, 5000})
    w.s.host.schedule(restart + after, [&] {
      w.link.poll();
      polled.emplace_back(w.s.host.now() - restart, w.status());
    });
  w.s.run(6000);
  ASSERT_EQ(polled.size(), 2u);
  ASSERT_EQ(polled[0].first, 4999u);  // no tick ran over the moments looked at
  ASSERT_EQ(polled[1].first, 5000u);
  EXPECT_EQ(polled[0].second.state, LinkState::Live);
  EXPECT_EQ(polled[1].second.state, LinkState::Silent);
  EXPECT_EQ(polled[1].second.text,
            "No answer from the ECU on sim for 5 s: is the ignition still on? Check the cable");
  EXPECT_TRUE(polled[1].second.valuesStale);
  // The lamp stays as the window sets it.
  EXPECT_EQ(w.s.form->ctl.get("Shape1").colour, kRgbGreen);
}

TEST(LinkState, ALostAdapterIsToldAtOnceAndAReconnectRecovers) {
  SimConfig c = monitoredConfig(EcuType::E15m);
  c.ignitionMs = 300;
  c.lostAfterMs = 3000;
  MonitoredSession w(c);
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

namespace {

// Collects the readouts and identifications the session published, as it marked them.
struct Marks : EventSink {
  void onEvent(const SessionEvent& e) override {
    if (const auto* r = std::get_if<ev::ReadoutDone>(&e)) readouts.push_back(r->readout);
    if (const auto* id = std::get_if<ev::EcuIdentified>(&e)) ids.push_back(*id);
  }
  std::vector<Readout> readouts;
  std::vector<ev::EcuIdentified> ids;
};

}  // namespace

TEST(LinkState, RepliesAreReadAsEchoesAndAnswersWithTheFewestBytesNobodyAskedFor) {
  struct Case {
    const char* sent;
    const char* read;
    int stray;
    std::size_t waiting;  // requests still waiting afterwards
  } cases[] = {
      {"0F", "0F80", 0, 0},
      {"0102", "01340231", 0, 0},
      {"0304", "030404B0", 0, 0},  // an answer that reads like the next echo
      {"0FAACC", "0FAACC", 0, 1},  // answers without a reply: the last waits for one
      {"17", "17", 0, 1},          // the answer is still on its way
      {"17", "FFFF", 1, 0},        // a wrong echo
      {"17", "174B55", 1, 0},      // a byte after the answer
      {"", "55", 1, 0},            // nothing asked
      {"17", "FFFFFFFF174B", 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sent) + " / " + c.read);
    std::deque<PendingRequest> pending;
    for (char b : ParseHexBytes(c.sent)) pending.push_back({static_cast<uint8_t>(b), false});
    EXPECT_EQ(MatchReplies(pending, ParseHexBytes(c.read)), c.stray);
    EXPECT_EQ(pending.size(), c.waiting);
  }
}

TEST(LinkState, AnEcuThatAnswersCleanlyNeverCountsAsBabbling) {
  // Every type through its wake-up, live cycles, the readouts, a test with its late verdict byte
  // and the memory window: nothing there is a byte nobody asked for, bar the verdict.
  for (const char* option : {"Option1", "Option7", "Option9", "Option2", "Option8"}) {
    SCOPED_TRACE(option);
    MonitoredSession w(monitoredConfig(EcuType::E15m));
    w.s.cfg.typeGiven = false;
    w.s.connect(option);
    w.s.run(3000);
    for (const char* b : {"Command11", "Command2", "Command3"}) w.s.form->ctl.userClick(b);
    w.s.form->ctl.userSetValue("List1", 0);
    w.s.run(8000);
    w.s.form->ctl.userClick("Diag");
    w.s.run(3000);
    EXPECT_LE(w.link.strayBytes(), 1u);
    for (const auto& st : w.seen) EXPECT_NE(st.state, LinkState::Babbling) << st.text;
    EXPECT_TRUE(w.link.lineTrusted());
  }
}

TEST(LinkState, AnswersThatComeTooLateAreNotCalledNoAnswer) {
  SimConfig c = monitoredConfig(EcuType::E15m);
  c.ignitionMs = 300;
  c.lateMs[0x01] = 2500;
  MonitoredSession w(c);
  w.s.connect();
  w.s.run(30000);
  EXPECT_EQ(w.state(), LinkState::Silent);
  EXPECT_THAT(w.status().text, StartsWith("No answer in time from the ECU on sim for 2"));
  EXPECT_THAT(w.status().text, HasSubstr("only late or stray bytes"));
}

TEST(LinkState, ABabblingLineIsToldWithItsRateAndWhatIsReadMeanwhileIsMarked) {
  for (const char* babble : {"\xFF", "\x55", "\x12\x34"}) {
    SimConfig c = monitoredConfig(EcuType::E15m);
    c.ignitionMs = 300;
    c.babble = babble;
    MonitoredSession w(c);
    Marks marks;
    w.s.core->observe(&marks);
    w.s.connect();
    w.s.run(3000);
    w.s.form->ctl.userClick("Command11");
    w.s.run(12000);
    ASSERT_EQ(w.state(), LinkState::Babbling) << w.status().text;
    EXPECT_THAT(w.status().text, StartsWith("Bytes nobody asked for on sim (about "));
    EXPECT_THAT(w.status().text, HasSubstr("another device on the K-line"));
    // Bytes pour in all the while: never "no answer".
    bool babbled = false;
    for (const auto& st : w.seen) {
      babbled = babbled || st.state == LinkState::Babbling;
      if (babbled) {
        EXPECT_NE(st.state, LinkState::Silent) << st.text;
      }
    }
    // The window still decodes and shows what it read; the session marks it.
    ASSERT_FALSE(marks.readouts.empty());
    EXPECT_FALSE(marks.readouts.back().trusted);
    ASSERT_FALSE(marks.ids.empty());
    EXPECT_FALSE(marks.ids.back().trusted);
    EXPECT_FALSE(marks.ids.back().identification.empty());
    w.s.core->dropObservers();
  }
}
