#include <chrono>

#include "livedata/utcoffset.h"

namespace kline {

namespace {

// Seconds from 1970-01-01 to the calendar time in `t`, read as UTC.
long long asUtcSeconds(const std::tm& t) {
  using namespace std::chrono;
  const sys_days d = year(t.tm_year + 1900) / month(static_cast<unsigned>(t.tm_mon + 1)) /
                     day(static_cast<unsigned>(t.tm_mday));
  return d.time_since_epoch().count() * 86400LL + t.tm_hour * 3600LL + t.tm_min * 60LL + t.tm_sec;
}

}  // namespace

int UtcOffsetMinutes(std::time_t when) {
  // The system has no offset field: the local and the UTC calendar times of the same moment
  // differ by it.
  std::tm local{}, utc{};
  if (localtime_s(&local, &when) != 0 || gmtime_s(&utc, &when) != 0) return 0;
  return static_cast<int>((asUtcSeconds(local) - asUtcSeconds(utc)) / 60);
}

}  // namespace kline
