// The settings file: INI lookups, saves that replace the file whole, and files it must leave alone.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>

#include "serial/filepath.h"
#include "settings/inifile.h"
#include "settings/settingsfiles.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
namespace fs = std::filesystem;

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

// Text in a Windows code page, tabs and form feeds are text: read and saved.
TEST(IniFile, TextInACodePageWithTabsIsText) {
  IniFile ini(test::TempSettingsPath());
  spit(ini.path(), "; r\xE9glages\f\n[Hardware]\n\tCom=\xC9\t\n");
  EXPECT_EQ(ini.read("Hardware", "Com"), "\xC9");
  EXPECT_TRUE(ini.write("Hardware", "Ecu", "2"));
  EXPECT_EQ(slurp(ini.path()), "; r\xE9glages\f\r\n[Hardware]\r\n\tCom=\xC9\t\r\nEcu=2\r\n");
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

// A file that must or cannot be replaced stays as it was, and the first failure is told once. The
// read-only row holds as root too: the mode bits decide.
TEST(IniFile, SavingWhereItMustNotOrCannot) {
  const std::string old = "[Hardware]\r\nCom=1\r\n";
  struct Row {
    const char* name;
    std::function<fs::path(const fs::path& dir)> setup;
    const char* failure;
  };
  const Row rows[] = {
      {"read-only file",
       [&](const fs::path& d) {
         spit(d / "klinediag.ini", old);
         fs::permissions(d / "klinediag.ini", fs::perms(0444));
         return d / "klinediag.ini";
       },
       "the file is read-only"},
      {"binary file",
       [&](const fs::path& d) {
         spit(d / "klinediag.ini", old + '\0');
         return d / "klinediag.ini";
       },
       "it is not a text file (left as it is)"},
      {"bytes that are not text, without a NUL",
       [](const fs::path& d) {
         std::mt19937 random(18);
         std::string bytes;
         for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(1 + random() % 255);
         spit(d / "klinediag.ini", "[Hardware]\nCom=5\n" + bytes);
         return d / "klinediag.ini";
       },
       "it is not a text file (left as it is)"},
      {"directory",
       [](const fs::path& d) {
         fs::create_directory(d / "klinediag.ini");
         return d / "klinediag.ini";
       },
       "it is a directory"},
      {"missing folder", [](const fs::path& d) { return d / "none" / "klinediag.ini"; },
       "cannot write in the folder "},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const fs::path dir = fs::path(test::TempSettingsPath()).parent_path();
    const fs::path path = r.setup(dir);
    const std::string before = fs::is_regular_file(path) ? slurp(path) : "";
    IniFile ini(PathToUtf8(path));
    std::vector<std::string> told;
    ini.onFirstFailure([&](const std::string& why) { told.push_back(why); });
    const bool saved = ini.write("Hardware", "Com", "7");
    ini.write("Hardware", "Ecu", "2");
    EXPECT_FALSE(saved);
    EXPECT_THAT(ini.lastError(), testing::HasSubstr(r.failure));
    EXPECT_THAT(told, testing::ElementsAre(testing::HasSubstr(r.failure)));
    if (fs::is_regular_file(path)) {
      EXPECT_EQ(slurp(path), before);
    }
    // Told on being asked when the failure came first.
    IniFile later(PathToUtf8(path));
    later.write("Hardware", "Com", "7");
    int heard = 0;
    later.onFirstFailure([&](const std::string&) { ++heard; });
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(folderEntries(path).size(), fs::exists(path.parent_path()) ? 1u : 0u);
  }
}
