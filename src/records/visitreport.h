#pragma once

// A stored visit's report: the same page the session's "Report…" made, from what the records
// kept of it. Any thread.
#include <string>

#include "records/recordstore.h"
#include "session/sessionreport.h"

namespace kline::records {

// A wall time as the local time it was taken at: "2026-03-14 16:20:31" with the date, "16:20:31"
// without.
std::string FormatWallTime(const WallTime& t, bool withDate = true);

// Feeds a stored visit to `report` as the session fed it: the connection, the identification,
// the latest readout of each kind with its time, the tests with their verdicts and the channels'
// ranges.
void FillReport(const Visit& v, SessionReport& report);

// The visit's report as HTML, dated by the visit's start.
std::string VisitReportHtml(const Visit& v);

}  // namespace kline::records
