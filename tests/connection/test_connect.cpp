// The road from "Connect" to the live data step, on virtual time against the simulated ECU.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "actuators/form1.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

SimConfig config(EcuType t, const char* burst = nullptr) {
  SimConfig c;
  c.type = t;
  c.burst = burst ? ParseHexBytes(burst) : SimConfig::DefaultBurst();
  return c;
}

std::vector<std::string> firstLines(const Recorder& r, std::size_t n) {
  auto l = r.logLines();
  if (l.size() > n) l.resize(n);
  return l;
}

}  // namespace

TEST(Connect, FifteenMWakesAnswersSwitchesRateAndReadsTheRecords) {
  SimSession s(config(EcuType::E15m));
  s.connect();
  EXPECT_EQ(s.form->ctl.caption("Check2"), "Disconnect");
  EXPECT_EQ(s.form->ctl.get("Shape1").colour, kRgbGreen);
  EXPECT_EQ(s.form->ctl.caption("Label4"), "Wait for ignition..");
  EXPECT_EQ(s.host.timerInterval(), 50);
  s.run(2000);

  EXPECT_THAT(firstLines(s.rec, 14),
              ElementsAre("1200bds", "init = false => call initial ", "iso: ",
                          "RX=> 0055A38F101502 ", "buff= 0055A38F101502  Lbuff= 14", "Iso code OK",
                          "Tx => 0x0F", "Tx => 0xAA", "Tx => 0xCC", "init successfull", "7812",
                          "ask ecu info... ", "Ecu info: 4 KL15M-0427", "Cal: 0 "));
  EXPECT_EQ(s.form->ctl.text("Text4"),
            "Iso Code    : 55A38F101502\r\necu data    : KL15M-0427\r\n");
  EXPECT_EQ(s.form->ctl.caption("Label4"), "");
  EXPECT_TRUE(s.form->init && s.form->ecuinf && s.form->cal_ask);
  EXPECT_TRUE(s.form->ctl.enabled("test") && s.form->ctl.enabled("Diag") &&
              s.form->ctl.enabled("Command11"));

  // Connect at 0, 8 ms settle, first tick at 58 plus 5 ms pause; the burst has arrived, 100 ms
  // more, then 518 ms of silence before the answers, which go out 110 ms apart.
  auto tx = s.rec.txTimeline();
  ASSERT_GE(tx.size(), 13u);
  EXPECT_THAT(std::vector<std::string>(tx.begin(), tx.begin() + 5),
              ElementsAre("681:0F", "791:AA", "901:CC", "1019:17", "1035:18"));
  auto baud = s.rec.of("baud");
  ASSERT_EQ(baud.size(), 1u);
  EXPECT_EQ(baud[0].t, 1011u);
  EXPECT_EQ(baud[0].num, 7812);
  EXPECT_TRUE(baud[0].ok);
  EXPECT_EQ(s.sim->baud(), 7812);
  EXPECT_EQ(s.sim->ecuBaud(), 7812);
}

TEST(Connect, WaitsForTheBurstLoggingOneLinePerTick) {
  SimConfig c = config(EcuType::E16m);
  c.ignitionMs = 1000;
  SimSession s(c);
  s.connect("Option7");
  s.run(990);
  auto lines = s.rec.logLines();
  // Ticks at 58, 108, ... 958: nineteen tries, and nothing sent.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "init = false => call initial "), 19);
  EXPECT_THAT(s.rec.of("tx"), IsEmpty());
  EXPECT_FALSE(s.form->ctl.enabled("test"));
  s.run(2000);
  EXPECT_TRUE(s.form->init);
  EXPECT_THAT(s.rec.logLines(), Contains("Ecu info: 4 KL16M-0311"));
}

TEST(Connect, FifteenRcIsAnsweredAtOnceWithoutABurst) {
  SimSession s(config(EcuType::E15Rc));
  s.connect("Option9");
  s.run(1500);
  EXPECT_THAT(
      firstLines(s.rec, 8),
      ElementsAre("1200bds", "init = false => call initial ", "initial => 15rc ecu, skip isocode ",
                  "Tx => 0x0F", "Tx => 0xAA", "Tx => 0xCC", "init successfull", "7812"));
  auto tx = s.rec.txTimeline();
  EXPECT_THAT(std::vector<std::string>(tx.begin(), tx.begin() + 3),
              ElementsAre("581:0F", "691:AA", "801:CC"));
  EXPECT_EQ(s.form->ctl.text("Text4"), "ecu data    : KL15R-0102\r\n");
}

