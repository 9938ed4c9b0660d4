#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "serial/inifile.h"
#include "support/simsession.h"

using namespace kline;

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(IniFile, MissingFileReadsEmptyAndFirstWriteCreatesIt) {
  IniFile ini(test::TempSettingsPath());
  EXPECT_EQ(ini.read("Hardware", "Com"), "");
  EXPECT_TRUE(ini.write("Hardware", "Com", "1"));
  EXPECT_TRUE(ini.write("Hardware", "Ecu", "1"));
  EXPECT_EQ(slurp(ini.path()), "[Hardware]\r\nCom=1\r\nEcu=1\r\n");
  EXPECT_EQ(ini.read("Hardware", "Com"), "1");
}

TEST(IniFile, LookupIgnoresCaseAndBlanksAndKeepsOtherLines) {
  IniFile ini(test::TempSettingsPath());
  spit(
      ini.path(),
      "; kept comment\n[Other]\nCom=9\n\n[ hardware ]\n  COM = 4  \nEcu=3\nExtra=x\n[Tail]\nk=v\n");
  EXPECT_EQ(ini.read("HARDWARE", "com"), "4");
  EXPECT_EQ(ini.read("Other", "Com"), "9");
  EXPECT_EQ(ini.read("Hardware", "missing"), "");
  EXPECT_EQ(ini.read("Nowhere", "Com"), "");
  ASSERT_TRUE(ini.write("Hardware", "com", "7"));
  ASSERT_TRUE(ini.write("Hardware", "New", "n"));
  EXPECT_EQ(
      slurp(ini.path()),
      "; kept comment\r\n[Other]\r\nCom=9\r\n\r\n[ hardware ]\r\ncom=7\r\nEcu=3\r\nExtra=x\r\n"
      "New=n\r\n[Tail]\r\nk=v\r\n");
}

TEST(IniFile, LongValueIsCutTo254Characters) {
  IniFile ini(test::TempSettingsPath());
  ini.write("Hardware", "Com", std::string(300, 'x'));
  EXPECT_EQ(ini.read("Hardware", "Com"), std::string(254, 'x'));
}

TEST(IniFile, BinaryOrHugeFileReadsEmptyAndIsNeverRewritten) {
  IniFile ini(test::TempSettingsPath());
  std::string binary = std::string("[Hardware]\nCom=5\n") + '\0' + "junk";
  spit(ini.path(), binary);
  EXPECT_EQ(ini.read("Hardware", "Com"), "");
  EXPECT_FALSE(ini.write("Hardware", "Com", "1"));
  EXPECT_EQ(slurp(ini.path()), binary);

  std::string huge = "[Hardware]\nCom=5\n" + std::string(IniFile::kMaxBytes, ';');
  spit(ini.path(), huge);
  EXPECT_EQ(ini.read("Hardware", "Com"), "");
  EXPECT_FALSE(ini.write("Hardware", "Com", "1"));
  EXPECT_EQ(slurp(ini.path()).size(), huge.size());
}

TEST(IniFile, WriteToUnwritableFolderFailsAndLeavesNothingBehind) {
  IniFile ini("/proc/klinediag-no-such-dir/klinediag.ini");
  EXPECT_FALSE(ini.write("Hardware", "Com", "1"));
  EXPECT_EQ(ini.read("Hardware", "Com"), "");
}
