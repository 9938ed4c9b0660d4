// The simulator description: each key read into its field, bad input refused naming the key.
#include <gtest/gtest.h>

#include "sim/simconfig.h"

using namespace kline;

TEST(SimConfig, ReadsEveryDelayLatencyAndByteAtTheEdgesOfTheirRanges) {
  SimConfig c = SimConfig::FromJson(
      R"({"ignition_ms": 604800000, "silent_after_ms": 0, "lost_after_ms": 2500.0,
          "latency_ms": 0.5, "late_ms": {"17": 60000}, "tests": {"80": {"after_ms": 4000}},
          "answers": {"17": 255, "18": 0, "0x19": "ff"}, "silent": [1, "0A"]})",
      EcuType::E15m);
  EXPECT_EQ(c.ignitionMs, 604800000);
  EXPECT_EQ(c.silentAfterMs, 0);
  EXPECT_EQ(c.lostAfterMs, 2500);
  EXPECT_DOUBLE_EQ(c.latencyMs, 0.5);
  EXPECT_DOUBLE_EQ(c.lateMs.at(0x17), 60000);
  EXPECT_EQ(c.tests.at(0x80).afterMs, 4000);
  EXPECT_EQ(c.answers, (std::map<uint8_t, uint8_t>{{0x17, 255}, {0x18, 0}, {0x19, 0xFF}}));
  EXPECT_EQ(c.silent, (std::set<uint8_t>{0x01, 0x0A}));
  EXPECT_EQ(SimConfig::FromJson("{}", EcuType::E15m).lostAfterMs, -1);
}

TEST(SimConfig, TakesEveryTypeNameInAnyCaseAsItsFamily) {
  const struct {
    const char* json;
    EcuType type;
  } rows[] = {{R"({"type":"15M"})", EcuType::E15m},
              {R"({"type":"15rc"})", EcuType::E15Rc},
              {R"({"type":"16m"})", EcuType::E16m},
              {R"({"type":"P8"})", EcuType::P8},
              {R"({"type":"P8-Sensor"})", EcuType::P8}};
  for (const auto& r : rows) {
    const SimConfig c = SimConfig::FromJson(r.json, EcuType::E16m);
    EXPECT_EQ(c.type, r.type) << r.json;
    EXPECT_TRUE(c.typeGiven) << r.json;
  }
  const SimConfig untyped = SimConfig::FromJson("{}", EcuType::E16m);
  EXPECT_EQ(untyped.type, EcuType::E16m);
  EXPECT_FALSE(untyped.typeGiven);
}

struct Refused {
  const char* json;
  const char* message;
  // The test's name shows the description, not the pointers.
  friend void PrintTo(const Refused& r, std::ostream* os) { *os << r.json; }
};

class SimConfigRefuses : public testing::TestWithParam<Refused> {};

TEST_P(SimConfigRefuses, NamingTheKeyAndWhatItTakes) {
  try {
    SimConfig::FromJson(GetParam().json, EcuType::E15m);
    FAIL() << "accepted " << GetParam().json;
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    BadDescriptions, SimConfigRefuses,
    testing::Values(
        Refused{
            R"({"ignition":1})",
            "unknown key \"ignition\" (allowed: type, ignition_ms, burst, latency_ms, echo, "
            "garble_echo, answers, silent, replies, wrong_echo, stray, late_ms, silent_after_ms, "
            "lost_after_ms, babble, tests)"},
        Refused{R"({"tests":{"80":{"after":1}}})",
                "unknown key \"after\" in \"tests.80\" (allowed: answer, verdict, after_ms)"},
        Refused{R"({"ignition_ms":"5"})",
                "\"ignition_ms\": \"5\" is not a number (whole milliseconds from 0 to 604800000)"},
        Refused{R"({"ignition_ms":1e20})",
                "\"ignition_ms\": 1e+20 is out of range (whole milliseconds from 0 to 604800000)"},
        Refused{R"({"silent_after_ms":99999999999})",
                "\"silent_after_ms\": 99999999999 is out of range (whole milliseconds from 0 to "
                "604800000)"},
        Refused{R"({"lost_after_ms":-1})",
                "\"lost_after_ms\": -1 is out of range (whole milliseconds from 0 to 604800000)"},
        Refused{R"({"tests":{"80":{"after_ms":604800001}}})",
                "\"tests.80.after_ms\": 604800001 is out of range (whole milliseconds from 0 to "
                "604800000)"},
        Refused{R"({"tests":{"80":{"after_ms":2.5}}})",
                "\"tests.80.after_ms\": 2.5 is not a whole number (whole milliseconds from 0 to "
                "604800000)"},
        Refused{R"({"latency_ms":-0.5})",
                "\"latency_ms\": -0.5 is out of range (milliseconds from 0 to 60000)"},
        Refused{R"({"late_ms":{"17":60000.5}})",
                "\"late_ms.17\": 60000.5 is out of range (milliseconds from 0 to 60000)"},
        Refused{R"({"late_ms":{"17":null}})",
                "\"late_ms.17\": null is not a number (milliseconds from 0 to 60000)"},
        Refused{R"({"echo":"yes"})", "\"echo\": \"yes\" is not true or false"},
        Refused{R"({"type":16})", "\"type\": 16 is not text (15m, 16m, 15rc, p8 or p8-sensor)"},
        // The window's option names are no type names.
        Refused{R"({"type":"Option9"})",
                "\"type\": unknown ECU type 'Option9' (expected 15m, 16m, 15rc, p8 or p8-sensor)"},
        Refused{R"({"answers":{"17":256}})",
                "\"answers.17\": 256 is not a byte (hex text such as \"4F\", or 0 to 255)"},
        Refused{R"({"silent":[-1]})",
                "\"silent\": -1 is not a byte (hex text such as \"4F\", or 0 to 255)"},
        Refused{R"({"silent":"1A"})", "\"silent\": \"1A\" is not a list of hex codes"},
        Refused{R"({"burst":[0]})", "\"burst\": [0] is not hex text (such as \"0F 55\")"}));
