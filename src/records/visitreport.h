#pragma once

// A stored visit's report: the same page the session's "Report…" made, from what the records
// kept of it. Any thread.
#include <cstdint>
#include <optional>
#include <string>

#include "records/recordstore.h"
#include "session/sessionreport.h"

namespace kline::records {

// A wall time as the local time it was taken at: "2026-03-14 16:20:31" with the date, "16:20:31"
// without.
std::string FormatWallTime(const WallTime& t, bool withDate = true);

// The bike of a visit for the report's head: its name, registration and owner, and the mileage
// typed for the visit.
ReportBike BikeForReport(const Bike& b, const Visit& v);

// Feeds a stored visit to `report` as the session fed it: the connection, the identification,
// the latest readout of each kind with its time, the tests with their verdicts, the trimmer and
// CO regulation set, the channels' ranges, and the bike when given.
void FillReport(const Visit& v, SessionReport& report, const std::optional<Bike>& bike = {});

// The visit's report as HTML, dated by the visit's start.
std::string VisitReportHtml(const Visit& v, const std::optional<Bike>& bike = {});

// The bike of `visit` in the records file at `path`, read as the report is written; none when
// there are no records, no such visit, or the file cannot be read (the report goes without).
std::optional<ReportBike> ReportBikeOf(const std::string& path, int64_t visit);

}  // namespace kline::records
