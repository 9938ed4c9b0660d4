// The fault watch on virtual time against the simulated ECU: which readouts it recognises, the
// lines it marks as faults and the time it gives them.
#include <gtest/gtest.h>

#include "diagnosis/faulttexts.h"
#include "diagnosis/faultwatch.h"
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
  EXPECT_FALSE(FaultStored(0, 0, 0));
  EXPECT_TRUE(FaultStored(0x02, 0, 0));
  EXPECT_TRUE(FaultStored(0x03, 0, 0));  // two bits: no line shows them, both are stored
  EXPECT_TRUE(FaultStored(0, 0x40, 0));
  EXPECT_FALSE(FaultStored(0, 0x02, 0));  // a bit no line decodes
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

  // The poll loop runs on: its exchanges and log lines change nothing.
  w.s.run(3000);
  EXPECT_EQ(w.heard.size(), 3u);
}

TEST(FaultWatch, TwoBitsInOneByteAndASilentEcu) {
  Watched w({{0x0F, 0x03}, {0x10, 0x00}, {0x11, 0x00}});
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
