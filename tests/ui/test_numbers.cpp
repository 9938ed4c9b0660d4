#include <gtest/gtest.h>

#include "ui/numbers.h"

using namespace kline;

TEST(Val, ReadsTheLeadingNumberAndIgnoresTheRest) {
  struct Row {
    const char* text;
    double value;
  } rows[] = {{"12ab", 12},  {"abc", 0},      {"", 0},        {"  03", 3},    {"-5", -5},
              {"2.5", 2.5},  {"1 2 3", 123},  {"1e3x", 1000}, {"1e", 1},      {".5", 0.5},
              {"&H1F", 31},  {"&HFFFF", -1},  {"+7", 7},      {"-", 0},       {"250ms", 250}};
  for (const auto& r : rows) EXPECT_DOUBLE_EQ(Val(r.text), r.value) << '"' << r.text << '"';
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(37.5), 38);
  EXPECT_EQ(RoundHalfEven(38.5), 38);
  EXPECT_EQ(RoundHalfEven(39.5), 40);
  EXPECT_EQ(RoundHalfEven(0.51), 1);
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(2.4999), 2);
}

TEST(WholeNumber, SaturatesBeyondThirtyTwoBits) {
  EXPECT_EQ(WholeNumber("99999999999"), 2147483647);
  EXPECT_EQ(WholeNumber("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(WholeNumber("4.5"), 4);
  EXPECT_EQ(WholeNumber("x"), 0);
}
