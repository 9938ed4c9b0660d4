// The typed events' words: the verdict a test window's text gives.
#include <gtest/gtest.h>

#include "ui/sessionevents.h"

using namespace kline;

TEST(SessionEvents, TheVerdictInTheWordsOfEitherTestWindow) {
  const struct {
    const char* shown;
    ev::Verdict verdict;
  } rows[] = {
      // The main window's list, then the test window.
      {"OK", ev::Verdict::Passed},
      {"Erreur", ev::Verdict::Failed},
      {"Test finish", ev::Verdict::Passed},
      {"Test failed", ev::Verdict::Failed},
      {"Test unknown", ev::Verdict::Unknown},
      {"", ev::Verdict::Unknown},
      // Only the words as shown: another case or a blank is no verdict.
      {"ok", ev::Verdict::Unknown},
      {"OK ", ev::Verdict::Unknown},
  };
  for (const auto& r : rows)
    EXPECT_EQ(ev::VerdictOfShown(r.shown), r.verdict) << '"' << r.shown << '"';
}
