// The settings file where another program may hold it open without delete sharing (a reader of
// any kind, or a second klinediag saving at the same moment): the save waits for it, keeps the
// file's attributes, and two writers still leave one whole version that every read finds.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "settings/inifile.h"
#include "settings/settingsfiles.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
namespace fs = std::filesystem;

TEST(IniFile, ASaveWaitsForAReaderAndKeepsTheFileAttributes) {
  IniFile ini(TempSettingsPath());
  spit(ini.path(), "[Hardware]\r\nCom=1\r\n");
  const fs::path path = ini.path();
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread letGo([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    CloseHandle(held);
  });
  const bool saved = ini.write("Hardware", "Com", "2");
  letGo.join();
  EXPECT_TRUE(saved) << ini.lastError();
  EXPECT_EQ(slurp(path), "[Hardware]\r\nCom=2\r\n");
  EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(folderEntries(path), std::vector<std::string>{"klinediag.ini"});
}

TEST(IniFile, TwoWritersAtOnceLeaveOneWholeVersion) {
  IniFile ini(TempSettingsPath());
  spit(ini.path(), bigSettings('0'));
  std::atomic<int> failed{0}, torn{0};
  std::atomic<bool> writing{true};
  auto writer = [&](char fill) {
    IniFile mine(ini.path());
    for (int i = 0; i < 20; ++i)
      if (!mine.write("Data", "Blob", std::string(kBlob, fill))) ++failed;
  };
  std::thread reader([&] {
    // What a third program reading the settings meanwhile finds: the whole file every time.
    while (writing)
      if (ini.read("Hardware", "Com") != "3" || ini.read("Data", "End") != "1") ++torn;
  });
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  writing = false;
  reader.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(torn, 0);
  EXPECT_TRUE(isVersion(slurp(ini.path()), "ab"));
  EXPECT_EQ(folderEntries(ini.path()), std::vector<std::string>{"klinediag.ini"});
}
