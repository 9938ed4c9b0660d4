// The CSV recorder on a live session against the simulated ECU, on virtual time: the header with
// the window's units, the wall clock, "." decimals, every value in its column, a row on disk as
// each completed cycle ends, and a write error that stops the recording.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "livedata/csvrecorder.h"
#include "livedata/numbers.h"
#include "livedata/recording.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;

namespace {

// Splits a file into rows of fields, reading quoted fields as a spreadsheet does.
std::vector<std::vector<std::string>> ParseCsv(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  // A spreadsheet takes the UTF-8 mark as the text's encoding, not as content.
  if (text.starts_with(kUtf8Bom)) text.erase(0, kUtf8Bom.size());
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      row.push_back(field);
      field.clear();
      rows.push_back(row);
      row.clear();
      ++i;
    } else {
      field += c;
    }
  }
  return rows;
}

// 2026-12-06T16:20:31.123+01:00, advancing 1 ms per reading.
struct FixedClock {
  int64_t ms = 1796570431123;
  WallTime operator()() { return {ms++, 60}; }
};

std::size_t LinesOnDisk(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

// A 15m session in live data with a recorder observing it, counting the cycles; each
// row must be on disk when its cycle ends.
struct LiveRecording {
  explicit LiveRecording(SimConfig c) : s(withBurst(std::move(c))), csv(FixedClock{}) {
    path = (std::filesystem::path(s.settingsPath).parent_path() / "live.csv").string();
    EXPECT_EQ(csv.open(path), "");
    s.sinks.add(&csv);
    s.sinks.add(&cycleEnds);
    s.form->ctl.setValue("Check3", 0);
    s.connect();
  }
  static SimConfig withBurst(SimConfig c) {
    c.burst = SimConfig::DefaultBurst();
    return c;
  }
  SimSession s;
  CsvRecorder csv;
  std::string path;
  int cycles = 0;
  int completedCycles = 0;
  // After the recorder has taken each cycle.
  OnLiveCycle cycleEnds{[this](bool completed) {
    ++cycles;
    completedCycles += completed ? 1 : 0;
    if (csv.isOpen()) {
      EXPECT_EQ(LinesOnDisk(path), static_cast<std::size_t>(csv.rows()) + 1);
    }
  }};
};

// The decimal comma of a comma locale, back to "." however the test ends.
struct CommaDecimals {
  CommaDecimals() { SetDecimalSeparator(','); }
  ~CommaDecimals() { SetDecimalSeparator('.'); }
};

}  // namespace

TEST(CsvRecorder, UnitsWallClockAndPointDecimalsOneRowPerCycle) {
  CommaDecimals comma;
  SimConfig c;
  c.answers[0x05] = 25;  // advance 12,5 in the window
  LiveRecording r(c);
  r.s.run(3000);
  r.csv.close();
  ASSERT_GT(r.completedCycles, 3);
  EXPECT_EQ(r.csv.rows(), r.completedCycles);
  auto rows = ParseCsv(r.path);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(r.completedCycles) + 1);
  char mark[3] = {};
  std::ifstream(r.path, std::ios::binary).read(mark, 3);
  EXPECT_EQ(std::string_view(mark, 3), kUtf8Bom);
  std::string header;
  for (const auto& h : rows[0]) header += (header.empty() ? "" : ",") + h;
  EXPECT_EQ(header,
            "time_ms,time,rpm [tr/m],inj duration [ms],ign advance [\xC2\xB0],manifold pressure "
            "[mBar],air temp [\xC2\xB0],water temp [\xC2\xB0],throttle [\xC2\xB0],battery [V],"
            "trimmer value,throttle voltage [V]");
  EXPECT_EQ(rows[1][1], "2026-12-06T16:20:31.123+01:00");
  EXPECT_EQ(rows[2][1], "2026-12-06T16:20:31.124+01:00");
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 12u) << "row " << i;
    EXPECT_EQ(rows[i][4], "12.5") << "row " << i;
  }
  // The last row holds the fields as the last cycle left them, with "." for the comma.
  for (int ch = 0; ch < 10; ++ch) {
    std::string text = r.s.form->ctl.text(indexed("Text1", ch));
    std::replace(text.begin(), text.end(), ',', '.');
    if (text.find_first_of("0123456789") == std::string::npos) text.clear();
    EXPECT_EQ(rows.back()[static_cast<std::size_t>(ch) + 2], text) << ch;
  }
}

TEST(CsvRecorder, FieldTextsBecomePointNumbersOrEmptyFields) {
  CommaDecimals comma;
  const std::pair<const char*, const char*> cases[] = {
      {"12,5", "12.5"}, {",62", ".62"}, {"125,", "125."}, {"-2,96", "-2.96"}, {"7800", "7800"},
      {",", "0"},       {" ----", ""},  {"", ""},         {"1.234,5", ""},    {"1,2,3", ""},
      {"-", ""},        {"12a", ""},    {" 0", "0"}};  // the window's engine speed at rest
  for (const auto& [text, csv] : cases) EXPECT_EQ(CsvRecorder::Number(text), csv) << text;
}

TEST(CsvRecorder, IsoTimeCarriesTheOffsetAcrossDayAndYearEnds) {
  EXPECT_EQ(CsvRecorder::IsoTime({1796570431123, 60}), "2026-12-06T16:20:31.123+01:00");
  // 2027-01-01T02:00:00.005Z
  EXPECT_EQ(CsvRecorder::IsoTime({1798768800005, -210}), "2026-12-31T22:30:00.005-03:30");
  EXPECT_EQ(CsvRecorder::IsoTime({1798768800005, 0}), "2027-01-01T02:00:00.005+00:00");
}

#ifndef _WIN32  // no full device or file-size limit there
TEST(CsvRecorder, AWriteErrorStopsTheRecordingAndKeepsTheRowsBefore) {
  CsvRecorder full;
  EXPECT_EQ(full.open("/dev/full"), "cannot write /dev/full: No space left on device");
  EXPECT_FALSE(full.isOpen());

  // A file-size limit past the rows so far: the next row fails half-written.
  LiveRecording r{SimConfig{}};
  r.s.run(2000);
  const int before = r.csv.rows();
  ASSERT_GT(before, 0);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = static_cast<rlim_t>(std::filesystem::file_size(r.path) + 20);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  r.s.run(2000);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(r.csv.isOpen());
  EXPECT_EQ(r.csv.rows(), before);
  EXPECT_EQ(r.csv.error(),
            "recording to " + r.path + " stopped: the file could not be written (File too large)");
  // The rows before are whole; the torn one is the reader's truncated line.
  const Recording back = ReadRecording(r.path);
  EXPECT_EQ(back.error, "");
  EXPECT_EQ(back.timesMs.size(), static_cast<std::size_t>(before));
  EXPECT_EQ(back.skipReason, "a truncated line");
}
#endif

TEST(CsvRecorder, CyclesAbandonedAtASilentChannelWriteNoRow) {
  SimConfig c;
  c.silent.insert(0x05);
  LiveRecording r(c);
  r.s.run(9000);
  r.csv.close();
  // Each cycle waits 2 s for the advance and is abandoned.
  EXPECT_GE(r.cycles, 3);
  EXPECT_EQ(r.completedCycles, 0);
  EXPECT_EQ(r.csv.rows(), 0);
  EXPECT_EQ(ParseCsv(r.path).size(), 1u);
}
