// The fault, immobiliser and memory readouts on virtual time against the simulated ECU: what is
// asked, what is logged, how long a silent ECU costs, and how the poll loop is paused around them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "diagnosis/form3.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

// A 15m session polling live data; start() marks the moment from which events are read.
class Polling {
 public:
  explicit Polling(SimConfig cfg = {}) : s(withBurst(std::move(cfg))) {
    s.connect();
    s.run(1500);
    EXPECT_EQ(s.form->cal_ask, kTrue);
    EXPECT_EQ(s.host.timerInterval(), 50);
    start();
  }

  void start() {
    s.rec.events.clear();
    t0 = s.host.now();
  }

  // Since start(): "ms:what" for bytes written and timer changes, in order.
  std::vector<std::string> timeline() const {
    std::vector<std::string> out;
    for (const auto& e : s.rec.events)
      if (e.ev == "tx" || e.ev == "timer")
        out.push_back(std::to_string(e.t - t0) + ":" + e.ev + " " + e.text);
    return out;
  }
  std::vector<std::string> codes() const {
    std::vector<std::string> out;
    for (const auto& e : s.rec.of("tx")) out.push_back(e.text);
    return out;
  }
  uint64_t elapsed() const { return s.host.now() - t0; }
  Form3& diag() { return s.form->form3(); }
  // The menu "Diag", then a clean record.
  void openDiag() {
    s.form->ctl.userClick("Diag");
    start();
  }

  SimSession s;
  uint64_t t0 = 0;

 private:
  static SimConfig withBurst(SimConfig c) {
    if (c.burst.empty()) c.burst = SimConfig::DefaultBurst();
    return c;
  }
};

SimConfig answering(std::initializer_list<std::pair<const uint8_t, uint8_t>> answers) {
  SimConfig c;
  c.answers = answers;
  return c;
}

const std::vector<std::string> kStateClear = {"Power On,no digimatic gear change",
                                              "Decrease in advance for detonation",
                                              "Awaiting recognition of signal panel",
                                              "Partialised",
                                              "ABS not active",
                                              "Absence of conditioner command",
                                              "Neutral position",
                                              "VAE normal operation"};

}  // namespace

// --- the fault readout -------------------------------------------------------------------------

TEST(ReadFaults, ThreeExchangesFiftyMsApartThenThirteenLines) {
  Polling p(answering({{0x0F, 0x10}, {0x10, 0x00}, {0x11, 0x04}}));
  p.s.form->ctl.userClick("Command11");
  EXPECT_THAT(
      p.s.rec.logLines(),
      ElementsAre("Icv OK", "Enrichment OK ", "Air temp sensor OK ", "Knock OK ",
                  "Water temp sensor Short circuit", "Lambda sensor OK    ", "Map sensor OK ",
                  "Throttle sensor OK ", "OK", "Eprom OK ", "OK", "OK  ", "Crankshaft sensor OK"));
  // No pause before a request; each reply (echo at 1 ms, answer 2 ms later at 7812 baud) is
  // looked at every 3 ms, then 50 ms pass before the next request.
  EXPECT_THAT(p.timeline(),
              ElementsAre("0:timer 0", "0:tx 0F", "56:tx 10", "112:tx 11", "168:timer 50"));
  EXPECT_TRUE(p.s.rec.logLines("Form3").empty());
}

TEST(ReadFaults, NoAnswerToTheSecondCodeWritesNothingAtAll) {
  SimConfig c = answering({{0x0F, 0x10}, {0x11, 0x04}});
  c.silent = {0x10};
  Polling p(c);
  p.s.form->ReadFaults();
  EXPECT_THAT(p.s.rec.logLines(), IsEmpty());
  EXPECT_THAT(p.codes(), ElementsAre("0F", "10"));
  // The wait gives up at the first look past 2000 ms, and the loop resumes at once.
  auto tl = p.timeline();
  ASSERT_EQ(tl.size(), 4u);
  EXPECT_EQ(tl.back(), "2060:timer 50");
}

