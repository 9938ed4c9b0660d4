#include <gtest/gtest.h>

#include "livedata/numbers.h"

using namespace kline;

TEST(Val, ReadsTheLeadingNumberAndIgnoresTheRest) {
  struct Row {
    const char* text;
    double value;
  } rows[] = {{"12ab", 12}, {"abc", 0},     {"", 0},        {"  03", 3}, {"-5", -5},
              {"2.5", 2.5}, {"1 2 3", 123}, {"1e3x", 1000}, {"1e", 1},   {".5", 0.5},
              {"&H1F", 31}, {"&HFFFF", -1}, {"+7", 7},      {"-", 0},    {"250ms", 250}};
  for (const auto& r : rows) EXPECT_DOUBLE_EQ(Val(r.text), r.value) << '"' << r.text << '"';
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  struct Row {
    double x;
    int64_t rounded;
  } rows[] = {{2.5, 2},   {3.5, 4},  {-2.5, -2}, {37.5, 38},  {38.5, 38},
              {39.5, 40}, {0.51, 1}, {0.5, 0},   {2.4999, 2}, {119.5, 120}};
  for (const auto& r : rows) EXPECT_EQ(RoundHalfEven(r.x), r.rounded) << r.x;
}

TEST(WholeNumber, SaturatesBeyondThirtyTwoBits) {
  EXPECT_EQ(WholeNumber("99999999999"), 2147483647);
  EXPECT_EQ(WholeNumber("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(WholeNumber("4.5"), 4);
  EXPECT_EQ(WholeNumber("x"), 0);
}

TEST(PlainForm, ShortestDecimalText) {
  EXPECT_EQ(PlainForm(2.0 * 1732 / 1000), "3.464");
  EXPECT_EQ(PlainForm(214 * 0.0625), "13.375");
  EXPECT_EQ(PlainForm(-5), "-5");
  EXPECT_EQ(PlainForm(25 / 2.0), "12.5");
  EXPECT_EQ(PlainForm(0), "0");
  EXPECT_EQ(PlainForm(3750), "3750");
  EXPECT_EQ(PlainForm(0.1 + 0.2), "0.3");
}

TEST(FormatNumber, PatternsOfTheWindows) {
  struct Row {
    double x;
    const char* pattern;
    const char* text;
  } rows[] = {{0.5, "##.##", ".5"},      {125, "##.##", "125."},    {-2.9638, "##.##", "-2.96"},
              {0, "##.##", "."},         {17.07, "##.##", "17.07"}, {105.0032, "##.##", "105."},
              {0.125, "##.##", ".13"},   {122.1, "##.##", "122.1"}, {-55, "##.##", "-55."},
              {99.996, "##.##", "100."}, {1.94, "0.00", "1.94"},    {0.0023, "0.00", "0.00"},
              {5, "0.00", "5.00"},       {105.7, "0.#", "105.7"},   {105, "0.#", "105."},
              {0.04, "0.#", "0."},       {-0.26, "0.#", "-0.3"},    {-0.001, "##.##", "."}};
  for (const auto& r : rows)
    EXPECT_EQ(FormatNumber(r.x, r.pattern), r.text) << r.x << " " << r.pattern;
}

TEST(FormatNumber, UsesTheChosenSeparator) {
  SetDecimalSeparator(',');
  EXPECT_EQ(FormatNumber(17.07, "##.##"), "17,07");
  EXPECT_EQ(PlainForm(12.5), "12,5");
  SetDecimalSeparator('.');
}
