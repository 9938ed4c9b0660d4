// The session report on virtual time against the simulated ECU: what it holds after a session of
// live cycles, a fault readout and a test, and the HTML it makes of that.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "actuators/form1.h"
#include "diagnosis/faultwatch.h"
#include "session/sessionreport.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(SessionReport, SessionAgainstTheSimulatedEcu) {
  SimConfig cfg;
  cfg.burst = SimConfig::DefaultBurst();
  cfg.answers = {{0x0F, 0x20}, {0x10, 0x00}, {0x11, 0x00}, {0x71, 0x04}};
  SimSession s(cfg);
  const SessionReport& report = s.core->report();
  s.connect();
  s.run(3000);
  s.form->ctl.userClick("Command11");
  s.form->ctl.userClick("Command2");
  s.form->ctl.userSetValue("List1", 0);
  s.run(40000);
  // The fuel pump from the test window as well.
  s.form->ctl.userClick("test");
  s.run(2000);
  s.form->form1().ctl.userClick("Command1");
  s.run(40000);

  EXPECT_EQ(report.port(), "sim");
  EXPECT_FALSE(report.identity().identification.empty());
  ASSERT_EQ(report.tests().size(), 2u);
  EXPECT_EQ(report.tests()[0].name, "80 fuel pump");
  EXPECT_EQ(report.tests()[0].window, "Form2");
  EXPECT_EQ(report.tests()[0].shown, s.form->ctl.caption("Label5"));
  EXPECT_EQ(report.tests()[0].verdict, ev::Verdict::Passed);
  EXPECT_EQ(report.tests()[1].name, "Fuel pump");
  EXPECT_EQ(report.tests()[1].window, "Form1");
  EXPECT_EQ(report.tests()[1].shown, "Test finish");
  const auto stats = report.channels();
  ASSERT_FALSE(stats.empty());
  for (const auto& c : stats) EXPECT_FALSE(c.minText.empty());

  const std::string html = report.html("2026-12-06 17:00:00");
  EXPECT_THAT(html, HasSubstr("2026-12-06 17:00:00"));
  EXPECT_THAT(html, HasSubstr("&#9888; FAULT</td><td class=\"fault\">Lambda sensor Faulty"));
  EXPECT_THAT(html, HasSubstr("&#10003; OK</td><td>Icv OK"));
  EXPECT_THAT(html, HasSubstr("Erroneous keycode"));
  EXPECT_THAT(html, HasSubstr("<td>80 fuel pump</td><td>main window</td><td class=\"ok\">OK"));
  EXPECT_THAT(html, HasSubstr("<td>Fuel pump</td><td>Tests</td><td class=\"ok\">Test finish"));
  EXPECT_THAT(html, HasSubstr(stats[0].meanText));
  EXPECT_THAT(html, HasSubstr("Immobiliser state 2</h3>\n<p>Not read"));
}

TEST(SessionReport, EscapesWhatCameFromTheLineAndTheUser) {
  SessionReport r;
  r.onEvent(ev::Connecting{"<b>&", "15m"});
  ev::EcuIdentified id;
  id.identification = "<img src=x>";
  id.ecu = "15m";
  r.onEvent(id);
  r.onEvent(ev::TestStarted{"Form1", "Custom code <u>", 0x80});
  const std::string html = r.html("d");
  EXPECT_THAT(html, HasSubstr("&lt;b&gt;&amp;"));
  EXPECT_THAT(html, HasSubstr("&lt;img src=x&gt;"));
  EXPECT_THAT(html, HasSubstr("Custom code &lt;u&gt;"));
  EXPECT_THAT(html, Not(HasSubstr("<img")));
}

TEST(SessionReport, WhatWasReadOffABabblingLineIsNotGivenATick) {
  SessionReport r;
  ev::EcuIdentified id;
  id.identification = "\xC3\xBF\xC3\xBF";
  id.trusted = false;
  r.onEvent(id);
  Readout faults;
  faults.lines = {"Icv OK", "Knock OK"};
  faults.fault = {false, false};
  faults.trusted = false;
  r.onEvent(ev::ReadoutDone{faults});
  Readout immo;
  immo.kind = ReadoutKind::Immobiliser;
  r.onEvent(ev::ReadoutDone{immo});
  const std::string html = r.html("d");
  EXPECT_THAT(html, HasSubstr("Not trustworthy: the line carried bytes nobody asked for"));
  EXPECT_THAT(html, HasSubstr("while it read the identification"));
  EXPECT_THAT(html, HasSubstr("while it read this readout"));
  EXPECT_THAT(html, HasSubstr("? not trustworthy</td><td>Icv OK"));
  // A trusted readout beside it keeps its tick.
  EXPECT_THAT(html, HasSubstr("&#10003; No state bit set"));
  EXPECT_THAT(html, Not(HasSubstr("&#10003; OK")));
}
