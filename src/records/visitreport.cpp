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

ReportBike BikeForReport(const Bike& b, const Visit& v) {
  return {b.details.name, b.details.registration, b.details.owner, v.mileage};
}

void FillReport(const Visit& v, SessionReport& report, const std::optional<Bike>& bike) {
  if (bike) report.setBike(BikeForReport(*bike, v));
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
  for (const ChangeRecord& c : v.changes)
    report.addChange(
        {c.setting == Setting::Trimmer, c.before, c.after, FormatWallTime(c.at, false)});
  std::vector<ChannelSummary> stats;
  for (const ChannelSummary& c : v.channels)
    if (c.count > 0) stats.push_back(c);
  report.setChannels(std::move(stats));
}

std::string VisitReportHtml(const Visit& v, const std::optional<Bike>& bike) {
  SessionReport report;
  FillReport(v, report, bike);
  return report.html(FormatWallTime(v.begun.start));
}

std::optional<ReportBike> ReportBikeOf(const std::string& path, int64_t visit) {
  if (path.empty() || visit == 0) return std::nullopt;
  std::string why;
  const auto store = RecordStore::Open(path, RecordStore::Mode::ReadOnly, why);
  if (!store) return std::nullopt;
  const std::optional<Visit> v = store->visit(visit);
  if (!v) return std::nullopt;
  const std::optional<Bike> b = store->bike(v->bike);
  if (!b) return std::nullopt;
  return BikeForReport(*b, *v);
}

}  // namespace kline::records
