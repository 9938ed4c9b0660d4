// File names outside ASCII, as a user folder on a workshop PC may have them: every file the
// program opens by name (settings, recording, simulator description) is found and written under
// its very name. On Windows this is where a narrow name would go through the ANSI code page.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "livedata/csvrecorder.h"
#include "livedata/recording.h"
#include "serial/filepath.h"
#include "settings/inifile.h"
#include "settings/settingsfiles.h"
#include "sim/simconfig.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
namespace fs = std::filesystem;

TEST(FilePath, NamesOutsideAsciiAreOpenedUnderTheirOwnName) {
  // Latin, Greek and Japanese: no single ANSI code page holds them all.
  const std::string folderName = "J\xC3\xA9r\xC3\xB4me \xCE\xA9\xCE\xBC \xE6\x9D\xB1\xE4\xBA\xAC";
  const fs::path folder = TempFolder() / PathFromUtf8(folderName);
  ASSERT_TRUE(fs::create_directory(folder));
  const std::string dir = PathToUtf8(folder);
  EXPECT_EQ(dir.substr(dir.size() - folderName.size()), folderName);

  IniFile ini(dir + "/klinediag.ini");
  EXPECT_TRUE(ini.write("Hardware", "Com", "3")) << ini.lastError();
  EXPECT_TRUE(ini.write("Hardware", "Ecu", "2")) << ini.lastError();
  EXPECT_EQ(ini.read("Hardware", "Com"), "3");
  EXPECT_EQ(slurp(folder / "klinediag.ini"), "[Hardware]\r\nCom=3\r\nEcu=2\r\n");

  CsvRecorder csv;
  const std::string recording = dir + "/r\xC3\xA9sultat.csv";
  ASSERT_EQ(csv.open(recording), "");
  csv.close();
  const Recording back = ReadRecording(recording);
  EXPECT_EQ(back.error, "");
  EXPECT_EQ(back.channels.size(), 10u);

  spit(folder / PathFromUtf8("\xCE\xB5\xCF\x83.json"), "{\"burst\": \"00 55 A3\"}");
  std::string text;
  EXPECT_EQ(ReadSimFile(dir + "/\xCE\xB5\xCF\x83.json", text), "");
  EXPECT_EQ(text, "{\"burst\": \"00 55 A3\"}");

  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.push_back(PathToUtf8(e.path().filename()));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"klinediag.ini", "r\xC3\xA9sultat.csv",
                                             "\xCE\xB5\xCF\x83.json"}));
  fs::remove_all(folder.parent_path());
}
