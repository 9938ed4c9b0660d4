#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace kline {

// A channel column of a recording: "rpm [tr/m]" is the name "rpm" and the unit "tr/m".
struct RecordedChannel {
  std::string name;
  std::string unit;
  std::vector<float> values;  // one per good row; NaN = no value
};

// A live-value recording as CsvRecorder writes it, read back.
struct Recording {
  std::vector<uint32_t> timesMs;          // time_ms of each good row
  std::vector<RecordedChannel> channels;  // one per channel column, in file order
  std::size_t skipped = 0;                // rows not used
  std::size_t firstBadLine = 0;           // 1-based line number of the first skipped row (0: none)
  std::string skipReason;                 // why that row was skipped
  // The file is not a recording of ours or cannot be read, without the file's name (empty: fine).
  std::string error;
  // "1200 rows; 3 skipped, the first at line 17: a bad number in \"rpm [tr/m]\"", or empty when
  // nothing was skipped.
  std::string skipLine() const;
};

// What a recording starts with: it tells a spreadsheet that the file is UTF-8 (the units hold a
// degree sign), which Windows spreadsheets otherwise read in the ANSI code page.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The longest line kept; a longer row is skipped without being held whole, a longer first line
// refuses the file.
inline constexpr std::size_t kMaxRecordingLine = 64 * 1024;

// The most channel columns read. A recording of ours has kLiveChannelCount; a file with more
// than this is refused: every row holds 4 bytes per channel, however short its fields are.
inline constexpr std::size_t kMaxRecordingChannels = 1024;

// Reads a recording line by line; a line ends at CR LF, LF or CR alone. A first line that does
// not start with time_ms,time, is over kMaxRecordingLine, has no line end or names more than
// kMaxRecordingChannels channels gives `error`; a row with a bad number, a wrong number of
// fields, an over-long line or a last line without its line end is skipped and counted, and the
// good rows are kept.
Recording ReadRecording(const std::string& path);
// The same from a stream (standard input), read to its end.
Recording ReadRecording(std::istream& in);

}  // namespace kline
