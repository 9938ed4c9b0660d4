// The live cycles on virtual time: the bytes with their pauses, the echo checks, the abandon of
// a cycle, and what each field shows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A session that has reached live data with the poll loop stopped, so each test runs its cycles
// by hand and reads the bytes relative to the start of the cycle.
class Live {
 public:
  Live(EcuType type, const char* option, SimConfig cfg = {}) : s(withType(std::move(cfg), type)) {
    s.form->ctl.setValue("Check3", 0);
    s.connect(option);
    s.run(1500);
    EXPECT_EQ(s.form->cal_ask, kTrue);
    s.form->TimerOn(0);
    // Channels unticked at connect (the P8 types) are ticked again for the tests.
    for (int i = 0; i < 9; ++i) s.form->ctl.setValue(indexed("Check1", i), 1);
    start();
  }

  void start() {
    s.rec.events.clear();
    t0 = s.host.now();
  }

  // "ms:HEX" of each byte written since start().
  std::vector<std::string> tx() const {
    std::vector<std::string> out;
    for (const auto& e : s.rec.of("tx")) out.push_back(std::to_string(e.t - t0) + ":" + e.text);
    return out;
  }
  std::vector<std::string> codes() const {
    std::vector<std::string> out;
    for (const auto& e : s.rec.of("tx")) out.push_back(e.text);
    return out;
  }
  std::string text(int i) const { return s.form->ctl.text(indexed("Text1", i)); }
  void only(std::initializer_list<int> ticked) {
    // Tick first, then untick, so the last untick does not tick the throttle again.
    for (int i : ticked) s.form->ctl.setValue(indexed("Check1", i), 1);
    for (int i = 0; i < 9; ++i)
      if (std::find(ticked.begin(), ticked.end(), i) == ticked.end())
        s.form->ctl.setValue(indexed("Check1", i), 0);
    s.form->TimerOn(0);
    start();
  }

  SimSession s;
  uint64_t t0 = 0;

 private:
  static SimConfig withType(SimConfig c, EcuType t) {
    c.type = t;
    if (c.burst.empty()) c.burst = SimConfig::DefaultBurst();
    return c;
  }
};

SimConfig answering(std::initializer_list<std::pair<const uint8_t, uint8_t>> answers) {
  SimConfig c;
  c.answers = answers;
  return c;
}

}  // namespace

TEST(Live15m, AllNineChannelsInOrderWithTheirPauses) {
  Live l(EcuType::E15m, nullptr);
  l.s.form->ReadLive15m();
  // 8 ms before the start discard, 8 ms before each request, polls every 3 ms, 8 ms before the
  // second byte of rpm and injection; the answer arrives 4.6 ms after a request.
  EXPECT_THAT(l.tx(), ElementsAre("16:01", "30:02", "44:03", "58:04", "72:05", "86:06", "100:07",
                                  "114:08", "128:09", "142:0A", "156:0F"));
  EXPECT_EQ(l.s.host.now() - l.t0, 162u);
}

TEST(Live15m, FieldsShowTheConvertedBytes) {
  Live l(EcuType::E15m, nullptr,
         answering({{0x01, 0x0F},
                    {0x02, 0xA0},
                    {0x03, 0x06},
                    {0x04, 0xC4},
                    {0x05, 25},
                    {0x06, 0x60},
                    {0x07, 0x00},
                    {0x08, 0xFF},
                    {0x09, 100},
                    {0x0A, 214},
                    {0x0F, 0x80}}));
  l.s.form->ctl.setText("Text1(5)", "old");
  l.s.form->ReadLive15m();
  EXPECT_EQ(l.text(0), "3750");
  EXPECT_EQ(l.s.form->ctl.caption("Label26"), "3750");
  EXPECT_EQ(l.text(1), "3.464");
  EXPECT_EQ(l.text(2), "12.5");
  EXPECT_EQ(l.text(3), "489");
  EXPECT_EQ(l.text(4), "-55");
  EXPECT_EQ(l.text(5), "old");  // FF is no value
  EXPECT_EQ(l.text(6), "17.07");
  EXPECT_EQ(l.text(7), "13.375");
  EXPECT_EQ(l.text(8), "0");
  for (int i = 0; i < 120; ++i)
    EXPECT_EQ(l.s.form->ctl.get(indexed("Line1", i)).colour, i < 38 ? kSysLit : kSysUnlit) << i;
}

