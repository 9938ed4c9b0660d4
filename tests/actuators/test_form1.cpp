// The actuator test window on virtual time: opening, tests, CO regulation and the trimmer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "actuators/form1.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

// A P8 session (no handshake) in live data; `option` picks the ECU type before connecting.
struct Window {
  explicit Window(SimConfig c = {}, const char* option = "Option2", EcuType type = EcuType::P8)
      : s(typed(c, type)) {
    s.form->ctl.setValue("Check3", 0);
    s.connect(option);
    s.run(type == EcuType::P8 ? 300 : 1500);
  }
  static SimConfig typed(SimConfig c, EcuType type) {
    c.type = type;
    c.burst = SimConfig::DefaultBurst();
    return c;
  }
  void open() {
    s.form->ctl.userClick("test");
    mark();
  }
  void mark() { from = s.rec.events.size(); }
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (std::size_t k = from; k < s.rec.events.size(); ++k)
      if (s.rec.events[k].ev == "log" && s.rec.events[k].win == "Form1")
        out.push_back(s.rec.events[k].text);
    return out;
  }
  std::vector<std::string> sent() const {
    std::vector<std::string> out;
    for (std::size_t k = from; k < s.rec.events.size(); ++k)
      if (s.rec.events[k].ev == "tx") out.push_back(s.rec.events[k].text);
    return out;
  }
  Form1& f() { return s.form->form1(); }
  ControlModel& ctl() { return s.form->form1().ctl; }

  SimSession s;
  std::size_t from = 0;
};

}  // namespace

TEST(Form1Open, EntersDiagnosticModeWithAAFFOrAAAA) {
  for (const char* answer : {"FF", "AA"}) {
    SimConfig c;
    c.answers[0xAA] = static_cast<uint8_t>(std::stoi(answer, nullptr, 16));
    Window w(c);
    w.from = w.s.rec.events.size();
    w.s.form->ctl.userClick("test");
    EXPECT_THAT(w.lines(), ElementsAre("Enter in diagnostic mode OK")) << answer;
    EXPECT_TRUE(w.ctl().visible("Form1"));
    EXPECT_FALSE(w.s.form->ctl.visible("Form2"));
    EXPECT_EQ(w.s.host.timerInterval(), 0);
  }
}

TEST(Form1Open, SilenceSendsTheWindowStraightBack) {
  SimConfig c;
  c.silent.insert(0xAA);
  c.silent.insert(0xFF);
  Window w(c);
  w.mark();
  uint64_t t = w.s.host.now();
  w.s.form->ctl.userClick("test");
  EXPECT_THAT(w.lines(), IsEmpty());
  EXPECT_FALSE(w.f().loaded());
  EXPECT_FALSE(w.ctl().visible("Form1"));
  EXPECT_TRUE(w.s.form->ctl.visible("Form2"));
  EXPECT_EQ(w.s.host.timerInterval(), 20);
  EXPECT_THAT(w.sent(), ElementsAre("AA", "FF"));
  // 100 + 500 + 28 + 25 ms, a 5000 ms wait, 500 ms, then Back's 8 ms and its 3000 ms wait.
  EXPECT_GT(w.s.host.now() - t, 9100u);
}

TEST(Form1Tests, CodesAndNamesFollowTheEcuGroup) {
  struct Row {
    const char* option;
    const char* button;
    const char* code;
    const char* name;
  } rows[] = {{"Option7", "Command7", "84", "Clear DTC"},
              {"Option9", "Command4", "85", "Rev counter"},
              {"Option2", "Command4", "86", "rev counter"},
              {"Option1", "Command2", "86", "Injector1"},
              {"Option2", "Command2", "81", "Injector1"}};
  for (const auto& r : rows) {
    SimConfig c;
    c.tests[static_cast<uint8_t>(std::stoi(r.code, nullptr, 16))] = {0xFF, ByteString(), 0};
    Window w(c, "Option2");
    w.s.form->ctl.userClick(r.option);
    w.open();
    w.ctl().userClick(r.button);
    EXPECT_THAT(w.sent(), ElementsAre(r.code)) << r.option << " " << r.button;
    EXPECT_THAT(w.lines(), ElementsAre(r.name, std::string(r.code) + "FF", "Test finish"));
  }
}