TEST(Connect, PEightTypesSkipTheHandshakeAndStartAt7812) {
  for (const char* option : {"Option2", "Option8"}) {
    SimSession s(config(EcuType::P8));
    s.connect(option);
    EXPECT_EQ(s.form->init, kTrue) << option;
    auto baud = s.rec.of("baud");
    ASSERT_EQ(baud.size(), 1u);
    EXPECT_EQ(baud[0].t, 0u);
    for (int i : {0, 1, 2, 3, 4, 5, 8}) EXPECT_EQ(s.form->ctl.value(indexed("Check1", i)), 0);
    EXPECT_EQ(s.form->ctl.value("Check1(6)"), 1);
    EXPECT_EQ(s.form->ctl.value("Check1(7)"), 1);
    EXPECT_EQ(s.form->lbuff, 8);
    s.run(400);
    auto lines = s.rec.logLines();
    EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 4),
                ElementsAre("1200bds", "7812", "ask ecu info... ", "Ecu info: 4 KLP8--0815"))
        << option;
    EXPECT_THAT(lines, Not(Contains("init = false => call initial ")));
    // The first tick goes straight to the identification at 58 + 5 + 8 ms.
    EXPECT_EQ(s.rec.txTimeline().front(), "71:17");
  }
}

struct BurstCase {
  const char* burst;
  const char* hex;
  const char* info;
  // The test's name shows the burst, not the pointers.
  friend void PrintTo(const BurstCase& c, std::ostream* os) { *os << c.burst; }
};

class Burst : public ::testing::TestWithParam<BurstCase> {};

TEST_P(Burst, IsShownFromTheFirst55AndAnsweredWhateverItHolds) {
  SimSession s(config(EcuType::E15m, GetParam().burst));
  s.connect();
  s.run(1000);
  std::string h = GetParam().hex;
  EXPECT_THAT(firstLines(s.rec, 7),
              ElementsAre("1200bds", "init = false => call initial ", "iso: ", "RX=> " + h + " ",
                          "buff= " + h + "  Lbuff= " + std::to_string(h.size()), "Iso code OK",
                          "Tx => 0x0F"));
  EXPECT_EQ(s.form->ctl.text("Text4").substr(0, s.form->ctl.text("Text4").find("\r\n")),
            std::string("Iso Code    : ") + GetParam().info);
}

INSTANTIATE_TEST_SUITE_P(
    Handshake, Burst,
    ::testing::Values(BurstCase{"FF 55 12 34 56 78 9A", "FF55123456789A", "55123456789A"},
                      BurstCase{"05 5A 00 11 22 33", "055A00112233", "55A00112233"},
                      BurstCase{"01 02 03 04 05 06", "010203040506", "010203040506"}));

TEST(Handshake, ShortBurstGivesUpAfter3000MsWithoutAnsweringAndStaysAt1200) {
  SimSession s(config(EcuType::E15m, "55 01 02 03 04"));
  s.connect();
  s.run(3100);
  EXPECT_EQ(s.form->init, kTrue);
  EXPECT_THAT(s.rec.of("baud"), IsEmpty());
  EXPECT_EQ(s.sim->baud(), 1200);
  auto lines = s.rec.logLines();
  EXPECT_THAT(lines, Not(Contains("Iso code OK")));
  EXPECT_THAT(lines, Not(Contains("Tx => 0x0F")));
  EXPECT_EQ(s.form->ctl.caption("Label4"), "Wait for ignition..");
  // t0 at 63; the look at 3067 is the first more than 3000 ms later and its pause ends at 3071.
  // The identification follows (8 ms later) at 1200 baud, where the waiting ECU does not answer.
  ASSERT_FALSE(s.rec.of("tx").empty());
  EXPECT_EQ(s.rec.txTimeline().front(), "3079:17");
}

TEST(Readout, EachAnswerIsACharacterBytesFrom0x80AsLatin1) {
  // The ten answers of the identification and the text each one adds.
  const struct {
    uint8_t answer;
    const char* text;
  } rows[] = {{'A', "A"},         {0x7F, "\x7F"},     {0x80, "\xC2\x80"}, {0x81, "\xC2\x81"},
              {0xBF, "\xC2\xBF"}, {0xC0, "\xC3\x80"}, {0xE9, "\xC3\xA9"}, {0xFF, "\xC3\xBF"},
              {'0', "0"},         {'Z', "Z"}};
  SimConfig c = config(EcuType::P8);
  std::string record;
  for (int i = 0; i < 10; ++i) {
    c.answers[static_cast<uint8_t>(0x17 + i)] = rows[i].answer;
    record += rows[i].text;
  }
  SimSession s(c);
  s.form->ctl.setValue("Check4", 1);
  s.connect("Option2");
  s.run(500);
  EXPECT_THAT(s.rec.logLines(), Contains("Ecu info: 4 " + record));
  EXPECT_THAT(s.rec.logLines(), Contains("Cal: 3 CAL01.07"));
  EXPECT_EQ(s.form->ctl.text("Text4"),
            "ecu data    : " + record + "\r\ncalibration : CAL01.07\r\n");
}

