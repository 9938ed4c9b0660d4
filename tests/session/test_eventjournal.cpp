// The journal a support bundle takes its events from: ten minutes by the session's clock, caps
// that drop the oldest lines, and the link's history.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "session/eventjournal.h"

using namespace kline;
using ::testing::HasSubstr;

namespace {

std::vector<nlohmann::json> Parse(const std::string& jsonl) {
  std::vector<nlohmann::json> v;
  std::istringstream in(jsonl);
  for (std::string l; std::getline(in, l);) v.push_back(nlohmann::json::parse(l));
  return v;
}

}  // namespace

TEST(EventJournal, KeepsTheLastTenMinutesByTheSessionClock) {
  uint64_t now = 0;
  EventJournal j([&] { return now; });
  for (uint64_t t : {0, 1000, 300000, 601000}) {
    now = t;
    j.onTx(ByteString("\x17", 1));
  }
  // At 601 s the line of 0 ms is older than ten minutes and goes; 1000 ms is just within.
  auto lines = Parse(j.jsonLines(now));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["t_ms"], 1000);
  EXPECT_EQ(lines[0]["ev"], "tx");
  EXPECT_EQ(lines[0]["hex"], "17");
  // Asked later, with nothing new: only what is still within ten minutes of then.
  EXPECT_EQ(Parse(j.jsonLines(900001)).size(), 1u);
  EXPECT_EQ(j.droppedByCap(), 0u);
}

TEST(EventJournal, CapsDropTheOldestLinesFirst) {
  uint64_t now = 0;
  JournalLimits few;
  few.maxLines = 5;
  EventJournal byCount([&] { return now; }, few);
  JournalLimits small;
  small.maxBytes = 1000;
  EventJournal byBytes([&] { return now; }, small);
  for (now = 0; now < 1000; ++now) {
    byCount.onRx(ByteString(1, static_cast<char>(now & 0xFF)));
    byBytes.onRx(ByteString(1, static_cast<char>(now & 0xFF)));
  }
  EXPECT_EQ(byCount.lineCount(), 5u);
  EXPECT_EQ(byCount.droppedByCap(), 995u);
  EXPECT_EQ(Parse(byCount.jsonLines(now)).front()["t_ms"], 995);
  EXPECT_LE(byBytes.byteCount(), 1000u);
  EXPECT_GT(byBytes.lineCount(), 5u);
  EXPECT_EQ(Parse(byBytes.jsonLines(now)).back()["t_ms"], 999);
}

TEST(EventJournal, LinkHistoryKeepsEachChangeWithItsTime) {
  uint64_t now = 0;
  JournalLimits two;
  two.maxLinkChanges = 2;
  EventJournal j([&] { return now; }, two);
  // The second "live" differs only in its text: the history keeps the state's change once.
  const LinkState states[] = {LinkState::Waiting, LinkState::Live, LinkState::Live,
                              LinkState::Silent};
  for (LinkState s : states) {
    now += 1500;
    LinkStatus st;
    st.state = s;
    st.text = std::string("text ") + LinkStateName(s) + (now == 4500 ? " again" : "");
    j.onEvent(ev::LinkChanged{st});
  }
  const std::string h = j.linkHistoryText();
  EXPECT_THAT(h, HasSubstr("(1 earlier changes not kept)"));
  EXPECT_THAT(h, HasSubstr("3.000 s  live  text live\n"));
  EXPECT_THAT(h, HasSubstr("6.000 s  silent  text silent\n"));
  // The changes are events too.
  EXPECT_EQ(Parse(j.jsonLines(now)).back()["event"], "link");

  // With a wall clock, each change says when it was in the zone it was taken in.
  EventJournal dated([&] { return now; }, {}, [] { return WallTime{1773500000000, 60}; });
  dated.onEvent(ev::LinkChanged{LinkStatus{LinkState::Lost, "gone"}});
  EXPECT_THAT(dated.linkHistoryText(), HasSubstr("2026-03-14T15:53:20.000+01:00  " +
                                                 std::string(9, ' ') + "6.000 s  lost  gone\n"));
}
