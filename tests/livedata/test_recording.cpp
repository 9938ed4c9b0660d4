// Reading a recording back: the good rows kept, each bad row skipped and counted with where and
// why, files that are not recordings refused, and garbage read through without being held.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "livedata/recording.h"
#include "support/simsession.h"

using namespace kline;

namespace {

struct TempFile {
  explicit TempFile(const std::string& content) {
    path = (test::TempFolder() / "recording.csv").string();
    std::ofstream(path, std::ios::binary) << content;
  }
  ~TempFile() { std::filesystem::remove_all(std::filesystem::path(path).parent_path()); }
  std::string path;
};

const char* kHeader = "time_ms,time,rpm [tr/m],ign advance [\xC2\xB0],trimmer value\r\n";

std::string Row(int ms, const char* values) {
  return std::to_string(ms) + ",2026-12-06T16:20:31.123+01:00," + values + "\r\n";
}

}  // namespace

TEST(Recording, KeepsTheGoodRowsAndSaysWhereTheFirstBadOneIs) {
  TempFile f(std::string(kHeader) + Row(100, "1200,12.5,.62") + Row(200, ",-5,") +
             Row(300, "12x0,1,2") +                       // line 4: a bad number
             Row(400, "1300,1") +                         // a field missing
             "\r\n" +                                     // an empty line
             Row(500, std::string(70000, '7').c_str()) +  // over 64 KiB
             Row(600, "nan,inf,1") +                      // not numbers of ours
             "99999999999,t,1,2,3\n" +                    // time_ms over 32 bits; "\n" alone
             Row(700, "1400,+3,1e2") + "800,t,1500,1");   // the last line torn off
  const Recording r = ReadRecording(f.path);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.timesMs, (std::vector<uint32_t>{100, 200, 700}));
  ASSERT_EQ(r.channels.size(), 3u);
  EXPECT_EQ(r.channels[0].name, "rpm");
  EXPECT_EQ(r.channels[0].unit, "tr/m");
  EXPECT_EQ(r.channels[1].unit, "\xC2\xB0");
  EXPECT_EQ(r.channels[2].name, "trimmer value");
  EXPECT_EQ(r.channels[2].unit, "");
  EXPECT_EQ(r.channels[0].values[0], 1200.0f);
  EXPECT_TRUE(std::isnan(r.channels[0].values[1]));
  EXPECT_EQ(r.channels[1].values[1], -5.0f);
  EXPECT_EQ(r.channels[2].values[0], 0.62f);
  EXPECT_EQ(r.channels[1].values[2], 3.0f);
  EXPECT_EQ(r.channels[2].values[2], 100.0f);
  EXPECT_EQ(r.skipped, 7u);
  EXPECT_EQ(r.firstBadLine, 4u);
  EXPECT_EQ(r.skipLine(), "3 rows; 7 skipped, the first at line 4: a bad number in \"rpm [tr/m]\"");

  const char* reasons[][2] = {{"1300,1", "4 fields instead of 5"},
                              {"", "an empty line"},
                              {"1,2,3,4,5,6", "8 fields instead of 5"},
                              {"1,+-5,3", "a bad number in \"ign advance [\xC2\xB0]\""},
                              {"1,nan,3", "a bad number in \"ign advance [\xC2\xB0]\""}};
  for (const auto& [row, why] : reasons) {
    TempFile one(std::string(kHeader) + (*row ? Row(1, row) : std::string("\r\n")));
    EXPECT_EQ(ReadRecording(one.path).skipReason, why) << row;
  }
  TempFile clean(std::string(kHeader) + Row(1, "1,2,3"));
  EXPECT_EQ(ReadRecording(clean.path).skipLine(), "");
}

// time_ms counts 32 bits of milliseconds (49.7 days): every count up to that is kept.
TEST(Recording, TheTimeFieldTakesEvery32BitCount) {
  const std::pair<const char*, bool> times[] = {
      {"0", true},           {"999999999", true},   {"1000000000", true}, {"4294967295", true},
      {"4294967296", false}, {"9999999999", false}, {"-1", false},        {"1.5", false}};
  for (const auto& [time, kept] : times) {
    TempFile f(std::string(kHeader) + time + ",t,1,2,3\r\n");
    const Recording r = ReadRecording(f.path);
    const std::vector<uint32_t> none, one{static_cast<uint32_t>(std::strtoull(time, nullptr, 10))};
    EXPECT_EQ(r.timesMs, kept ? one : none) << time;
    EXPECT_EQ(r.skipReason, kept ? "" : "a bad number in \"time_ms\"") << time;
  }
}