TEST(Readout, SilentCodeStopsTheReadoutAndTheTickGoesOn) {
  SimConfig c = config(EcuType::P8);
  c.silent.insert(0x1A);
  SimSession s(c);
  s.connect("Option2");
  s.run(3500);
  auto lines = s.rec.logLines();
  auto it = std::find_if(lines.begin(), lines.end(),
                         [](const std::string& l) { return l.rfind("Ecu info: ", 0) == 0; });
  ASSERT_NE(it, lines.end());
  // 0x1A written at 119; the wait looks at 119, 123, ... and gives up after the look at 3123.
  EXPECT_EQ(*it, "Ecu info: 3004 KLP");
  EXPECT_EQ(*(it + 1), "Cal: 0 ");
  EXPECT_EQ(s.form->ctl.text("Text4"), "");
  EXPECT_EQ(s.form->ecuinf, kTrue);
  EXPECT_EQ(s.form->cal_ask, kTrue);
  // Nothing after 0x1A of the same readout is asked; live data follows in the same tick.
  auto tx = s.rec.txTimeline();
  ASSERT_GT(tx.size(), 4u);
  EXPECT_EQ(tx[3], "119:1A");
  EXPECT_EQ(tx[4].substr(tx[4].find(':')), ":09");
}

TEST(Readout, StrayBytesAndWrongEchoStillTakeTheSecondByte) {
  SimConfig c = config(EcuType::P8);
  c.stray[0x17] = ParseHexBytes("EE");
  c.wrongEcho[0x18] = 0x99;
  c.replies[0x19] = ParseHexBytes("19 51 77 88");
  SimSession s(c);
  s.connect("Option2");
  s.run(500);
  EXPECT_THAT(s.rec.logLines(), Contains("Ecu info: 4 KLQ8--0815"));
}

TEST(Readout, UntickedBoxesAskNothing) {
  SimSession s(config(EcuType::P8));
  s.form->ctl.setValue("Check3", 0);
  s.connect("Option2");
  s.run(300);
  auto lines = s.rec.logLines();
  EXPECT_THAT(std::vector<std::string>(lines.begin(), lines.begin() + 4),
              ElementsAre("1200bds", "7812", "Ecu info: 0 ", "Cal: 0 "));
  // The first byte on the line is the live cycle's throttle request.
  ASSERT_FALSE(s.rec.of("tx").empty());
  EXPECT_EQ(s.rec.of("tx")[0].text, "09");
}

TEST(Readout, ButtonsReadAgainAndAppendToTheInfoPane) {
  SimSession s(config(EcuType::P8));
  s.connect("Option2");
  s.run(300);
  s.form->ctl.setValue("Check4", 1);
  s.form->ctl.userClick("Command7");
  s.form->ctl.userClick("Command6");
  EXPECT_EQ(s.form->ctl.text("Text4"),
            "ecu data    : KLP8--0815\r\ncalibration : CAL01.07\r\necu data    : KLP8--0815\r\n");
}

TEST(Readout, ClockWrapDoesNotBreakTheWaits) {
  SimConfig c = config(EcuType::P8);
  c.silent.insert(0x1A);
  SimSession s(c);
  // Same run as above, with the 32-bit clock wrapping during the wait.
  s.host.setClockOrigin(0xFFFFFFFFu - 1000);
  s.connect("Option2");
  s.run(3500);
  EXPECT_THAT(s.rec.logLines(), Contains("Ecu info: 3004 KLP"));
}

TEST(Disconnect, ClearsTheFlagsFieldsAndLamp) {
  SimSession s(config(EcuType::E15m));
  s.connect();
  s.run(1500);
  s.form->ctl.setText("Text1(3)", "42");
  s.disconnect();
  EXPECT_EQ(s.host.timerInterval(), 0);
  EXPECT_FALSE(s.sim->isOpen());
  EXPECT_EQ(s.form->ctl.caption("Check2"), "Connect");
  EXPECT_EQ(s.form->ctl.get("Shape1").colour, kRgbRed);
  EXPECT_EQ(s.form->ctl.text("Text4"), "");
  for (int i = 0; i < 10; ++i) EXPECT_EQ(s.form->ctl.text(indexed("Text1", i)), "");
  EXPECT_FALSE(s.form->init || s.form->ecuinf || s.form->cal_ask);
  EXPECT_FALSE(s.form->ctl.enabled("test") || s.form->ctl.enabled("Diag") ||
               s.form->ctl.enabled("Command11"));
  EXPECT_EQ(s.form->ctl.caption("Label4"), "");
  const std::size_t events = s.rec.events.size();
  const std::size_t lines = s.rec.of("log").size();
  s.run(1000);
  EXPECT_EQ(s.rec.of("log").size(), lines);
  EXPECT_EQ(s.rec.events.size(), events) << "no tick after disconnect";

  // Reconnecting starts again from the burst.
  s.connect();
  s.run(1200);
  EXPECT_THAT(s.rec.logLines(), Contains("init successfull"));
}