TEST(ReadFaults, AnEchoMismatchLeavesThatValueZeroAndGoesOn) {
  SimConfig c = answering({{0x0F, 0x02}, {0x10, 0x04}, {0x11, 0x01}});
  c.wrongEcho = {{0x10, 0x55}};
  Polling p(c);
  p.s.form->ReadFaults();
  auto lines = p.s.rec.logLines();
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[1], "Maximum lean");  // f1 and k were read
  EXPECT_EQ(lines[9], "Eprom OK ");     // f2 = 0x04 was not taken
  EXPECT_THAT(p.codes(), ElementsAre("0F", "10", "11"));
}

TEST(ReadFaults, TheSimulatedEcuShowsSomeFaultsByDefault) {
  Polling p;
  p.s.form->ReadFaults();
  auto lines = p.s.rec.logLines();
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[10], "EEprom Fault");
  EXPECT_NE(std::vector<std::string>(lines.begin(), lines.begin() + 8),
            std::vector<std::string>({"Icv OK", "Enrichment OK ", "Air temp sensor OK ",
                                      "Knock OK ", "Water temp sensor OK ", "Lambda sensor OK    ",
                                      "Map sensor OK ", "Throttle sensor OK "}));
}

// --- the immobiliser readouts ----------------------------------------------------------------

TEST(Immobiliser, TextsOfTheSetBitsBetweenPauseAndResume) {
  Polling p(answering({{0x71, 0x84}}));
  p.s.form->ctl.userClick("Command2");
  EXPECT_THAT(p.s.rec.logLines(), ElementsAre("Virgin ECU", "Erroneous keycode"));
  EXPECT_THAT(p.timeline(), ElementsAre("0:timer 0", "0:tx 71", "6:timer 50"));
}

TEST(Immobiliser, TheButtonsWaitForTheLinkAsDtcDoes) {
  // Before Connect a press would only start the wake-up over and over: the buttons are grey, a
  // press does nothing, and they are grey again after Disconnect.
  SimConfig c = answering({{0x71, 0x84}});
  c.burst = SimConfig::DefaultBurst();
  SimSession s(c);
  for (const char* b : {"Command2", "Command3", "Command11"}) {
    EXPECT_FALSE(s.form->ctl.at(b).enabled) << b;
    s.form->ctl.userClick(b);
  }
  s.run(3000);
  EXPECT_THAT(s.rec.logLines(), IsEmpty());
  EXPECT_THAT(s.rec.of("tx"), IsEmpty());
  s.connect();
  s.run(1500);
  for (const char* b : {"Command2", "Command3", "Command11"})
    EXPECT_TRUE(s.form->ctl.at(b).enabled) << b;
  s.form->ctl.userClick("Check2");
  for (const char* b : {"Command2", "Command3", "Command11"})
    EXPECT_FALSE(s.form->ctl.at(b).enabled) << b;
}

TEST(Immobiliser, SecondReadoutUsesItsOwnCodeAndTable) {
  Polling p(answering({{0x72, 0xFF}}));
  p.s.form->ctl.userClick("Command3");
  EXPECT_THAT(p.s.rec.logLines(),
              ElementsAre("Erroneous key code 10.10.10.10.10 transmitted by immobiliser",
                          "unknow or not recognised code", "No code received or link interrupted"));
  EXPECT_THAT(p.codes(), ElementsAre("72"));
}

TEST(Immobiliser, ZeroByteWrongEchoAndStrayBytes) {
  {
    Polling p(answering({{0x71, 0x00}}));
    p.s.form->ReadImmobiliserStatus();
    EXPECT_THAT(p.s.rec.logLines(), IsEmpty());
    EXPECT_EQ(p.s.host.timerInterval(), 50);
  }
  {
    SimConfig c = answering({{0x71, 0x80}});
    c.wrongEcho = {{0x71, 0x70}};
    Polling p(c);
    p.s.form->ReadImmobiliserStatus();
    EXPECT_THAT(p.s.rec.logLines(), IsEmpty());
  }
  {
    SimConfig c = answering({{0x71, 0x20}});
    c.stray = {{0x71, ByteString(1, '\x55')}};
    Polling p(c);
    p.s.form->ReadImmobiliserStatus();
    EXPECT_THAT(p.s.rec.logLines(), ElementsAre("universal code received"));
  }
}