TEST(Recording, FilesThatAreNotRecordingsAreRefused) {
  const std::string notOurs =
      "not a klinediag recording: its first line does not start with time_ms,time";
  for (const std::string& content :
       {std::string("time_ms,rpm,inj duration\r\n1,2,3\r\n"), std::string("time,time_ms\r\n"),
        std::string("\xEF\xBB\xBFtime,time_ms\r\n")})
    EXPECT_EQ(ReadRecording(TempFile(content).path).error, notOurs) << content.substr(0, 20);
  // A first line too long to be ours, one cut short (no line end: its last name may be cut too)
  // and one with more channels than are read each say so.
  std::string wide = "time_ms,time";
  for (std::size_t c = 0; c <= kMaxRecordingChannels; ++c) wide += ",c" + std::to_string(c);
  const std::pair<std::string, std::string> refused[] = {
      {std::string(200000, 'x'), "not a klinediag recording: its first line is over 64 KiB"},
      {"time_ms,time" + std::string(70000, ',') + "\r\n1,t\r\n",
       "not a klinediag recording: its first line is over 64 KiB"},
      {std::string(kHeader).substr(0, 40),
       "not a klinediag recording: its first line is cut short"},
      {std::string(kUtf8Bom) + "time_ms,time",
       "not a klinediag recording: its first line is cut short"},
      {wide + "\r\n", "not a klinediag recording: 1025 channels, more than the 1024 read"},
  };
  for (const auto& [content, why] : refused)
    EXPECT_EQ(ReadRecording(TempFile(content).path).error, why) << content.substr(0, 20);
  // As many channels as are read is fine.
  wide.erase(wide.rfind(','));
  EXPECT_EQ(ReadRecording(TempFile(wide + "\r\n").path).channels.size(), kMaxRecordingChannels);
  // A recording starts with the UTF-8 mark; one without it reads the same.
  for (const std::string& mark : {std::string(kUtf8Bom), std::string()}) {
    const Recording r = ReadRecording(TempFile(mark + kHeader + Row(1, "1,2,3")).path);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.timesMs.size(), 1u);
  }
  EXPECT_EQ(ReadRecording(TempFile("").path).error, "an empty file, not a klinediag recording");
  EXPECT_EQ(ReadRecording("/no/such/file.csv").error, "cannot be read: No such file or directory");
}

TEST(Recording, MegabytesOfGarbageAfterTheHeaderAreSkippedLineByLine) {
  // 8 MiB: lines of 100 KiB with no end, each skipped without being kept, then a good row.
  std::string garbage = kHeader;
  for (int i = 0; i < 80; ++i) garbage += std::string(100 * 1024, ',') + "\n";
  garbage += std::string(3 * 1024 * 1024, '\0');
  TempFile f(garbage + "\n" + Row(5, "1,2,3"));
  const Recording r = ReadRecording(f.path);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.timesMs, std::vector<uint32_t>{5});
  EXPECT_EQ(r.skipped, 81u);
  EXPECT_EQ(r.skipReason, "a line over 64 KiB");
}

TEST(Recording, CrLfLfAndCrAloneAreAllLineEnds) {
  // The same rows with each kind of line end, and with the three mixed.
  std::string rows;
  for (int i = 0; i < 5; ++i) rows += Row(i * 100, "1200,12.5,.62");
  auto withEnds = [&](const std::string& text, const std::string& end) {
    std::string out;
    for (std::size_t from = 0; from < text.size();) {
      const std::size_t at = text.find("\r\n", from);
      out += text.substr(from, at - from) + end;
      from = at + 2;
    }
    return out;
  };
  const std::string crlf = kHeader + rows;
  std::string mixed = crlf;
  mixed.replace(mixed.find("\r\n"), 2, "\r");
  mixed.replace(mixed.rfind("\r\n"), 2, "\n");
  for (const std::string& content : {crlf, withEnds(crlf, "\n"), withEnds(crlf, "\r"), mixed}) {
    const Recording r = ReadRecording(TempFile(content).path);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.channels.size(), 3u);
    EXPECT_EQ(r.timesMs, (std::vector<uint32_t>{0, 100, 200, 300, 400}));
    EXPECT_EQ(r.skipped, 0u) << r.skipLine();
  }

  // Past the reader's 1 MiB buffer: a CR LF whose CR ends one buffer and whose LF starts the
  // next is one line end, and a long file of CR alone reads whole.
  const std::size_t buffer = 1 << 20;
  std::string big = kHeader;
  int n = 0;
  while (big.size() < buffer - 200) big += Row(n++, "1200,12.5,.62");
  // A row padded with leading zeros so that its CR is the buffer's last byte.
  std::string head = std::to_string(n++) + ",2026-12-06T16:20:31.123+01:00,";
  const std::size_t pad = buffer - 1 - big.size() - head.size() - std::string(",1,2").size();
  big += head + std::string(pad - 1, '0') + "7,1,2\r\n";
  ASSERT_EQ(big[buffer - 1], '\r');
  ASSERT_EQ(big[buffer], '\n');
  while (big.size() < buffer + 1000) big += Row(n++, "1200,12.5,.62");
  for (const std::string& content : {big, withEnds(big, "\r")}) {
    const Recording r = ReadRecording(TempFile(content).path);
    EXPECT_EQ(r.timesMs.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(r.skipped, 0u) << r.skipLine();
  }
}