TEST(Live15m, RpmWithoutValue) {
  struct Row {
    uint8_t hi, lo;
    const char* text;
  } rows[] = {{0xFF, 0xFF, " ----"}, {0xFF, 0x10, "keep"}, {0x00, 0x00, "keep"}};
  for (const auto& r : rows) {
    Live l(EcuType::E15m, nullptr, answering({{0x01, r.hi}, {0x02, r.lo}}));
    l.only({0});
    l.s.form->ctl.setText("Text1(0)", "keep");
    l.s.form->ctl.setCaption("Label26", "1000");
    l.s.form->ReadLive15m();
    EXPECT_EQ(l.text(0), r.text);
    EXPECT_EQ(l.s.form->ctl.caption("Label26"), "1000");
  }
}

TEST(Live15m, WrongEchoLeavesTheFieldAndTheCycleGoesOn) {
  SimConfig c;
  c.wrongEcho[0x05] = 0x55;
  Live l(EcuType::E15m, nullptr, c);
  l.s.form->ctl.setText("Text1(2)", "keep");
  l.s.form->ReadLive15m();
  EXPECT_EQ(l.text(2), "keep");
  EXPECT_EQ(l.codes().size(), 11u);
  EXPECT_NE(l.text(3), "");
}

TEST(Live15m, SilentSecondRequestAbandonsTheCycleAfter2000Ms) {
  SimConfig c;
  c.silent.insert(0x02);
  Live l(EcuType::E15m, nullptr, c);
  l.s.form->ctl.setText("Text1(1)", "keep");
  l.s.form->ReadLive15m();
  EXPECT_THAT(l.codes(), ElementsAre("01", "02"));
  EXPECT_EQ(l.text(1), "keep");
  // 0x02 at 30 ms: looks every 3 ms; the one at 2031 is the first more than 2000 ms later.
  EXPECT_EQ(l.s.host.now() - l.t0, 2034u);
  // The next cycle starts again at channel 0.
  l.start();
  l.s.form->ReadLive15m();
  EXPECT_EQ(l.codes().front(), "01");
}

TEST(Live15m, OneTickedChannelOneByte) {
  Live l(EcuType::E15m, nullptr);
  l.only({8});
  l.s.form->ReadLive15m();
  EXPECT_THAT(l.codes(), ElementsAre("0F"));
}

TEST(Live15m, ThrottleScaleTwoOverwritesEvenWithoutAByte) {
  Live l(EcuType::E15m, nullptr, answering({{0x09, 200}}));
  l.only({6});
  l.s.form->ctl.userClick("Option4");
  l.s.form->ReadLive15m();
  EXPECT_EQ(l.text(6), "81.72");
  l.s.sim->config().wrongEcho[0x09] = 0x19;
  l.s.form->ReadLive15m();
  EXPECT_EQ(l.text(6), "-2.96");
}

TEST(Live15Rc, ThrottleAsksTwiceAndShowsTheVoltage) {
  Live l(EcuType::E15Rc, "Option9", answering({{0x09, 100}, {0x3A, 20}}));
  EXPECT_TRUE(l.s.form->ctl.visible("Text1(9)"));
  EXPECT_TRUE(l.s.form->ctl.visible("Label9"));
  l.only({6});
  l.s.form->ReadLive15m();
  // 0x3A goes out as soon as the first reply is in, without the 8 ms pause.
  EXPECT_THAT(l.tx(), ElementsAre("16:09", "22:3A"));
  EXPECT_EQ(l.text(9), "1.94");
  EXPECT_EQ(l.text(6), "105.7");
  l.s.form->ctl.userClick("Option1");
  EXPECT_FALSE(l.s.form->ctl.visible("Text1(9)"));
}

