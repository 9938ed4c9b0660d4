// The main window's settings file at load and connect, and the poll loop's timer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string withIni(const std::string& text) {
  std::string path = TempSettingsPath();
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

SimConfig p8() {
  SimConfig c;
  c.type = EcuType::P8;
  return c;
}

}  // namespace

TEST(Settings, NoFileKeepsDefaultsAndFirstConnectWritesBothKeys) {
  SimSession s(p8());
  EXPECT_EQ(s.form->ctl.text("Text6"), "1");
  EXPECT_EQ(s.form->ctl.value("Option1"), 1);
  s.form->ctl.setText("Text6", "03");
  s.form->ctl.userClick("Check2");
  EXPECT_EQ(slurp(s.settingsPath), "[Hardware]\r\nCom=3\r\nEcu=1\r\n");
}

TEST(Settings, StoredTypeIsSelectedAndWrittenBackAtLoad) {
  struct Row {
    const char* ecu;
    const char* option;
    bool writtenBack;
  } rows[] = {{"1", "Option1", false}, {"2", "Option2", true},  {"3", "Option7", true},
              {"4", "Option9", true},  {"5", "Option1", false}, {"x", "Option1", false},
              {"", "Option1", false}};
  for (const auto& r : rows) {
    // The key is stored in lower case, so a write-back shows as "Ecu=" in the file.
    std::string text = std::string("[Hardware]\r\nCom=4\r\necu=") + r.ecu + "\r\n";
    SimSession s(p8(), withIni(text));
    EXPECT_EQ(s.form->ctl.value(r.option), 1) << r.ecu;
    EXPECT_EQ(s.form->ctl.text("Text6"), "4");
    std::string expected =
        r.writtenBack ? std::string("[Hardware]\r\nCom=4\r\nEcu=") + r.ecu + "\r\n" : text;
    EXPECT_EQ(slurp(s.settingsPath), expected) << r.ecu;
  }
}

TEST(Settings, PortTextWithoutNumberIsShownAsTypedAndStoredAsZero) {
  SimSession s(p8(), withIni("[Hardware]\r\nCom=abc\r\n"));
  EXPECT_EQ(s.form->ctl.text("Text6"), "abc");
  s.form->ctl.userClick("Check2");
  EXPECT_EQ(s.opened, std::vector<std::string>{"0"});
  EXPECT_EQ(s.form->ctl.caption("Check2"), "Connect");
  EXPECT_EQ(slurp(s.settingsPath), "[Hardware]\r\nCom=0\r\nEcu=1\r\n");
}

TEST(Settings, SecondP8KeepsTheStoredTypeAndSimIsStoredAsTyped) {
  SimSession s(p8(), withIni("[Hardware]\r\nCom=2\r\nEcu=3\r\n"));
  s.connect("Option8");
  EXPECT_EQ(slurp(s.settingsPath), "[Hardware]\r\nCom=sim\r\nEcu=3\r\n");
}

TEST(Loop, TicksEvery50MsAfterConnectWhateverTheRefreshField) {
  SimConfig c;
  c.ignitionMs = 100000;
  SimSession s(c);
  s.form->ctl.setText("Text5", "0");
  s.connect();
  s.run(260);
  std::vector<uint64_t> ticks;
  for (const auto& e : s.rec.of("log"))
    if (e.text == "init = false => call initial ") ticks.push_back(e.t);
  EXPECT_THAT(ticks, ElementsAre(58, 108, 158, 208, 258));
}

TEST(Loop, PauseFieldDelaysEachTickAndBadValuesGiveNone) {
  struct Row {
    const char* pause;
    uint64_t firstLine;
  } rows[] = {{"5", 63}, {"20", 78}, {"abc", 58}, {"-7", 58}, {"2.5", 60}};
  for (const auto& r : rows) {
    SimConfig c;
    c.ignitionMs = 100000;
    SimSession s(c);
    s.form->ctl.setText("Text5", r.pause);
    s.connect();
    s.run(60 + 30);
    auto logs = s.rec.of("log");
    ASSERT_GE(logs.size(), 2u);
    EXPECT_EQ(logs[1].t, r.firstLine) << r.pause;
  }
}

TEST(Loop, RefreshFieldSetsTheIntervalAndEmptyStopsIt) {
  SimConfig c;
  c.ignitionMs = 100000;
  SimSession s(c);
  s.connect();
  s.form->ctl.userSetText("Text2", "250");
  EXPECT_EQ(s.host.timerInterval(), 250);
  s.form->ctl.userSetText("Text2", "");
  EXPECT_EQ(s.host.timerInterval(), 0);
  auto before = s.rec.logLines().size();
  s.run(1000);
  EXPECT_EQ(s.rec.logLines().size(), before);
  s.form->ctl.userSetText("Text2", "99999");
  EXPECT_EQ(s.host.timerInterval(), 32767);
  s.form->ctl.userSetText("Text2", "40");
  s.run(100);
  EXPECT_GT(s.rec.logLines().size(), before);
}

TEST(Loop, TickingEcuDataWhileConnectedSkipsTheIdentification) {
  SimSession s(p8());
  s.form->ctl.setValue("Check3", 0);
  s.form->ctl.setValue("Check3", 1);  // before connecting: no lasting effect
  s.connect("Option2");
  EXPECT_EQ(s.form->ecuinf, kFalse);
  s.form->ctl.setValue("Check3", 0);
  s.form->ctl.setValue("Check3", 1);
  EXPECT_EQ(s.form->ecuinf, kTrue);
  s.run(100);
  EXPECT_THAT(s.rec.logLines(), ElementsAre("1200bds", "7812", "Cal: 0 "));
}

TEST(CopyLog, PutsThePaneTextWithCrLfOnTheClipboard) {
  SimSession s(p8());
  s.connect("Option2");
  s.form->ctl.userClick("Command1");
  EXPECT_EQ(s.host.clipboard(), "1200bds\r\n7812\r\n");
  EXPECT_EQ(s.form->ctl.log().text(), s.host.clipboard());
}
