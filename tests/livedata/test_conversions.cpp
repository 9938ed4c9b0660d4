#include <gtest/gtest.h>

#include "livedata/conversions.h"

using namespace kline;

TEST(Conversions, OneByteChannelsAtTheirExamplesAndLimits) {
  EXPECT_EQ(*RpmText(0x0F, 0xA0, 15000000), "3750");
  EXPECT_EQ(*RpmText(0x0F, 0xA0, 30000000), "7500");
  EXPECT_EQ(*RpmText(0xFF, 0xFF, 15000000), "228");
  EXPECT_EQ(*RpmText(0xFF, 0xFF, 30000000), "457");
  EXPECT_EQ(RpmText(0, 0, 15000000), std::nullopt);
  EXPECT_EQ(InjectionText(0x06, 0xC4), "3.464");
  EXPECT_EQ(InjectionText(0, 0), "0");
  EXPECT_EQ(AdvanceText(25), "12.5");
  EXPECT_EQ(AdvanceText(0xFF), "127.5");
  EXPECT_EQ(PressureText(0x60), "489");
  EXPECT_EQ(PressureText(0x00), "121");
  EXPECT_EQ(PressureText(0xFF), "1099");
  EXPECT_EQ(TemperatureText(0x00), "-55");
  EXPECT_EQ(TemperatureText(50), "-5");
  EXPECT_EQ(TemperatureText(0xFF), "200");
  EXPECT_EQ(BatteryText(214), "13.375");
  EXPECT_EQ(BatteryText(0xFF), "15.9375");
  EXPECT_EQ(TrimmerText(0x80), "0");
  EXPECT_EQ(TrimmerText(0xFF), "127");
  EXPECT_EQ(TrimmerText(0x00), "-128");
  EXPECT_EQ(TrimmerText(116), "-12");
}

TEST(Conversions, ThrottleLinesMeetAt170) {
  EXPECT_EQ(ThrottleAngleText(100), "17.07");
  EXPECT_EQ(ThrottleAngleText(170), "30.01");
  EXPECT_EQ(ThrottleAngleText(171), "30.69");  // 171 * 0.7058 - 90
  EXPECT_EQ(ThrottleAngleText(0), "-1.41");
  EXPECT_EQ(ThrottleAngleText(0xFF), "89.98");
  EXPECT_EQ(ThrottleScale2Text(200), "81.72");
  EXPECT_EQ(ThrottleScale2Text(0), "-2.96");
  EXPECT_EQ(ThrottleScale2Text(0xFF), "105.");
  EXPECT_EQ(ThrottleVoltageText(100), "1.94");
  EXPECT_EQ(Throttle15RcText(100, 20), "105.7");
  EXPECT_EQ(Throttle15RcText(100, 0), "125.7");
}

TEST(TempTab, RunsThroughItsBreakpoints) {
  TempTable t = BuildTempTab();
  struct Row {
    int index;
    double value;
  } rows[] = {{0, 125},     {32, 125},    {33, 122.1}, {48, 78.6}, {64, 59.2}, {80, 47.5},
              {96, 37.9},   {112, 29.5},  {128, 22},   {144, 14},  {160, 6.2}, {176, -1.8},
              {192, -11.8}, {208, -28.7}, {224, -55},  {225, -55}, {240, -55}};
  for (const auto& r : rows) {
    ASSERT_TRUE(t[static_cast<std::size_t>(r.index)].has_value()) << r.index;
    EXPECT_NEAR(*t[static_cast<std::size_t>(r.index)], r.value, 1e-9) << r.index;
  }
  for (int i = 241; i <= 256; ++i) EXPECT_FALSE(t[static_cast<std::size_t>(i)].has_value()) << i;
  EXPECT_EQ(TempTabText(t[0]), "125.");
  EXPECT_EQ(TempTabText(t[33]), "122.1");
  EXPECT_EQ(TempTabText(t[224]), "-55.");
  EXPECT_EQ(TempTabText(t[241]), "");
}

// One segment a hundred tr/m, rounded as every whole number is, and at most 120.
TEST(RpmSegments, HundredTrPerSegmentUpTo120) {
  struct Row {
    const char* rpm;
    int lit;
  } rows[] = {{"3850", 38}, {"457", 5}, {"0", 0}, {"15000", 120}, {"-300", 0}, {" ----", 0}};
  for (const auto& r : rows) EXPECT_EQ(RpmSegments(r.rpm), r.lit) << r.rpm;
}
