#pragma once

#include <cstdint>
#include <fstream>
#include <string>

#include "ui/controlmodel.h"

namespace kline {

// Records the live values to a CSV file: one row per completed live cycle, the ms since connect
// and then the text of each channel's field, the 15Rc throttle voltage last. Fields are quoted
// where a spreadsheet needs it (separators, quotes, leading blanks as in " ----").
// Used on the session thread, from the live-cycle hook of the main window.
class CsvRecorder {
 public:
  // Creates or empties the file and writes the header; on failure returns why and stays closed.
  std::string open(const std::string& path);
  void close();
  bool isOpen() const { return out_.is_open(); }
  const std::string& path() const { return path_; }
  // Appends a row from the main window's fields; a write that fails closes the file and leaves
  // the reason in error().
  void row(uint32_t msSinceConnect, const ControlModel& form2);
  // The live-cycle hook's call: a row for a completed cycle only, since a cycle abandoned at a
  // silent channel leaves the fields after it holding the previous cycle's values.
  void cycle(uint32_t msSinceConnect, bool completed, const ControlModel& form2);
  const std::string& error() const { return error_; }
  int rows() const { return rows_; }

  static std::string Quote(const std::string& field);

 private:
  std::ofstream out_;
  std::string path_;
  std::string error_;
  int rows_ = 0;
};

}  // namespace kline
