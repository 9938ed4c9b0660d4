// Which actuator actions ask before they act, and what the question says.
#include <gtest/gtest.h>

#include "actuators/actionguard.h"
#include "actuators/testlist.h"

using namespace kline;

namespace {

ev::LiveCycle cycleAt(const char* rpmText, std::optional<double> rpm) {
  ev::LiveCycle c;
  c.completed = true;
  c.channels[0] = {true, rpm, rpmText};
  return c;
}

ev::ReadoutDone faults(std::vector<std::string> lines, std::vector<bool> flags) {
  ev::ReadoutDone r;
  r.readout.kind = ReadoutKind::Faults;
  r.readout.lines = std::move(lines);
  r.readout.fault = std::move(flags);
  return r;
}

}  // namespace

// The clearing code differs by ECU type: 83 on 15m and before any type is chosen, 84 on 16m,
// while P8's 83 fires a coil; the test window sends 0x83 or 0x84 by group, and its custom code
// clears when it is that group's clearing code.
TEST(ActionGuard, ClearingActionsComeFromTheTables) {
  EXPECT_TRUE(TestListEntryClearsFaults("83 Clear DTC"));
  EXPECT_TRUE(TestListEntryClearsFaults("83 clear DTC"));
  EXPECT_TRUE(TestListEntryClearsFaults("84 Clear DTC"));
  EXPECT_FALSE(TestListEntryClearsFaults("83 Coil 2"));
  EXPECT_FALSE(TestListEntryClearsFaults("83 Coil V"));
  EXPECT_FALSE(TestListEntryClearsFaults("80 fuel pump"));

  const struct {
    int button;
    bool codesA;
    const char* custom;
    bool clears;
  } rows[] = {{7, true, "", true},     {7, false, "", true},    {1, true, "83", false},
              {8, true, "83", true},   {8, true, " 83 ", true}, {8, false, "84", true},
              {8, false, "83", false}, {8, true, "84", false},  {8, true, "8x", false},
              {8, true, "083", false}, {6, false, "", false}};
  for (const auto& r : rows)
    EXPECT_EQ(TestButtonClearsFaults(r.button, r.codesA, r.custom), r.clears)
        << r.button << " " << r.codesA << " '" << r.custom << "'";
}

TEST(ActionGuard, AsksBeforeClearingAndWhileTheEngineTurns) {
  ActionGuard g;
  // Nothing reaches the ECU without a session: nothing asks.
  EXPECT_FALSE(g.check("83 Clear DTC", true).ask);
  g.onEvent(ev::Connecting{"sim", "15m"});
  EXPECT_FALSE(g.check("80 fuel pump", false).ask);

  ActionGuard::Question q = g.check("83 Clear DTC", true);
  EXPECT_TRUE(q.ask);
  EXPECT_TRUE(q.clearsFaults);
  EXPECT_NE(q.text.find("\"83 Clear DTC\""), std::string::npos) << q.text;
  EXPECT_NE(q.faults.find("No fault readout this session"), std::string::npos) << q.faults;

  // Only the lines that report a fault are listed.
  g.onEvent(faults({"throttle sensor", "all fine"}, {true, false}));
  q = g.check("83 Clear DTC", true);
  EXPECT_EQ(q.faults, "Faults last read:\nthrottle sensor");
  g.onEvent(faults({"no error"}, {false}));
  EXPECT_EQ(g.check("83 Clear DTC", true).faults, "The last fault readout found no fault.");

  // The engine speed of the latest cycle that had one.
  g.onEvent(cycleAt("0", 0.0));
  EXPECT_FALSE(g.check("Fuel pump", false).ask);
  g.onEvent(cycleAt("1100", 1100.0));
  g.onEvent(cycleAt("", std::nullopt));
  q = g.check("Fuel pump", false);
  EXPECT_TRUE(q.ask);
  EXPECT_FALSE(q.clearsFaults);
  EXPECT_EQ(q.text, "The engine turns at 1100 tr/m: run Fuel pump anyway?");
  EXPECT_NE(g.check("Clear DTC errors", true).text.find("The engine turns at 1100 tr/m."),
            std::string::npos);

  // A new connection knows no engine speed yet, and the faults read belong to the one before.
  g.onEvent(ev::Connecting{"sim", "15m"});
  EXPECT_FALSE(g.check("Fuel pump", false).ask);
  EXPECT_NE(g.check("83 Clear DTC", true).faults.find("earlier connection"), std::string::npos);
  g.onEvent(ev::Disconnected{});
  EXPECT_FALSE(g.check("83 Clear DTC", true).ask);
}
