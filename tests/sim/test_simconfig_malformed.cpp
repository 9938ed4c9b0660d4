// Descriptions that are not JSON the reader can hold: refused with the reason, never a crash.
#include <gtest/gtest.h>

#include <string>

#include "sim/simconfig.h"

using namespace kline;

namespace {

std::string RefusalOf(const std::string& json) {
  try {
    SimConfig::FromJson(json, EcuType::E15m);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "accepted";
}

}  // namespace

TEST(SimConfigMalformed, NumberTooLargeForAnyTypeIsRefusedAsInvalidJson) {
  std::string why = RefusalOf(R"({"latency_ms": 29434594561591E888888888888888888})");
  EXPECT_EQ(why.rfind("not valid JSON: ", 0), 0u) << why;
}

TEST(SimConfigMalformed, DeeplyNestedValueIsNamedNotWrittenOut) {
  // Well within the 1 MiB a description may have; writing it out would overflow the stack.
  const std::size_t depth = 400000;
  std::string list = std::string(depth, '[') + std::string(depth, ']');
  EXPECT_EQ(
      RefusalOf(R"({"silent": [)" + list + "]}"),
      "\"silent\": a deeply nested list is not a byte (hex text such as \"4F\", or 0 to 255)");
  EXPECT_EQ(RefusalOf(R"({"answers": )" + list + "}"),
            "\"answers\": a deeply nested list is not an object of hex code to answer byte");
  // Shallow values are still shown as written.
  EXPECT_EQ(RefusalOf(R"({"burst": [[0]]})"),
            "\"burst\": [[0]] is not hex text (such as \"0F 55\")");
}
