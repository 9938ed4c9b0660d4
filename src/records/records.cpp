#include "records/records.h"

#include <ctime>

namespace kline::records {

const char* SettingName(Setting s) {
  return s == Setting::Trimmer ? "trimmer" : "co_regulation";
}

const char* FileKindName(FileKind k) {
  switch (k) {
    case FileKind::Recording:
      return "recording";
    case FileKind::Report:
      return "report";
    case FileKind::Log:
      return "log";
  }
  return "log";
}

std::string WallTimeText(WallTime t, const char* format) {
  const std::time_t s =
      static_cast<std::time_t>(t.msSinceEpoch / 1000 + int64_t{t.utcOffsetMinutes} * 60);
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &s);
#else
  gmtime_r(&s, &tm);
#endif
  char buf[64];
  return std::strftime(buf, sizeof buf, format, &tm) ? buf : "";
}

bool JoinsVisit(WallTime last, WallTime now, int hours) {
  if (hours <= 0) return false;
  constexpr int64_t kDayMs = 86400000;
  auto localDay = [](WallTime t) {
    const int64_t local = t.msSinceEpoch + int64_t{t.utcOffsetMinutes} * 60000;
    return local >= 0 ? local / kDayMs : (local - kDayMs + 1) / kDayMs;
  };
  if (localDay(last) == localDay(now)) return true;
  return now.msSinceEpoch - last.msSinceEpoch <= int64_t{hours} * 3600000;
}

}  // namespace kline::records