// The wait is bounded by time: an answer that takes 1.5 s is still read, and silence costs
// 2000 ms of 3 ms pauses, then a silent end with the loop resumed.
TEST(Immobiliser, WaitIsBoundedByTwoSecondsNotByACountOfPolls) {
  {
    SimConfig c = answering({{0x71, 0x01}});
    c.lateMs = {{0x71, 1500.0}};
    Polling p(c);
    p.s.form->ReadImmobiliserStatus();
    EXPECT_THAT(p.s.rec.logLines(), ElementsAre("No code received or link interrupted"));
    EXPECT_GE(p.elapsed(), 1500u);
    EXPECT_LT(p.elapsed(), 1510u);
  }
  {
    SimConfig c;
    c.silent = {0x72};
    Polling p(c);
    p.s.form->ReadImmobiliserStatus2();
    EXPECT_THAT(p.s.rec.logLines(), IsEmpty());
    // Looks at 0, 3, ... 2001 ms: the one at 2001 is past the limit and ends the wait after its
    // pause.
    EXPECT_THAT(p.timeline(), ElementsAre("0:timer 0", "0:tx 72", "2004:timer 50"));
  }
}

// --- the diagnostic memory window ------------------------------------------------------------

TEST(Form3, DiagMenuStopsTheLoopAndSwapsTheWindows) {
  Polling p;
  p.s.form->ctl.userClick("Diag");
  EXPECT_EQ(p.s.host.timerInterval(), 0);
  EXPECT_FALSE(p.s.form->ctl.visible("Form2"));
  EXPECT_TRUE(p.diag().ctl.visible("Form3"));
  EXPECT_EQ(p.diag().ctl.caption("Form3"), "Diag");
}

TEST(Form3, ButtonsAndCaptions) {
  SimSession s(SimConfig{});
  const char* buttons[][2] = {
      {"Command4", "Uniram1"},  {"Command5", "Uniram2"},   {"Command6", "Uniram3"},
      {"Command1", "Unirams"},  {"Command7", "Cuneep1"},   {"Command3", "Cuneep2"},
      {"Command2", "Cuneep3"},  {"Command10", "Unieep1A"}, {"Command9", "Unieep2A"},
      {"Command8", "Unieep3A"}, {"back", "Back"}};
  for (const auto& b : buttons) EXPECT_EQ(s.form->form3().ctl.caption(b[0]), b[1]) << b[0];
}

// Each read button asks its own code; a reply 0x?? 0xFF shows which table it decodes with.
TEST(Form3, EachButtonAsksItsCodeAndDecodesWithItsTable) {
  const struct {
    const char* button;
    uint8_t code;
    std::size_t lines;
    const char* first;
  } rows[] = {{"Command4", 0x0F, 8, "VAE blocked open or closed"},
              {"Command5", 0x10, 8, "Cam sensor"},
              {"Command6", 0x11, 8, "Maximun leaning down"},
              {"Command1", 0x15, 8, "Power On,no digimatic gear change"},
              {"Command7", 0x16, 8, "VAE blocked open or closed"},
              {"Command3", 0x17, 8, "Cam sensor"},
              {"Command2", 0x18, 8, "Maximun leaning down"},
              {"Command10", 0x1D, 8, "VAE blocked open or closed"},
              {"Command9", 0x1E, 8, "Cam sensor"},
              {"Command8", 0x1F, 8, "Maximun leaning down"}};
  SimConfig c;
  for (const auto& r : rows) c.answers[r.code] = 0xFF;
  Polling p(c);
  p.openDiag();
  for (const auto& r : rows) {
    p.start();
    p.diag().ctl.userClick(r.button);
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", r.code);
    EXPECT_THAT(p.codes(), ElementsAre(hex)) << r.button;
    auto lines = p.s.rec.logLines("Form3");
    ASSERT_EQ(lines.size(), r.lines) << r.button;
    EXPECT_EQ(lines[0], r.first) << r.button;
  }
  // Read buttons leave the loop stopped and the main log alone.
  EXPECT_EQ(p.s.host.timerInterval(), 0);
  EXPECT_EQ(p.diag().ctl.log().size(), 80u);
}

TEST(Form3, OneTextButtonWritesTheSetBits) {
  Polling p(answering({{0x0F, 0x81}}));
  p.openDiag();
  p.diag().ctl.userClick("Command4");
  EXPECT_THAT(p.s.rec.logLines("Form3"),
              ElementsAre("VAE blocked open or closed", "throttle valve position sensor"));
  EXPECT_THAT(p.s.rec.logLines(), IsEmpty());
  EXPECT_THAT(p.s.rec.of("timer"), IsEmpty());
}

