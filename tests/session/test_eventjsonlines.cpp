// The events as JSON Lines: each fact in the one shape every JSON output uses (docs/json.md).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "session/eventjsonlines.h"

using namespace kline;

namespace {

// Keeps the lines it is given, parsed.
class KeptJsonLines : public EventJsonLines {
 public:
  KeptJsonLines() : EventJsonLines([] { return uint64_t{1500}; }) {}
  std::vector<nlohmann::json> lines;

 protected:
  void line(uint64_t /*t*/, std::string text) override {
    lines.push_back(nlohmann::json::parse(text));
  }
};

nlohmann::json JsonLineOf(const SessionEvent& e) {
  KeptJsonLines k;
  k.onEvent(e);
  return k.lines.at(0);
}

}  // namespace

TEST(EventJsonLines, ReadoutsCarryHexBytesAndTrimmedLinesWithTheirFlags) {
  Readout r;
  r.kind = ReadoutKind::Faults;
  r.code = 0x0F;
  r.bytes = {0x80, 0x08, 0x41};
  r.lines = {"Lambda sensor OK    ", " EEprom Fault"};
  r.fault = {false, true};
  r.faultStored = true;
  const nlohmann::json j = JsonLineOf(ev::ReadoutDone{r});
  EXPECT_EQ(j["t_ms"], 1500);
  EXPECT_EQ(j["code"], "0F");
  EXPECT_EQ(j["bytes"], nlohmann::json::parse(R"(["80","08","41"])"));
  EXPECT_EQ(j["lines"], nlohmann::json::parse(R"([{"text":"Lambda sensor OK","fault":false},
                                                  {"text":"EEprom Fault","fault":true}])"));
  // An immobiliser readout has its state byte alone.
  r.kind = ReadoutKind::Immobiliser;
  EXPECT_EQ(JsonLineOf(ev::ReadoutDone{r})["bytes"], nlohmann::json::parse(R"(["80"])"));
}

TEST(EventJsonLines, WindowsAndEcuTypesByTheUsersWordsAndUnknownAsNull) {
  const nlohmann::json ended =
      JsonLineOf(ev::TestEnded{"Form1", "Fuel pump ", ev::Verdict::Passed, "OK "});
  EXPECT_EQ(ended["window"], "tests");
  EXPECT_EQ(ended["name"], "Fuel pump");
  EXPECT_EQ(ended["verdict"], "passed");
  EXPECT_EQ(ended["text"], "OK");
  EXPECT_FALSE(ended.contains("shown"));
  EXPECT_EQ(JsonLineOf(ev::TestStarted{"Form2", "80 fuel pump", 0x80})["window"], "main");
  EXPECT_EQ(JsonLineOf(ev::Connecting{"sim", "15Rc"})["ecu"], "15rc");
  EXPECT_EQ(JsonLineOf(ev::Connecting{"sim", "P8-sensor"})["ecu"], "p8-sensor");

  const nlohmann::json first = JsonLineOf(ev::TrimmerSet{-1, 140});
  EXPECT_TRUE(first["before"].is_null());
  EXPECT_EQ(first["after"], 140);
  const nlohmann::json co = JsonLineOf(ev::CoRegulationSet{false, true});
  EXPECT_EQ(co["before"], false);
  EXPECT_EQ(co["after"], true);

  KeptJsonLines k;
  k.onLog("Form3", "8000  ");
  EXPECT_EQ(k.lines.at(0)["window"], "diag");
  // The log keeps its lines as they are.
  EXPECT_EQ(k.lines.at(0)["text"], "8000  ");
}