TEST(Form1Tests, AnswerThenSilenceRunsTheBarAndSaysUnknown) {
  SimConfig c;
  c.tests[0x80] = {0x00, ByteString(), 0};
  Window w(c);
  w.open();
  const uint64_t t = w.s.host.now();
  w.ctl().userClick("Command1");
  EXPECT_THAT(w.lines(), ElementsAre("Fuel pump", "8000", "Test unknown"));
  EXPECT_EQ(w.ctl().get("Pg1").max, 36);
  EXPECT_EQ(w.ctl().value("Pg1"), 0);
  // The 50 ms pause; echo and answer are in 4.6 ms after the request, seen at the look at 8 ms
  // (looks 3 + 1 ms apart); then one second a step up to the 36th, and not one more.
  EXPECT_EQ(w.s.host.now() - t, 50u + 8u + 36 * 1000u);
  std::vector<int> bar;
  for (std::size_t k = w.from; k < w.s.rec.events.size(); ++k) {
    const Recorded& e = w.s.rec.events[k];
    if (e.ev == "set" && e.win == "Form1" && e.ctl == "Pg1" && e.prop == "value")
      bar.push_back(std::stoi(e.text));
  }
  ASSERT_FALSE(bar.empty());
  EXPECT_EQ(*std::max_element(bar.begin(), bar.end()), 36);
  EXPECT_EQ(bar.back(), 0);
}

TEST(Form1Tests, VerdictsAndOtherBytesDuringTheWait) {
  SimConfig c;
  c.tests[0x81] = {0x00, ParseHexBytes("EE"), 2500};
  c.tests[0x82] = {0x00, ParseHexBytes("12"), 1500};
  Window w(c);
  w.open();
  w.ctl().userClick("Command2");
  EXPECT_THAT(w.lines(), ElementsAre("Injector1", "8100", "EE", "Test failed"));
  // No acknowledgement in this window.
  EXPECT_THAT(w.sent(), ElementsAre("81"));
  w.mark();
  w.ctl().userClick("Command5");
  EXPECT_THAT(w.lines(), ElementsAre("Coil1", "8200", "12"));
}

TEST(Form1Tests, CustomCodeIsCheckedBeforeAnythingIsSent) {
  SimConfig c;
  c.tests[0x8A] = {0xFF, ByteString(), 0};
  Window w(c);
  w.open();
  w.ctl().userSetText("Text1", "8A");
  w.ctl().userClick("Command8");
  EXPECT_THAT(w.sent(), ElementsAre("8A"));
  EXPECT_THAT(w.lines(), ElementsAre("Custom code 8A", "8AFF", "Test finish"));
  for (const char* bad : {"8AB", "G1", "", "-1", "0x8A"}) {
    w.mark();
    w.ctl().userSetText("Text1", bad);
    w.ctl().userClick("Command8");
    EXPECT_THAT(w.sent(), IsEmpty()) << bad;
    ASSERT_EQ(w.lines().size(), 1u) << bad;
    EXPECT_EQ(w.lines()[0].rfind("Custom code refused", 0), 0u);
  }
}

TEST(Form1Tests, BackDuringAWaitEndsItFirstAndButtonsAreIgnored) {
  SimConfig c;
  c.tests[0x80] = {0x00, ByteString(), 0};
  Window w(c);
  w.open();
  uint64_t t = w.s.host.now();
  w.s.host.schedule(t + 3000, [&] { w.ctl().userClick("Command2"); });
  w.s.host.schedule(t + 5000, [&] { w.ctl().userClick("back"); });
  w.ctl().userClick("Command1");
  EXPECT_THAT(w.lines(), ElementsAre("Fuel pump", "8000", "Exit diagnostic mode OK"));
  EXPECT_THAT(w.sent(), ElementsAre("80", "FF"));
  EXPECT_FALSE(w.f().loaded());
  EXPECT_TRUE(w.s.form->ctl.visible("Form2"));
  EXPECT_EQ(w.s.host.timerInterval(), 20);
  EXPECT_LT(w.s.host.now() - t, 7000u);
}

TEST(Form1Co, OnDisablesTestsOffLeavesTheWindow) {
  Window w;
  w.open();
  w.ctl().userClick("Option1");
  EXPECT_THAT(w.lines(), ElementsAre("8D8D", "Enter CO Regulation OK"));
  EXPECT_FALSE(w.ctl().enabled("Command1"));
  EXPECT_TRUE(w.ctl().enabled("Command10") && w.ctl().enabled("Slider1"));
  w.mark();
  w.ctl().userClick("Option2");
  EXPECT_THAT(w.lines(), ElementsAre("FFFF", "Exit CO Regulation OK", "Exit diagnostic mode OK"));
  EXPECT_FALSE(w.f().loaded());
}

TEST(Form1Trimmer, SliderFieldAndTheValueSent) {
  Window w;
  w.open();
  w.ctl().userClick("Option1");
  w.ctl().userSetValue("Slider1", 0);
  w.ctl().userSetValue("Slider1", -5);
  EXPECT_EQ(w.ctl().text("Text2"), "122");
  w.mark();
  w.ctl().userClick("Command10");
  EXPECT_THAT(w.sent(), ElementsAre("7A"));
  EXPECT_THAT(w.lines(), ElementsAre("7A7A", "trimmer set to:-5"));
  w.ctl().userSetValue("Slider1", 0);
  EXPECT_EQ(w.ctl().text("Text2"), "127");
  // A slider stops at its ends, however far a script pushes it.
  w.ctl().userSetValue("Slider1", 2147483647);
  EXPECT_EQ(w.ctl().text("Text2"), "254");
  w.ctl().userSetValue("Slider1", -2147483647 - 1);
  EXPECT_EQ(w.ctl().text("Text2"), "0");
  w.ctl().userSetValue("Slider1", 0);
  w.ctl().userSetText("Text2", "300");
  EXPECT_EQ(w.ctl().value("Slider1"), 0);
  for (const char* bad : {"300", "-3", "255"}) {
    w.mark();
    w.ctl().userSetText("Text2", bad);
    w.ctl().userClick("Command10");
    EXPECT_THAT(w.sent(), IsEmpty()) << bad;
    ASSERT_EQ(w.lines().size(), 1u);
    EXPECT_EQ(w.lines()[0].rfind("Trimmer value refused", 0), 0u);
  }
}

