#include "records/visitreport.h"

#include <chrono>
#include <cstdio>

namespace kline::records {

std::string FormatWallTime(const WallTime& t, bool withDate) {
  using namespace std::chrono;
  const sys_time<milliseconds> local{
      milliseconds(t.msSinceEpoch + static_cast<int64_t>(t.utcOffsetMinutes) * 60000)};
  const auto day = floor<days>(local);
  const year_month_day ymd{day};
  const hh_mm_ss<seconds> hms{floor<seconds>(local - day)};
  char buf[40];
  if (withDate)
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
  else
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(hms.hours().count()),
                  static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count()));
  return buf;
}

void FillReport(const Visit& v, SessionReport& report) {
  report.onEvent(ev::Connecting{v.begun.port, v.begun.ecu});
  ev::EcuIdentified id;
  id.isoCode = v.key.isoCode;
  id.identification = v.key.identification;
  id.calibration = v.key.calibration;
  id.ecu = v.key.ecu.empty() ? v.begun.ecu : v.key.ecu;
  id.trusted = v.begun.identityTrusted;
  report.onEvent(id);
  for (const ReadoutRecord& r : v.readouts)
    if (r.readout.kind != ReadoutKind::Diag)
      report.setReadout(r.readout, FormatWallTime(r.at, false));
  for (const TestRecord& t : v.tests) {
    report.onEvent(ev::TestStarted{t.window, t.name, t.code});
    report.onEvent(ev::TestEnded{t.window, t.name, t.verdict, t.shown});
  }
  std::vector<ChannelSummary> stats;
  for (const ChannelSummary& c : v.channels)
    if (c.count > 0) stats.push_back(c);
  report.setChannels(std::move(stats));
}

std::string VisitReportHtml(const Visit& v) {
  SessionReport report;
  FillReport(v, report);
  return report.html(FormatWallTime(v.begun.start));
}

}  // namespace kline::records
