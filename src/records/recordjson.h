#pragma once

// The records as JSON, one shape for every output that prints them (`records ... --json`,
// `records export`): snake_case keys, times as ISO 8601 with the offset (null when none), and
// text that is not UTF-8 with each invalid byte replaced by U+FFFD, so that any dump() of the
// result works; the file keeps the bytes as given. Any thread.
#include <nlohmann/json_fwd.hpp>

#include "records/records.h"
#include "records/visitcompare.h"

namespace kline::records {

nlohmann::json ToJson(const Bike& b);
nlohmann::json ToJson(const Visit& v);
nlohmann::json ToJson(const VisitSummary& v);
nlohmann::json ToJson(const Comparison& c);

}  // namespace kline::records
