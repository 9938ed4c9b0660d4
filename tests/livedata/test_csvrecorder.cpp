// The CSV recorder on a live session against the simulated ECU, on virtual time: every value
// stays in its column whatever it holds, and only completed cycles make rows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "livedata/csvrecorder.h"
#include "support/simsession.h"
#include "ui/numbers.h"

using namespace kline;
using namespace kline::test;

namespace {

// Splits a file into rows of fields, reading quoted fields as a spreadsheet does.
std::vector<std::vector<std::string>> ParseCsv(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
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

// A 15m session in live data with a recorder on its live-cycle hook, counting the cycles.
struct Recording {
  explicit Recording(SimConfig c) : s(withBurst(std::move(c))) {
    path = (std::filesystem::path(s.settingsPath).parent_path() / "live.csv").string();
    EXPECT_EQ(csv.open(path), "");
    s.form->onLiveCycle = [this](uint32_t ms, bool completed) {
      ++cycles;
      completedCycles += completed ? 1 : 0;
      csv.cycle(ms, completed, s.form->ctl);
    };
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
};

// The decimal comma of a comma locale, back to "." however the test ends.
struct CommaDecimals {
  CommaDecimals() { SetDecimalSeparator(','); }
  ~CommaDecimals() { SetDecimalSeparator('.'); }
};

}  // namespace

TEST(CsvRecorder, DecimalCommasStayInTheirColumnsOneRowPerCycle) {
  CommaDecimals comma;
  SimConfig c;
  c.answers[0x05] = 25;  // advance 12.5
  Recording r(c);
  r.s.run(3000);
  r.csv.close();
  ASSERT_GT(r.completedCycles, 3);
  EXPECT_EQ(r.csv.rows(), r.completedCycles);
  auto rows = ParseCsv(r.path);
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(r.completedCycles) + 1);
  const std::size_t columns = rows[0].size();
  EXPECT_EQ(columns, 11u);
  EXPECT_EQ(rows[0][3], "ign advance");
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), columns) << "row " << i;
    EXPECT_EQ(rows[i][3], "12,5") << "row " << i;
  }
  // The last row holds the fields as the last cycle left them.
  for (int ch = 0; ch < 10; ++ch)
    EXPECT_EQ(rows.back()[static_cast<std::size_t>(ch) + 1],
              r.s.form->ctl.text(indexed("Text1", ch)))
        << ch;
}

TEST(CsvRecorder, CyclesAbandonedAtASilentChannelWriteNoRow) {
  SimConfig c;
  c.silent.insert(0x05);
  Recording r(c);
  r.s.run(9000);
  r.csv.close();
  // Each cycle waits 2 s for the advance and is abandoned.
  EXPECT_GE(r.cycles, 3);
  EXPECT_EQ(r.completedCycles, 0);
  EXPECT_EQ(r.csv.rows(), 0);
  EXPECT_EQ(ParseCsv(r.path).size(), 1u);
}
