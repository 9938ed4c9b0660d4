// The main window's test list: contents per ECU type, and a test run on virtual time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "actuators/testlist.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::ElementsAre;

namespace {

std::vector<std::string> items(const SimSession& s) {
  return s.form->ctl.get("List1").items;
}

// A 15m session in live data, with the given test behaviour and the loop running.
struct Tested {
  explicit Tested(SimConfig c = {}, const char* option = nullptr) : s(withBurst(c)) {
    s.form->ctl.setValue("Check3", 0);
    s.connect(option);
    s.run(1500);
  }
  static SimConfig withBurst(SimConfig c) {
    c.burst = SimConfig::DefaultBurst();
    return c;
  }
  // Clicks entry `i` at the next moment and runs until the test is over.
  void click(int i, uint64_t runFor = 60000) {
    from = s.rec.events.size();
    s.host.schedule(s.host.now(), [this, i] { s.form->ctl.userSetValue("List1", i); });
    s.run(runFor);
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (std::size_t k = from; k < s.rec.events.size(); ++k)
      if (s.rec.events[k].ev == "log") out.push_back(s.rec.events[k].text);
    return out;
  }
  std::vector<std::string> sent() const {
    std::vector<std::string> out;
    for (std::size_t k = from; k < s.rec.events.size(); ++k)
      if (s.rec.events[k].ev == "tx") out.push_back(s.rec.events[k].text);
    return out;
  }
  // Log lines of the test: everything the live cycles do not write.
  std::vector<std::string> testLines() const { return lines(); }
  SimSession s;
  std::size_t from = 0;
};

SimConfig withTest(uint8_t code, SimConfig::Test t) {
  SimConfig c;
  c.tests[code] = t;
  return c;
}

}  // namespace

TEST(TestList, ContentsPerTypeAndVoltageField) {
  SimSession s(SimConfig{});
  // Seven tests for every type; the entries that set the types apart.
  EXPECT_EQ(items(s).size(), 7u);
  EXPECT_EQ(items(s)[1], "81 Coil H ");
  EXPECT_EQ(items(s)[3], "83 clear DTC");
  s.form->ctl.userClick("Option7");
  EXPECT_EQ(items(s).size(), 7u);
  EXPECT_EQ(items(s)[1], "81 H Inj ");
  EXPECT_EQ(items(s)[6], "84 Clear DTC");
  EXPECT_EQ(s.form->List1_ItemData[6], 84);
  s.form->ctl.userClick("Option9");
  EXPECT_EQ(items(s)[3], "83 Clear DTC");
  EXPECT_TRUE(s.form->ctl.visible("Text1(9)") && s.form->ctl.visible("Label9"));
  s.form->ctl.userClick("Option8");
  EXPECT_EQ(items(s).size(), 7u);
  EXPECT_EQ(items(s)[4], "85  ???");
  EXPECT_TRUE(s.form->ctl.visible("Text1(9)")) << "the second P8 leaves the field as it was";
  s.form->ctl.userClick("Option2");
  EXPECT_FALSE(s.form->ctl.visible("Text1(9)") || s.form->ctl.visible("Label9"));
}

TEST(TestList, ItemCodesReadAsHexAndDurations) {
  EXPECT_EQ(TestCodeOf(80), 0x80);
  EXPECT_EQ(TestCodeOf(87), 0x87);
  EXPECT_EQ(TestCodeOf(84), 0x84);
  EXPECT_EQ(TestDurationOf(80, 30), 40);
  for (int code : {81, 82, 83, 85, 86, 87}) EXPECT_EQ(TestDurationOf(code, 40), 5);
  EXPECT_EQ(TestDurationOf(84, 30), 30);
  EXPECT_EQ(TestDurationOf(84, 40), 40);
}

TEST(TestList, FuelPumpWithAVerdictAfterThreeSeconds) {
  Tested t;
  t.click(0, 5000);
  EXPECT_THAT(t.lines(), ElementsAre("AAFF", "80", "8000", "FF", "8000  elapsed 4"));
  auto sent = t.sent();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(sent.begin(), sent.begin() + 3),
              ElementsAre("AA", "80", "FF"));
  EXPECT_EQ(t.s.form->ctl.caption("Label5"), "OK");
  EXPECT_EQ(t.s.form->ctl.value("Pg1"), 0);
  EXPECT_TRUE(t.s.form->ctl.enabled("List1"));
  EXPECT_EQ(t.s.host.timerInterval(), 50);
  EXPECT_FALSE(t.s.sim->inDiagnosticMode()) << "the acknowledgement leaves diagnostic mode";
}