TEST(Live16m, InterByteDelayPacesEveryRequest) {
  Live l(EcuType::E16m, "Option7");
  l.s.form->ReadLive16m();
  EXPECT_THAT(l.tx(), ElementsAre("20:01", "36:02", "52:03", "68:04", "84:05", "100:06", "116:07",
                                  "132:08", "148:09", "164:0A", "180:0B"));
  l.s.form->ctl.setText("Text11", "0");
  l.start();
  l.s.form->ReadLive16m();
  // With no delay each code follows the previous answer at the next 3 ms look.
  EXPECT_THAT(l.tx(), ElementsAre("0:01", "6:02", "12:03", "18:04", "24:05", "30:06", "36:07",
                                  "42:08", "48:09", "54:0A", "60:0B"));
  l.s.form->ctl.setText("Text11", "-40");
  l.start();
  l.s.form->ReadLive16m();
  EXPECT_EQ(l.tx().front(), "0:01");
}

TEST(Live16m, TrimmerCodeFollowsTheScaleAndTheEchoIsChecked) {
  SimConfig c;
  c.replies[0x0B] = ParseHexBytes("0F 90");
  Live l(EcuType::E16m, "Option7", c);
  l.only({8});
  l.s.form->ctl.setText("Text1(8)", "keep");
  l.s.form->ReadLive16m();
  EXPECT_THAT(l.codes(), ElementsAre("0B"));
  EXPECT_EQ(l.text(8), "keep");
  l.s.form->ctl.userClick("Option5");
  l.start();
  l.s.form->ReadLive16m();
  EXPECT_THAT(l.codes(), ElementsAre("0F"));
  EXPECT_EQ(l.text(8), "0");
}

TEST(Live16m, ThrottleFFKeptOnScaleOneConvertedOnScaleTwo) {
  Live l(EcuType::E16m, "Option7", answering({{0x09, 0xFF}}));
  l.only({6});
  l.s.form->ctl.setText("Text1(6)", "keep");
  l.s.form->ReadLive16m();
  EXPECT_EQ(l.text(6), "keep");
  l.s.form->ctl.userClick("Option4");
  l.s.form->ReadLive16m();
  EXPECT_EQ(l.text(6), "105.");
}

TEST(LiveP8, OwnSpeedConstantTableAndNoFFFilter) {
  Live l(EcuType::P8, "Option2",
         answering({{0x01, 0x0F}, {0x02, 0xA0}, {0x05, 0xFF}, {0x07, 0}, {0x08, 33}}));
  l.s.form->ctl.setCaption("Label4", "Wait for ignition..");
  l.s.form->ReadLiveP8();
  EXPECT_EQ(l.text(0), "7500");
  EXPECT_EQ(l.text(2), "127.5");
  EXPECT_EQ(l.text(4), "125.");
  EXPECT_EQ(l.text(5), "122.1");
  EXPECT_EQ(l.s.form->ctl.caption("Label4"), "");
}

TEST(LiveP8, SpecialRpmAndTemperatureBytes) {
  struct Row {
    uint8_t hi, lo;
    const char* text;
    const char* label;
  } rows[] = {{0x00, 0x00, " 0", "keep"},
              {0xFF, 0xFF, " ----", "457"},
              {0x00, 0x10, "keep", "keep"},
              {0x10, 0x00, "keep", "keep"}};
  for (const auto& r : rows) {
    Live l(EcuType::P8, "Option2", answering({{0x01, r.hi}, {0x02, r.lo}, {0x07, 241}}));
    l.only({0, 4});
    l.s.form->ctl.setText("Text1(0)", "keep");
    l.s.form->ctl.setText("Text1(4)", "keep");
    l.s.form->ctl.setCaption("Label26", "keep");
    l.s.form->ReadLiveP8();
    EXPECT_EQ(l.text(0), r.text);
    EXPECT_EQ(l.s.form->ctl.caption("Label26"), r.label);
    EXPECT_EQ(l.text(4), "");
  }
}

TEST(PerSensor, SilentEcuWritesNineTimeoutLinesInOrder) {
  SimConfig c;
  c.silentAfterMs = 0;
  c.echo = false;
  Live l(EcuType::P8, "Option8", c);
  l.s.form->ReadLivePerSensor();
  auto lines = l.s.rec.logLines();
  EXPECT_THAT(lines, ElementsAre("RPM1 timeout !! ", "Inj1 timeout !! ", "Adv timeout !! ",
                                 "atmo timeout !! ", "Air timeout !! ", "Eau timeout !! ",
                                 "Throttle timeout!!   ", "Bat timeout!!  ", "trim timeout !! "));
  // A 5 ms pause before each sensor; each gives up after the look at 33 ms, more than 30 ms
  // after its request, and its pause: 41 ms a sensor.
  EXPECT_THAT(l.tx(), ElementsAre("5:01", "46:03", "87:05", "128:06", "169:07", "210:08", "251:09",
                                  "292:0A", "333:0B"));
  EXPECT_LT(l.s.host.now() - l.t0, 500u);
}

