// The fault watch on virtual time against the simulated ECU: which readouts it recognises, the
// lines it marks as faults and the time it gives them.
#include <gtest/gtest.h>

#include "diagnosis/faulttexts.h"
#include "diagnosis/faultwatch.h"
#include "diagnosis/form3.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;

namespace {

struct Watched {
  explicit Watched(std::map<uint8_t, uint8_t> answers, std::set<uint8_t> silent = {})
      : s([&] {
          SimConfig c;
          c.burst = SimConfig::DefaultBurst();
          c.answers = std::move(answers);
          c.silent = std::move(silent);
          return c;
        }()) {
    s.sinks.add(&watch);
    s.connect();
    s.run(1500);
  }
  std::vector<std::string> click(const char* ctl) {
    const auto before = s.rec.logLines().size();
    s.form->ctl.userClick(ctl);
    auto all = s.rec.logLines();
    return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
  }
  SimSession s;
  std::vector<Readout> heard;
  FaultWatch watch{[this] { return static_cast<uint32_t>(s.host.now()); },
                   [this](const Readout& r) { heard.push_back(r); }};
};

}  // namespace

TEST(FaultWatch, DecodingHelpers) {
  // Every bit of the first byte names a fault, five of the second (0x01, 0x04, 0x08, 0x40, 0x80),
  // whichever other bits are set with them.
  for (unsigned v = 0; v < 256; ++v) {
    const auto b = static_cast<uint8_t>(v);
    EXPECT_EQ(FaultStored(b, 0, 0), v != 0) << v;
    EXPECT_EQ(FaultStored(0, b, 0), (v & 0xCD) != 0) << v;
  }
  const auto flags = FaultLineFlags(FaultLines(0x10, 0x80, 0x40));
  ASSERT_EQ(flags.size(), 13u);
  for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(flags[i], i == 4 || i == 12) << i;
  EXPECT_EQ(FaultLineFlags(FaultLines(0, 0, 0)), std::vector<bool>(13, false));
}

TEST(FaultWatch, FaultAndImmobiliserReadoutsAgainstTheSimulatedEcu) {
  Watched w({{0x0F, 0x02}, {0x10, 0x04}, {0x11, 0x01}, {0x71, 0x81}, {0x72, 0x00}});
  EXPECT_TRUE(w.heard.empty());  // the poll loop alone is no readout
  const auto lines = w.click("Command11");
  ASSERT_EQ(lines.size(), 13u);
  ASSERT_TRUE(w.watch.faults());
  const Readout& f = *w.watch.faults();
  EXPECT_EQ(f.lines, lines);
  EXPECT_EQ(f.lines[1], "Maximum lean");
  EXPECT_EQ(f.lines[9], "Eprom Fault");
  for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(f.fault[i], i == 1 || i == 9) << i;
  EXPECT_EQ(f.bytes, (std::array<uint8_t, 3>{0x02, 0x04, 0x01}));
  EXPECT_TRUE(f.faultStored);
  EXPECT_EQ(f.time, static_cast<uint32_t>(w.s.host.now()));

  const auto immo = w.click("Command2");
  ASSERT_TRUE(w.watch.immobiliser());
  EXPECT_EQ(w.watch.immobiliser()->lines, immo);
  EXPECT_EQ(immo, (std::vector<std::string>{"Virgin ECU", "No code received or link interrupted"}));
  EXPECT_EQ(w.watch.immobiliser()->fault, std::vector<bool>(2, true));
  w.click("Command3");
  ASSERT_TRUE(w.watch.immobiliser2());
  EXPECT_TRUE(w.watch.immobiliser2()->lines.empty());
  EXPECT_FALSE(w.watch.immobiliser2()->faultStored);
  ASSERT_EQ(w.heard.size(), 3u);
  EXPECT_EQ(w.heard[2].kind, ReadoutKind::Immobiliser2);
}

TEST(FaultWatch, TwoBitsInOneByteAndASilentEcu) {
  // The crankshaft bit with one no line decodes: the readout shows nothing, the fault is stored.
  Watched w({{0x0F, 0x00}, {0x10, 0x82}, {0x11, 0x00}});
  w.click("Command11");
  ASSERT_TRUE(w.watch.faults());
  EXPECT_FALSE(w.watch.faults()->anyFaultLine());
  EXPECT_TRUE(w.watch.faults()->faultStored);

  // A readout the ECU leaves unanswered ends without a line: nothing is heard.
  Watched silent({}, {0x10, 0x71});
  silent.click("Command11");
  silent.click("Command2");
  EXPECT_FALSE(silent.watch.faults());
  EXPECT_FALSE(silent.watch.immobiliser());
  EXPECT_TRUE(silent.heard.empty());
}

TEST(FaultWatch, KeepsTheMainWindowsReadoutsThroughTheLoopsStopsAndTheDiagWindowsReadouts) {
  Watched w({{0x0F, 0x02}, {0x10, 0x04}, {0x11, 0x01}, {0x71, 0x81}});
  w.click("Command2");
  // A test from the list stops the loop; while it waits for its verdict the user reads the
  // faults, which stops the loop again and restarts it before the test ends.
  const uint64_t t = w.s.host.now();
  std::vector<std::string> lines;
  w.s.host.schedule(t + 1000, [&] { lines = w.click("Command11"); });
  w.s.form->ctl.userSetValue("List1", 0);
  w.s.run(8000);
  ASSERT_EQ(lines.size(), 13u);
  ASSERT_EQ(w.heard.size(), 2u);
  ASSERT_TRUE(w.watch.faults());
  const Readout faults = *w.watch.faults();
  EXPECT_EQ(faults.lines, lines);
  EXPECT_EQ(faults.bytes, (std::array<uint8_t, 3>{0x02, 0x04, 0x01}));
  EXPECT_TRUE(faults.faultStored);
  EXPECT_GT(faults.time, t + 1000);
  // The Diag window reads the same bytes and more into readouts of its own: they are no fault
  // readout, and the stops and restarts around them change nothing.
  w.click("Diag");
  for (const char* b : {"Command4", "Command5", "Command6", "Command1", "Command7", "Command3",
                        "Command2", "Command10", "Command9", "Command8"})
    w.s.form->form3().ctl.userClick(b);
  w.s.form->form3().ctl.userClick("back");
  w.s.run(3000);
  EXPECT_EQ(w.heard.size(), 2u);
  ASSERT_TRUE(w.watch.faults());
  EXPECT_EQ(w.watch.faults()->lines, faults.lines);
  EXPECT_EQ(w.watch.faults()->time, faults.time);
  ASSERT_TRUE(w.watch.immobiliser());
  EXPECT_EQ(w.watch.immobiliser()->bytes[0], 0x81);
  EXPECT_FALSE(w.watch.immobiliser2());
}
