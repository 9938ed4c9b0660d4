#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>

#include "ui/eventsink.h"

namespace kline {

// Records the live values to a CSV file: a header `time_ms,time,NAME [UNIT],...`, then one row
// per completed live cycle: the ms since connect, the wall clock in ISO 8601 with milliseconds
// and the UTC offset, and each channel's value (the 15Rc throttle voltage last). Values are
// written with "." as the decimal separator whatever the window shows; a field that holds no
// number (" ----", empty) is an empty field. Every row is flushed when its cycle ends. A cycle
// abandoned at a silent channel gives no row: the fields after it hold the previous cycle's
// values. Observes a session's live cycles (ev::LiveCycle) on the session thread.
class CsvRecorder : public EventSink {
 public:
  using Clock = std::function<WallTime()>;
  // The system's clock and local offset.
  static WallTime SystemTime();

  explicit CsvRecorder(Clock clock = SystemTime) : clock_(std::move(clock)) {}

  // Creates or empties the file and writes the header; on failure returns why and stays closed.
  std::string open(const std::string& path);
  void close();
  bool isOpen() const { return out_.is_open(); }
  const std::string& path() const { return path_; }
  // Appends a row for a cycle, at its wall time (the recorder's clock when it has none); a write
  // that fails closes the file and leaves the reason in error().
  void row(const ev::LiveCycle& cycle);
  // A row for each completed cycle.
  void onEvent(const SessionEvent& e) override;
  const std::string& error() const { return error_; }
  int rows() const { return rows_; }

  // The header line (without its line end).
  static std::string Header();
  // "2026-12-06T16:20:31.123+01:00".
  static std::string IsoTime(WallTime t);
  // A field's text as a CSV number: the window's decimal separator becomes "." and the digits
  // stay as written (".62", "125."); a lone "." (zero in the "##.##" pattern) is "0"; text that
  // is no number is empty.
  static std::string Number(const std::string& text);

 private:
  Clock clock_;
  std::ofstream out_;
  std::string path_;
  std::string error_;
  int rows_ = 0;
};

}  // namespace kline
