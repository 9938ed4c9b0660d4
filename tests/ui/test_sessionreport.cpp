// The session report on virtual time against the simulated ECU: what it holds after a session of
// live cycles, a fault readout and a test, and the HTML it makes of that.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "diagnosis/faultwatch.h"
#include "support/simsession.h"
#include "ui/numbers.h"
#include "ui/sessionreport.h"

using namespace kline;
using namespace kline::test;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(SessionReport, ChannelStatisticsKeepTheWindowsTexts) {
  // A window that shows "12,50" uses the decimal comma.
  SetDecimalSeparator(',');
  struct Restore {
    ~Restore() { SetDecimalSeparator('.'); }
  } restore;
  SessionReport r;
  auto set = [&](const char* ctl, Prop p, PropValue v) { r.onSet("Form2", ctl, p, v); };
  set("Check1(0)", Prop::Caption, std::string("Rpm"));
  set("Label3(0)", Prop::Caption, std::string("tr/m"));
  set("Check1(0)", Prop::Value, 1);
  set("Check1(1)", Prop::Value, 1);
  set("Check1(2)", Prop::Value, 0);
  for (const char* v : {" 1200", " 980", " 1410"}) {
    set("Text1(0)", Prop::Text, std::string(v));
    set("Text1(1)", Prop::Text, std::string(v[1] == '9' ? " ----" : "12,50"));
    set("Text1(2)", Prop::Text, std::string("7"));  // not ticked
    r.cycleCompleted();
  }
  set("Text1(1)", Prop::Text, std::string("13,1"));
  r.cycleCompleted();
  const auto c = r.channels();
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].name, "Rpm");
  EXPECT_EQ(c[0].unit, "tr/m");
  EXPECT_EQ(c[0].count, 4u);
  EXPECT_EQ(c[0].min, "980");
  EXPECT_EQ(c[0].max, "1410");
  EXPECT_EQ(c[0].mean, "1250");  // the last cycle counts 1410 again
  EXPECT_EQ(c[1].count, 3u);     // " ----" is no number
  EXPECT_EQ(c[1].min, "12,50");
  EXPECT_EQ(c[1].max, "13,1");
  EXPECT_EQ(c[1].mean, "12,70");
}

TEST(SessionReport, SessionAgainstTheSimulatedEcu) {
  SimConfig cfg;
  cfg.burst = SimConfig::DefaultBurst();
  cfg.answers = {{0x0F, 0x20}, {0x10, 0x00}, {0x11, 0x00}, {0x71, 0x04}};
  SimSession s(cfg);
  SessionReport report;
  FaultWatch watch([&] { return static_cast<uint32_t>(s.host.now()); },
                   [&](const Readout& r) { report.setReadout(r, "t=" + std::to_string(r.time)); });
  s.sinks.add(&report);
  s.sinks.add(&watch);
  // What the window wrote at load, before the report listened, as a snapshot gives it.
  for (const auto& [name, c] : s.form->ctl.all()) {
    report.onSet("Form2", name, Prop::Caption, c.caption);
    report.onSet("Form2", name, Prop::Value, c.value);
    if (!c.items.empty()) report.onSet("Form2", name, Prop::Items, c.items);
  }
  s.connect();
  int cycles = 0;
  auto inner = s.form->onLiveCycle;
  s.form->onLiveCycle = [&](uint32_t ms, bool completed) {
    if (inner) inner(ms, completed);
    if (completed) {
      report.cycleCompleted();
      ++cycles;
    }
  };
  s.run(3000);
  ASSERT_GT(cycles, 3);
  s.form->ctl.userClick("Command11");
  s.form->ctl.userClick("Command2");
  s.form->ctl.userSetValue("List1", 0);
  s.run(40000);

  EXPECT_EQ(report.port(), "sim");
  EXPECT_FALSE(report.infoValue("ecu data").empty());
  ASSERT_EQ(report.tests().size(), 1u);
  EXPECT_EQ(report.tests()[0].name, s.form->ctl.get("List1").items[0]);
  EXPECT_EQ(report.tests()[0].verdict, s.form->ctl.caption("Label5"));
  EXPECT_FALSE(report.tests()[0].verdict.empty());
  const auto stats = report.channels();
  ASSERT_FALSE(stats.empty());
  for (const auto& c : stats) {
    EXPECT_GE(c.count, static_cast<std::size_t>(cycles)) << c.name;
    EXPECT_FALSE(c.min.empty());
  }

  const std::string html = report.html("2026-12-06 17:00:00");
  EXPECT_THAT(html, HasSubstr("2026-12-06 17:00:00"));
  EXPECT_THAT(html, HasSubstr("Lambda sensor Faulty"));
  EXPECT_THAT(html, HasSubstr("&#9888; FAULT</td><td class=\"fault\">Lambda sensor Faulty"));
  EXPECT_THAT(html, HasSubstr("&#10003; OK</td><td>Icv OK"));
  EXPECT_THAT(html, HasSubstr("Erroneous keycode"));
  EXPECT_THAT(html, HasSubstr(">" + report.tests()[0].verdict + "</td>"));
  EXPECT_THAT(html, HasSubstr(stats[0].mean));
  EXPECT_THAT(html, HasSubstr("Immobiliser state 2</h3>\n<p>Not read"));
  EXPECT_THAT(html, Not(HasSubstr("<script")));
}

TEST(SessionReport, EscapesTheWindowsTexts) {
  SessionReport r;
  r.onSet("Form2", "Text6", Prop::Text, std::string("<b>&"));
  EXPECT_THAT(r.html("d"), HasSubstr("&lt;b&gt;&amp;"));
}