TEST(Connect, PortThatDoesNotOpenLeavesTheToggleAndNoTickRuns) {
  SimSession s(config(EcuType::E15m));
  s.connect(nullptr, "7");
  EXPECT_THAT(s.rec.logLines(), ElementsAre("1200bds", "port 7 not opened: no such serial port"));
  EXPECT_EQ(s.form->ctl.value("Check2"), 1);
  EXPECT_EQ(s.form->ctl.caption("Check2"), "Connect");
  EXPECT_EQ(s.host.timerInterval(), 0);
  s.run(1000);
  EXPECT_EQ(s.rec.logLines().size(), 2u);
}

// Whatever asks the ECU with no open port (never connected, or after a disconnect) sends nothing
// and costs only its own pauses; what resumes the poll loop still does.
TEST(ClosedPort, EachActionSendsNothingAndCostsOnlyItsPauses) {
  using Act = std::function<void(Form2&)>;
  const Act faults = [](Form2& f) { f.ReadFaults(); };
  const Act immobiliser = [](Form2& f) {
    f.ReadImmobiliserStatus();
    f.ReadImmobiliserStatus2();
  };
  const Act testList = [](Form2& f) { f.ctl.userSetValue("List1", 0); };
  const Act testWindow = [](Form2& f) {
    f.ctl.setEnabled("test", true);
    f.ctl.userClick("test");
  };
  const Act airTemp = [](Form2& f) { f.ctl.userClick("Command5"); };
  const Act live15m = [](Form2& f) { f.ReadLive15m(); };
  const struct {
    const char* what;
    bool disconnected;
    const Act& act;
    std::vector<std::string> lines;
    int timer;
    uint64_t ms;
  } rows[] = {
      {"fault readout", false, faults, {}, 50, 0},
      {"immobiliser readouts", false, immobiliser, {}, 50, 0},
      {"test list", false, testList, {"  elapsed 0"}, 50, 0},
      // The test window shows itself, waits out its pauses and closes again.
      {"test window", false, testWindow, {}, 20, 1100},
      {"air temperature button", false, airTemp, {"Air timeout !! "}, 0, 0},
      {"15m live cycle", true, live15m, {}, 0, 0},
  };
  for (const auto& r : rows) {
    SimSession s(config(EcuType::E15m));
    if (r.disconnected) {
      s.connect();
      s.run(1500);
      s.disconnect();
      s.rec.events.clear();
    }
    const uint64_t t0 = s.host.now();
    r.act(*s.form);
    EXPECT_THAT(s.rec.of("tx"), IsEmpty()) << r.what;
    EXPECT_EQ(s.rec.logLines(), r.lines) << r.what;
    EXPECT_EQ(s.host.timerInterval(), r.timer) << r.what;
    EXPECT_EQ(s.host.now() - t0, r.ms) << r.what;
    EXPECT_FALSE(s.form->form1().loaded()) << r.what;
  }
}

TEST(SessionCore, ConnectionsAreAnnouncedAndUnloadDisconnectsAsTheUserWould) {
  SimConfig c;
  c.burst = SimConfig::DefaultBurst();
  SimSession s(c);
  struct Seen : EventSink {
    void onEvent(const SessionEvent& e) override { names.emplace_back(EventName(e)); }
    std::vector<std::string> names;
  } seen;
  s.sinks.add(&seen);
  s.connect("Option7");
  s.run(3000);
  EXPECT_EQ(s.core->report().port(), "sim");
  EXPECT_EQ(s.core->report().ecuType(), "16m");
  EXPECT_EQ(seen.names.front(), "connecting");
  EXPECT_THAT(seen.names, Contains("ecu-identified"));
  EXPECT_THAT(seen.names, Contains("live-cycle"));
  EXPECT_EQ(s.core->link().state, LinkState::Live);
  s.core->unload();
  EXPECT_FALSE(s.form->portOpen());
  EXPECT_EQ(s.form->ctl.caption("Check2"), "Connect");
  EXPECT_EQ(seen.names.back(), "disconnected");
  EXPECT_EQ(s.core->link().state, LinkState::Idle);
}
