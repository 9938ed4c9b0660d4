// A stored visit's report: its times as the local time they were taken at, and the session
// report's page made from what the records kept.
#include <gtest/gtest.h>

#include "records/visitreport.h"

namespace kline::records {
namespace {

TEST(VisitReport, WallTimesReadAsTheLocalTimeTheyWereTakenAt) {
  const struct {
    WallTime t;
    const char* withDate;
    const char* time;
  } rows[] = {
      {{0, 0}, "1970-01-01 00:00:00", "00:00:00"},
      {{1773500000000, 60}, "2026-03-14 15:53:20", "15:53:20"},
      // West of Greenwich the evening before; east, past midnight.
      {{1773446400000, -300}, "2026-03-13 19:00:00", "19:00:00"},
      {{1773532799999, 120}, "2026-03-15 01:59:59", "01:59:59"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(FormatWallTime(r.t), r.withDate);
    EXPECT_EQ(FormatWallTime(r.t, false), r.time);
  }
}

TEST(VisitReport, IsTheSessionReportOfTheStoredVisit) {
  Visit v;
  v.begun = {{1773500000000, 60}, "COM7", "USB serial", "15m", "0.1.0", false};
  v.key = {"15m", "55A38F", "KL15M-0427", "CAL <1>"};
  Readout faults;
  faults.lines = {"Icv OK", "Throttle sensor Open circuit"};
  faults.fault = {false, true};
  faults.faultStored = true;
  v.readouts = {{faults, {1773500060000, 60}}};
  v.tests = {{"Form2", "80 fuel pump", 0x80, ev::Verdict::Passed, "OK", {1773500070000, 60}}};
  v.channels = {{0, "rpm", "tr/m", 12, 1100, 1500, 1300, "1100", "1500", "1300"}};
  v.changes = {{Setting::Trimmer, 128, 140, {1773500100000, 60}}};
  v.mileage = 12480;
  Bike bike;
  bike.details = {"Red 600", "AB-123", "R. Smith", "notes stay out"};

  // The same page as a session that made these events, about the same bike.
  SessionReport session([] { return std::string("15:55:00"); });
  session.setBike(ReportBike{"Red 600", "AB-123", "R. Smith", 12480});
  session.onEvent(ev::TrimmerSet{128, 140});
  session.onEvent(ev::Connecting{"COM7", "15m"});
  session.onEvent(ev::EcuIdentified{"55A38F", "KL15M-0427", "CAL <1>", "15m", "", false});
  session.setReadout(faults, "15:54:20");
  session.onEvent(ev::TestStarted{"Form2", "80 fuel pump", 0x80});
  session.onEvent(ev::TestEnded{"Form2", "80 fuel pump", ev::Verdict::Passed, "OK"});
  ev::LiveCycle c;
  c.completed = true;
  for (const char* rpm : {"1100", "1500", "1300"}) {
    c.channels[0] = {true, std::stod(rpm), rpm};
    session.onEvent(c);
  }
  // Min, max and mean over three cycles equal the stored ones; the count is the stored 12.
  std::string expected = session.html("2026-03-14 15:53:20");
  const std::string cycles = "<td class=\"num\">3</td>";
  expected.replace(expected.find(cycles), cycles.size(), "<td class=\"num\">12</td>");
  EXPECT_EQ(VisitReportHtml(v, bike), expected);
  EXPECT_NE(expected.find("<td>12480 km</td>"), std::string::npos);
  EXPECT_NE(expected.find("<td>12 (byte 140)</td><td>15:55:00</td>"), std::string::npos);
  EXPECT_NE(expected.find("CAL &lt;1&gt;"), std::string::npos);
}

}  // namespace
}  // namespace kline::records
