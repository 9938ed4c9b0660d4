// The log pane of a session that runs for days: bounded, and saying what it dropped.
#include <gtest/gtest.h>

#include "ui/logpane.h"

using kline::LogPane;

TEST(LogPane, PastItsLimitTheOldestLinesLeaveAndTheFirstLineCountsThem) {
  LogPane pane(5);
  for (int i = 1; i <= 5; ++i) pane.append("line " + std::to_string(i));
  EXPECT_EQ(pane.dropped(), 0u);
  EXPECT_EQ(pane.text().substr(0, 8), "line 1\r\n");
  for (int i = 6; i <= 8; ++i) pane.append("line " + std::to_string(i));
  // Five lines shown: the count, then the four newest.
  EXPECT_EQ(pane.size(), 5u);
  EXPECT_EQ(pane.dropped(), 4u);
  EXPECT_EQ(pane.text(),
            "(4 older lines removed from this pane)\r\nline 5\r\nline 6\r\nline 7\r\nline 8\r\n");
  pane.clear();
  EXPECT_EQ(pane.text(), "");
}