TEST(Form3, TwoTextButtonWritesEightLines) {
  Polling p(answering({{0x11, 0x41}, {0x15, 0x00}}));
  p.openDiag();
  p.diag().ctl.userClick("Command6");
  p.diag().ctl.userClick("Command1");
  std::vector<std::string> want = {"Maximun enrichment",
                                   "Air temp sensor s.c",
                                   "Water temp sensor o.c",
                                   "Throttle valve potentiometer o.c",
                                   "Arrival of 6 Smot s.c",
                                   "Smot o.c",
                                   "Cam o.c",
                                   "Pressure sensor s.c"};
  want.insert(want.end(), kStateClear.begin(), kStateClear.end());
  // Presses add to the pane.
  EXPECT_THAT(p.s.rec.logLines("Form3"), ElementsAreArray(want));
  EXPECT_EQ(p.diag().ctl.log().size(), 16u);
}

TEST(Form3, NoAnswerCostsTwoAndAHalfSeconds) {
  SimConfig c;
  c.silent = {0x1E, 0x1F};
  Polling p(c);
  p.openDiag();
  p.diag().ctl.userClick("Command9");
  EXPECT_THAT(p.s.rec.logLines("Form3"), IsEmpty());
  // Looks every 4 ms (3 then 1): the first past 2500 ms is at 2504, and its pauses end at 2508.
  EXPECT_EQ(p.elapsed(), 2508u);
  p.start();
  p.diag().ctl.userClick("Command8");
  EXPECT_EQ(p.elapsed(), 2508u);
  EXPECT_THAT(p.s.rec.logLines("Form3"),
              ElementsAre("Maximun enrichment", "Air temp sensor o.c", "Water temp sensor o.c",
                          "Throttle valve potentiometer o.c", "Arrival of 6 Smot s.c", "Smot o.c",
                          "Cam o.c", "Pressure sensor o.c"));
}

TEST(Form3, AnAnswerToAnotherCodeCountsAsNoAnswer) {
  SimConfig c;
  c.replies = {{0x0F, ParseHexBytes("16 01")},
               {0x16, ParseHexBytes("16 01")},
               {0x15, ParseHexBytes("16 FF")}};
  Polling p(c);
  p.openDiag();
  p.diag().ctl.userClick("Command4");
  EXPECT_THAT(p.s.rec.logLines("Form3"), IsEmpty());
  p.diag().ctl.userClick("Command7");
  EXPECT_THAT(p.s.rec.logLines("Form3"), ElementsAre("throttle valve position sensor"));
  p.start();
  p.diag().ctl.userClick("Command1");
  EXPECT_THAT(p.s.rec.logLines("Form3"), ElementsAreArray(kStateClear));
}

TEST(Form3, DefaultStateOfTheSimulatedEcu) {
  Polling p;
  p.openDiag();
  p.diag().ctl.userClick("Command1");
  EXPECT_THAT(
      p.s.rec.logLines("Form3"),
      ElementsAre("Power On,no digimatic gear change", "No decrease in advance for detonation",
                  "Signal panel OK", "Partialised", "ABS not active",
                  "Absence of conditioner command", "Drive position", "VAE normal operation"));
}

TEST(Form3, BackResumesWithTwentyAndShowsTheMainWindow) {
  Polling p;
  p.openDiag();
  int cycles = 0;
  OnLiveCycle counted([&cycles](bool) { ++cycles; });
  p.s.sinks.add(&counted);
  p.s.run(500);
  EXPECT_EQ(cycles, 0);
  p.diag().ctl.userClick("back");
  EXPECT_THAT(p.timeline(), ElementsAre("500:timer 20"));
  EXPECT_TRUE(p.s.form->ctl.visible("Form2"));
  // The window stays open behind the main one; a disconnect hides it.
  EXPECT_TRUE(p.diag().ctl.visible("Form3"));
  p.s.run(1000);
  EXPECT_GT(cycles, 0);
  EXPECT_EQ(p.s.host.timerInterval(), 20);
  p.s.disconnect();
  EXPECT_FALSE(p.diag().ctl.visible("Form3"));
}
