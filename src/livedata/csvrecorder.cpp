#include "livedata/csvrecorder.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "livedata/channels.h"
#include "livedata/numbers.h"
#include "livedata/recording.h"
#include "livedata/utcoffset.h"
#include "serial/filepath.h"

namespace kline {

WallTime CsvRecorder::SystemTime() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  WallTime t;
  t.msSinceEpoch = duration_cast<milliseconds>(now.time_since_epoch()).count();
  t.utcOffsetMinutes = UtcOffsetMinutes(system_clock::to_time_t(now));
  return t;
}

std::string CsvRecorder::IsoTime(WallTime t) {
  using namespace std::chrono;
  const int64_t localMs = t.msSinceEpoch + int64_t{t.utcOffsetMinutes} * 60000;
  const sys_days day = floor<days>(sys_time<milliseconds>(milliseconds(localMs)));
  const year_month_day ymd(day);
  const int64_t msOfDay = localMs - duration_cast<milliseconds>(day.time_since_epoch()).count();
  const int off = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03d%c%02d:%02d",
                static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()), static_cast<int>(msOfDay / 3600000),
                static_cast<int>(msOfDay / 60000 % 60), static_cast<int>(msOfDay / 1000 % 60),
                static_cast<int>(msOfDay % 1000), t.utcOffsetMinutes < 0 ? '-' : '+', off / 60,
                off % 60);
  return buf;
}

std::string CsvRecorder::Number(const std::string& text) {
  if (!FieldValue(text)) return {};
  // As the field writes it (".62" stays ".62"), with "." for the window's decimal mark.
  const std::size_t b = text.find_first_not_of(" \t");
  std::string s = text.substr(b, text.find_last_not_of(" \t") + 1 - b);
  const char sep = DecimalSeparator();
  for (char& c : s)
    if (c == sep) c = '.';
  return s.find_first_of("0123456789") == std::string::npos ? "0" : s;
}

std::string CsvRecorder::Header() {
  return RecordingHeader();
}

std::string CsvRecorder::open(const std::string& path) {
  close();
  error_.clear();
  rows_ = 0;
  out_.open(PathFromUtf8(path), std::ios::binary | std::ios::trunc);
  if (!out_) {
    std::string why = std::strerror(errno);
    out_ = std::ofstream();
    return "cannot write " + path + ": " + why;
  }
  path_ = path;
  out_ << kUtf8Bom << Header() << "\r\n";
  out_.flush();
  if (!out_) {
    std::string why = std::strerror(errno);
    close();
    return "cannot write " + path + ": " + why;
  }
  return {};
}

void CsvRecorder::close() {
  if (out_.is_open()) out_.close();
}

void CsvRecorder::row(const ev::LiveCycle& cycle) {
  if (!out_.is_open()) return;
  const WallTime wall = cycle.wall.msSinceEpoch != 0 ? cycle.wall : clock_();
  std::string line = std::to_string(cycle.lineMs) + "," + IsoTime(wall);
  for (const ev::ChannelReading& c : cycle.channels) line += "," + Number(c.text);
  out_ << line << "\r\n";
  out_.flush();
  if (!out_) {
    error_ = "recording to " + path_ + " stopped: the file could not be written (" +
             std::strerror(errno) + ")";
    close();
    return;
  }
  ++rows_;
}

void CsvRecorder::onEvent(const SessionEvent& e) {
  if (const auto* c = std::get_if<ev::LiveCycle>(&e); c && c->completed) row(*c);
}

}  // namespace kline