TEST(TrimmerHandover, OnlyAnOpenWindowTakesTheValue) {
  SimConfig c;
  c.answers[0x0F] = 0x7B;  // trimmer -5
  Window w(c, "Option1", EcuType::E15m);
  // Not open: the 15m cycle sends no 0xAA and creates nothing.
  w.mark();
  w.s.run(1000);
  EXPECT_THAT(w.sent(), Not(Contains("AA")));
  EXPECT_FALSE(w.f().loaded());
  // Open (Command9 loads it without pausing the loop): the cycle hands the value over.
  w.s.form->ctl.userClick("Command9");
  ASSERT_TRUE(w.f().loaded());
  w.s.run(1000);
  EXPECT_EQ(w.ctl().value("Slider1"), -5);
  EXPECT_EQ(w.ctl().text("Text2"), "-5");
}

// What the test window tells the session: each test with its verdict, CO regulation and the
// trimmer with the values before and after.
struct Events : EventSink {
  void onEvent(const SessionEvent& e) override { seen.push_back(e); }
  template <class T>
  std::vector<T> of() const {
    std::vector<T> out;
    for (const auto& e : seen)
      if (const T* t = std::get_if<T>(&e)) out.push_back(*t);
    return out;
  }
  std::vector<SessionEvent> seen;
};

TEST(Form1Events, TestsVerdictsCoAndTrimmerArePublished) {
  SimConfig c;
  c.tests[0x80] = {0x00, ByteString(1, '\xEE'), 2000};
  Window w(c);
  Events ev;
  w.s.sinks.add(&ev);
  w.open();
  w.ctl().userClick("Command1");  // fuel pump: "Test failed"
  w.ctl().userClick("Command7");  // clear DTC: answers FF at once
  w.ctl().userClick("Option1");   // CO regulation on
  w.ctl().userSetText("Text2", "140");
  w.ctl().userClick("Command10");  // trimmer
  const auto started = ev.of<ev::TestStarted>();
  const auto ended = ev.of<ev::TestEnded>();
  ASSERT_EQ(started.size(), 2u);
  ASSERT_EQ(ended.size(), 2u);
  EXPECT_EQ(started[0].window, "Form1");
  EXPECT_EQ(started[0].name, "Fuel pump");
  EXPECT_EQ(started[0].code, 0x80);
  EXPECT_EQ(ended[0].verdict, ev::Verdict::Failed);
  EXPECT_EQ(ended[0].shown, "Test failed");
  EXPECT_EQ(ended[1].verdict, ev::Verdict::Passed);
  const auto co = ev.of<ev::CoRegulationSet>();
  ASSERT_EQ(co.size(), 1u);
  EXPECT_FALSE(co[0].before);
  EXPECT_TRUE(co[0].after);
  const auto trim = ev.of<ev::TrimmerSet>();
  ASSERT_EQ(trim.size(), 1u);
  // The byte that went on the line (the slider says 13, the live channel would read 12).
  EXPECT_EQ(trim[0].after, 140);
  // The poll loop was paused while the window is open, and says why.
  const auto paused = ev.of<ev::LoopPaused>();
  ASSERT_FALSE(paused.empty());
  EXPECT_TRUE(paused.back().paused);
  EXPECT_EQ(paused.back().why, "the Tests window is open");
}

TEST(Form1Tests, APortLostDuringTheVerdictWaitEndsItAtOnce) {
  SimConfig c;
  c.tests[0x80] = {0x00, ByteString(), 0};  // no verdict ever
  c.lostAfterMs = 5000;
  Window w(c);
  w.open();
  w.ctl().userClick("Command1");
  // Not the 36 s of the bar, nor the rest of its one-second step: the wait ends as the port
  // goes away.
  const uint64_t lostAt = w.s.rec.of("open").at(0).t + 5000;
  EXPECT_GE(w.s.host.now(), lostAt);
  EXPECT_LE(w.s.host.now(), lostAt + 10);
  EXPECT_THAT(w.lines(), ElementsAre("Fuel pump", "8000", "Test unknown"));
  EXPECT_EQ(w.ctl().value("Pg1"), 0);
}
