#include "livedata/csvrecorder.h"

#include <cerrno>
#include <cstring>

namespace kline {

std::string CsvRecorder::Quote(const std::string& field) {
  bool needs = field.find_first_of(",;\"\r\n") != std::string::npos ||
               (!field.empty() && (field.front() == ' ' || field.back() == ' '));
  if (!needs) return field;
  std::string q = "\"";
  for (char c : field) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string CsvRecorder::open(const std::string& path) {
  close();
  error_.clear();
  rows_ = 0;
  out_.open(path, std::ios::binary | std::ios::trunc);
  if (!out_) {
    std::string why = std::strerror(errno);
    out_ = std::ofstream();
    return "cannot write " + path + ": " + why;
  }
  path_ = path;
  out_ << "time_ms,rpm,inj duration,ign advance,manifold pressure,air temp,water temp,throttle,"
          "battery,trimmer value,throttle voltage\r\n";
  out_.flush();
  if (!out_) {
    close();
    return "cannot write " + path;
  }
  return {};
}

void CsvRecorder::close() {
  if (out_.is_open()) out_.close();
}

void CsvRecorder::row(uint32_t msSinceConnect, const ControlModel& form2) {
  if (!out_.is_open()) return;
  std::string line = std::to_string(msSinceConnect);
  for (int i = 0; i < 10; ++i) line += "," + Quote(form2.text(indexed("Text1", i)));
  out_ << line << "\r\n";
  out_.flush();
  if (!out_) {
    error_ = "recording to " + path_ + " stopped: the file could not be written";
    close();
    return;
  }
  ++rows_;
}

void CsvRecorder::cycle(uint32_t msSinceConnect, bool completed, const ControlModel& form2) {
  if (completed) row(msSinceConnect, form2);
}

}  // namespace kline