TEST(PerSensor, SecondRequestOfRpmAndInjection8MsAfterTheFirstReply) {
  Live l(EcuType::P8, "Option8");
  l.only({0, 1});
  l.s.form->ReadLivePerSensor();
  // rpm: the 5 ms pause, 0x01 at 5; echo and answer are in at 9.6, seen at the look at 11; 0x02
  // 8 ms later. Its reply is seen at 25, then the next pause: 0x03 at 30, seen at 36, 0x04 at 44.
  EXPECT_THAT(l.tx(), ElementsAre("5:01", "19:02", "30:03", "44:04"));
  EXPECT_THAT(l.s.rec.logLines(), IsEmpty());
}

TEST(PerSensor, LateSecondByteAndStrayByteLines) {
  SimConfig c;
  c.silent.insert(0x02);
  c.replies[0x0A] = ParseHexBytes("41");
  Live l(EcuType::P8, "Option8", c);
  l.only({0, 7});
  l.s.form->ctl.setText("Text1(0)", "keep");
  l.s.form->ReadLivePerSensor();
  EXPECT_THAT(l.s.rec.logLines(), ElementsAre("RPM2 timeout !! ", "Bat timeout!!  A"));
  EXPECT_EQ(l.text(0), "keep");
  EXPECT_EQ(l.s.sim->inBufferCount(), 0);
  EXPECT_THAT(l.codes(), ElementsAre("01", "02", "0A"));
}

TEST(PerSensor, UntickedChannelsCostNothingAndTimeoutIsReadEachLook) {
  Live l(EcuType::P8, "Option8", answering({{0x0A, 0x41}}));
  l.only({7});
  l.s.form->ReadLivePerSensor();
  EXPECT_THAT(l.tx(), ElementsAre("5:0A"));
  EXPECT_EQ(l.text(7).empty(), false);
  // A zero time limit gives up after the second look, 3 ms after the request; by then echo and
  // answer wait, and the line shows them as characters.
  l.s.form->ctl.setText("Text7", "");
  l.start();
  l.s.form->ReadLivePerSensor();
  EXPECT_THAT(l.s.rec.logLines(), ElementsAre("Bat timeout!!  \nA"));
}

TEST(Channels, TickingSumsTheWeightAndTheLastUntickTicksThrottle) {
  Live l(EcuType::E15m, nullptr);
  auto& ctl = l.s.form->ctl;
  EXPECT_EQ(l.s.form->lbuff, 44);
  for (int i = 2; i < 9; ++i) ctl.setValue(indexed("Check1", i), 0);
  EXPECT_EQ(l.s.form->lbuff, 16);
  EXPECT_EQ(ctl.text("Text3"), "16");
  ctl.setText("Text1(0)", "1200");
  ctl.setValue("Check1(0)", 0);
  EXPECT_EQ(ctl.text("Text1(0)"), "");
  ctl.setValue("Check1(1)", 0);
  EXPECT_EQ(ctl.value("Check1(6)"), 1);
  EXPECT_EQ(l.s.form->lbuff, 4);
  EXPECT_EQ(ctl.text("Text3"), "4");
  // Connected: each click stops the loop and starts it again with 50 ms.
  EXPECT_EQ(l.s.host.timerInterval(), 50);
  ctl.setText("Text2", "300");
  ctl.setValue("Check1(2)", 1);
  EXPECT_EQ(l.s.host.timerInterval(), 50);
  // During a test (progress bar moving) the loop stays stopped.
  ctl.setValue("Pg1", 3);
  ctl.setValue("Check1(3)", 1);
  EXPECT_EQ(l.s.host.timerInterval(), 0);
}

TEST(Channels, ClickWhileDisconnectedLeavesTheTimerAlone) {
  SimSession s(SimConfig{});
  s.form->ctl.setValue("Check1(4)", 0);
  EXPECT_EQ(s.form->lbuff, 40);
  EXPECT_THAT(s.rec.of("timer"), IsEmpty());
}
