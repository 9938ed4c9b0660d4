// The checklist of a first connection that hears nothing: when it is offered, on virtual time
// against the simulated ECU, and what it lists.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "connection/connectchecklist.h"
#include "connection/ecutypes.h"
#include "connection/firstanswerwatch.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// A session whose window reports to a watch that notes each offer's time and connection.
struct Watched {
  Watched(EcuType type, int ignitionMs) : s(config(type, ignitionMs)) { s.sinks.add(&watch); }
  static SimConfig config(EcuType t, int ignitionMs) {
    SimConfig c;
    c.type = t;
    c.burst = SimConfig::DefaultBurst();
    c.ignitionMs = ignitionMs;
    return c;
  }
  std::vector<uint32_t> offers;
  std::vector<std::string> ecus;
  FirstAnswerWatch watch{[this] { return s.host.timeGetTime(); },
                         [this](const ev::Connecting& c) {
                           offers.push_back(s.host.timeGetTime());
                           ecus.push_back(c.ecu);
                         }};
  SimSession s;
};

}  // namespace

TEST(FirstAnswerWatch, ASilentEcuOfEachTypeIsOfferedTheChecklistFiveSecondsAfterConnectOnce) {
  const struct {
    EcuType sim;
    const char* option;
    const char* label;
  } cases[] = {{EcuType::E15m, "Option1", "15m"},
               {EcuType::E16m, "Option7", "16m"},
               {EcuType::E15Rc, "Option9", "15Rc"},
               {EcuType::P8, "Option2", "P8"},
               {EcuType::P8, "Option8", "P8-sensor"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Watched w(c.sim, 600000);
    w.s.connect(c.option);
    const uint32_t connectedAt = w.s.host.timeGetTime();
    w.s.run(30000);
    ASSERT_EQ(w.offers.size(), 1u);
    // Told at the first event past the limit: a tick of the poll loop or a time-out at most.
    EXPECT_GE(w.offers[0] - connectedAt, FirstAnswerWatch::kWaitMs);
    EXPECT_LE(w.offers[0] - connectedAt, FirstAnswerWatch::kWaitMs + 1200);
    EXPECT_THAT(w.ecus, ElementsAre(c.label));
    EXPECT_FALSE(w.watch.answered());
    // A new Connect is a new chance, and a new offer.
    w.s.disconnect();
    w.s.connect();
    w.s.run(6500);
    EXPECT_EQ(w.offers.size(), 2u);
  }
}

TEST(FirstAnswerWatch, AnEcuThatAnswersInTimeOrADisconnectBeforeTheLimitIsNeverOffered) {
  // The 15Rc is answered at once without waiting for a burst: its ECU must be awake by then.
  for (auto [sim, option, ignition] : {std::tuple{EcuType::E15m, "Option1", 3000},
                                       {EcuType::E16m, "Option7", 3000},
                                       {EcuType::E15Rc, "Option9", 0},
                                       {EcuType::P8, "Option2", 3000},
                                       {EcuType::P8, "Option8", 3000}}) {
    SCOPED_TRACE(option);
    Watched w(sim, ignition);
    w.s.connect(option);
    w.s.run(20000);
    EXPECT_TRUE(w.offers.empty());
    EXPECT_TRUE(w.watch.answered());
  }
  Watched w(EcuType::E15m, 600000);
  w.s.connect();
  w.s.run(4000);
  w.s.disconnect();
  w.s.run(20000);
  EXPECT_TRUE(w.offers.empty());
  // A port that does not open is the link's to explain.
  w.s.connect(nullptr, "7");
  w.s.run(20000);
  EXPECT_TRUE(w.offers.empty());
}

TEST(ConnectChecklist, ListsWhatToCheckForTheTypeAndPortWithTheSystemsPorts) {
  ChecklistContext ctx{{{"/dev/ttyUSB0", "FT232R USB UART", "0403:6001", "FTDI FT232R", 16},
                        {"/dev/ttyS0", "", "", "", 0}},
                       "Check the adapter from here."};
  const ConnectChecklist c = BuildConnectChecklist(*FindEcuType("16m"), "/dev/ttyUSB0", ctx);
  EXPECT_EQ(c.heading,
            "No wake-up burst from the ECU on /dev/ttyUSB0 within 5 s. Check, in this order:");
  std::vector<std::string> titles;
  for (const auto& i : c.items) titles.push_back(i.title);
  EXPECT_THAT(titles, ElementsAre("The ignition is on", "The adapter's K-line side has power",
                                  "The ECU type: 16m is selected", "The port: /dev/ttyUSB0",
                                  "The cable on the diagnostic connector"));
  EXPECT_THAT(c.items[1].lines, Contains("Check the adapter from here."));
  // The selected type first, then each other one, one line each.
  EXPECT_EQ(c.items[2].lines.size(), EcuTypes().size());
  EXPECT_THAT(c.items[2].lines[0], StartsWith("16m: at 1200 baud the ECU sends a wake-up burst"));
  EXPECT_THAT(c.items[3].lines,
              ElementsAre("The serial ports the system sees now:",
                          "  /dev/ttyUSB0  FT232R USB UART  (USB 0403:6001)  FTDI FT232R, latency "
                          "timer 16 ms (slow: see klinediag-cli check-adapter --fix)",
                          "  /dev/ttyS0"));
  EXPECT_THAT(c.text(), HasSubstr("\n  5. The cable on the diagnostic connector\n     The K-line "
                                  "wire to the connector's K-line pin, ground to ground, 12 V"));

  // The types without a burst wait for an answer; the simulated ECU and no port at all say so.
  const ConnectChecklist p8 = BuildConnectChecklist(*FindEcuType("p8-sensor"), "sim", {});
  EXPECT_EQ(p8.heading, "No answer from the ECU on sim within 5 s. Check, in this order:");
  EXPECT_THAT(p8.items[2].lines[0], HasSubstr("each sensor is asked for on its own"));
  EXPECT_THAT(p8.items[3].lines[0], StartsWith("sim is the built-in simulated ECU"));
  EXPECT_THAT(p8.items[3].lines[1], StartsWith("The system sees no serial port now"));
  EXPECT_THAT(BuildConnectChecklist(*FindEcuType("15rc"), "3", {}).heading,
              StartsWith("No answer from the ECU on 3"));
}

TEST(ConnectChecklist, SaysHowEachTypeWakesInItsOwnWords) {
  std::vector<std::string> lines;
  for (const EcuTypeInfo& t : EcuTypes()) lines.push_back(WakeUpLine(t));
  EXPECT_THAT(
      lines,
      ElementsAre("15m: at 1200 baud the ECU sends a wake-up burst when the ignition comes on; "
                  "klinediag answers it, then talks at 7812 baud.",
                  "15Rc: no burst to wait for; klinediag sends the wake-up answer at once at 1200 "
                  "baud, then talks at 7812 baud.",
                  "16m: at 1200 baud the ECU sends a wake-up burst when the ignition comes on; "
                  "klinediag answers it, then talks at 7812 baud.",
                  "P8: no wake-up; the line goes to 7812 baud at once and the live values are "
                  "asked for.",
                  "P8-sensor: no wake-up; the line goes to 7812 baud at once and each sensor is "
                  "asked for on its own."));
}