TEST(TestList, FailedTestShowsErreurAndIsAcknowledged) {
  Tested t(withTest(0x81, {0x00, ParseHexBytes("EE"), 2000}));
  t.click(1, 4000);
  EXPECT_THAT(t.lines(), ElementsAre("AAFF", "81", "8100", "EE", "8100  elapsed 4"));
  EXPECT_EQ(t.s.form->ctl.caption("Label5"), "Erreur");
  EXPECT_EQ(t.sent()[2], "FF");
}

TEST(TestList, NoVerdictRunsTheBarToItsMaximumAndSendsNothing) {
  Tested t(withTest(0x82, {0x00, ByteString(), 0}));
  std::vector<int> bar;
  t.from = t.s.rec.events.size();
  t.s.host.schedule(t.s.host.now(), [&] { t.s.form->ctl.userSetValue("List1", 2); });
  t.s.run(7000);
  for (const auto& e : t.s.rec.of("set"))
    if (e.ctl == "Pg1" && e.prop == "value") bar.push_back(std::stoi(e.text));
  EXPECT_THAT(bar, ElementsAre(0, 1, 2, 3, 4, 5, 0));
  EXPECT_EQ(t.s.form->ctl.caption("Label5"), "");
  EXPECT_EQ(t.sent()[0], "AA");
  EXPECT_EQ(t.sent()[1], "82");
  // After the test only the live cycle's codes follow: no acknowledgement.
  for (std::size_t k = 2; k < t.sent().size(); ++k) EXPECT_NE(t.sent()[k], "FF");
}

TEST(TestList, VerdictWithAnotherByteIsNotRecognised) {
  Tested t(withTest(0x85, {0x00, ParseHexBytes("FF 01"), 1500}));
  t.click(4, 7000);
  EXPECT_EQ(t.s.form->ctl.caption("Label5"), "");
  EXPECT_THAT(t.lines(), ElementsAre("AAFF", "85", "8500", "8500  elapsed 4"));
  for (std::size_t k = 2; k < t.sent().size(); ++k) EXPECT_NE(t.sent()[k], "FF");
}

TEST(TestList, ClearDtcOnSixteenMWaitsAsLongAsThePreviousTest) {
  Tested t(withTest(0x84, {0x00, ByteString(), 0}), "Option7");
  t.click(6, 40000);
  EXPECT_EQ(t.s.form->ctl.get("Pg1").max, 30);
  std::vector<int> bar;
  for (const auto& e : t.s.rec.of("set"))
    if (e.ctl == "Pg1" && e.prop == "value") bar.push_back(std::stoi(e.text));
  EXPECT_EQ(*std::max_element(bar.begin(), bar.end()), 30);
  EXPECT_EQ(t.sent()[1], "84");
}

TEST(TestList, SilentDiagnosticModeStopsAfter2000Ms) {
  SimConfig c;
  c.silent.insert(0xAA);
  Tested t(c);
  t.click(0, 3000);
  ASSERT_FALSE(t.lines().empty());
  EXPECT_EQ(t.lines().back().rfind("  elapsed 20", 0), 0u) << t.lines().back();
  EXPECT_EQ(t.sent()[0], "AA");
  EXPECT_NE(t.sent().size() > 1 ? t.sent()[1] : "", "80");
}

TEST(TestList, APortLostDuringTheVerdictWaitEndsItAtOnceAndTellsTheSession) {
  SimConfig c;
  c.burst = SimConfig::DefaultBurst();
  c.tests[0x80] = {0x00, ByteString(), 0};  // no verdict ever
  c.lostAfterMs = 8000;
  SimSession s(c);
  struct Ended : EventSink {
    void onEvent(const SessionEvent& e) override {
      if (auto* t = std::get_if<ev::TestEnded>(&e)) ended.push_back(*t);
    }
    std::vector<ev::TestEnded> ended;
  } ended;
  s.sinks.add(&ended);
  s.connect();
  s.run(3000);
  s.form->ctl.userSetValue("List1", 0);
  // Not the 40 s of the fuel pump's bar, nor the rest of its one-second step: the wait ends as
  // the port goes away.
  const uint64_t lostAt = s.rec.of("open").at(0).t + 8000;
  EXPECT_GE(s.host.now(), lostAt);
  EXPECT_LE(s.host.now(), lostAt + 10);
  ASSERT_EQ(ended.ended.size(), 1u);
  EXPECT_EQ(ended.ended[0].window, "Form2");
  EXPECT_EQ(ended.ended[0].verdict, ev::Verdict::Unknown);
  EXPECT_TRUE(s.form->ctl.enabled("List1"));
}
