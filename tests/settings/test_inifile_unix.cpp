// The settings file where the system has modes, links and processes: a save keeps the file's mode
// and goes through a link, and killed or concurrent writers never leave a torn file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>

#include "settings/inifile.h"
#include "settings/settingsfiles.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
namespace fs = std::filesystem;

namespace {

// A child process that saves the versions `fills` in turn, `times` times (forever when negative).
pid_t forkWriter(const std::string& path, const std::string& fills, int times) {
  pid_t pid = ::fork();
  if (pid != 0) return pid;
  IniFile ini(path);
  for (int i = 0; times < 0 || i < times; ++i)
    if (!ini.write("Data", "Blob", std::string(kBlob, fills[i % fills.size()]))) ::_exit(1);
  ::_exit(0);
}

}  // namespace

TEST(IniFile, SavingReplacesTheFileAndKeepsItsMode) {
  IniFile ini(test::TempSettingsPath());
  spit(ini.path(), "[Hardware]\r\nCom=1\r\n");
  fs::permissions(ini.path(), fs::perms(0640));
  std::ifstream held(ini.path(), std::ios::binary);  // a reader that opened the old file
  ASSERT_TRUE(ini.write("Hardware", "Com", "2"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(held), {}), "[Hardware]\r\nCom=1\r\n");
  EXPECT_EQ(slurp(ini.path()), "[Hardware]\r\nCom=2\r\n");
  EXPECT_EQ(fs::status(ini.path()).permissions(), fs::perms(0640));
  EXPECT_EQ(folderEntries(ini.path()), std::vector<std::string>{"klinediag.ini"});
}

// A link is saved through to its target; a read-only folder is left as it is, and told once. That
// holds as root too: the mode bits decide.
TEST(IniFile, SavingThroughALinkOrWhereItMustNot) {
  const std::string old = "[Hardware]\r\nCom=1\r\n";
  struct Row {
    const char* name;
    std::function<fs::path(const fs::path& dir)> setup;
    const char* failure;  // empty: the save succeeds
  };
  const Row rows[] = {
      {"symbolic link",
       [&](const fs::path& d) {
         fs::create_directory(d / "real");
         spit(d / "real" / "target.ini", old);
         fs::create_symlink("real/target.ini", d / "klinediag.ini");
         return d / "klinediag.ini";
       },
       ""},
      {"read-only folder",
       [&](const fs::path& d) {
         fs::create_directory(d / "ro");
         spit(d / "ro" / "klinediag.ini", old);
         fs::permissions(d / "ro", fs::perms(0555));
         return d / "ro" / "klinediag.ini";
       },
       "ro is read-only"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const fs::path dir = fs::path(test::TempSettingsPath()).parent_path();
    const fs::path path = r.setup(dir);
    const std::string before = fs::is_regular_file(path) ? slurp(path) : "";
    IniFile ini(path);
    std::vector<std::string> told;
    ini.onFirstFailure([&](const std::string& why) { told.push_back(why); });
    const bool saved = ini.write("Hardware", "Com", "7");
    ini.write("Hardware", "Ecu", "2");
    if (!*r.failure) {
      EXPECT_TRUE(saved);
      EXPECT_TRUE(fs::is_symlink(path));
      EXPECT_EQ(slurp(dir / "real" / "target.ini"), "[Hardware]\r\nCom=7\r\nEcu=2\r\n");
      EXPECT_EQ(folderEntries(fs::canonical(path)), std::vector<std::string>{"target.ini"});
      EXPECT_THAT(told, testing::IsEmpty());
      continue;
    }
    EXPECT_FALSE(saved);
    EXPECT_THAT(ini.lastError(), testing::HasSubstr(r.failure));
    EXPECT_THAT(told, testing::ElementsAre(testing::HasSubstr(r.failure)));
    if (fs::is_regular_file(path)) {
      EXPECT_EQ(slurp(path), before);
    }
    // Told on being asked when the failure came first.
    IniFile later(path);
    later.write("Hardware", "Com", "7");
    int heard = 0;
    later.onFirstFailure([&](const std::string&) { ++heard; });
    EXPECT_EQ(heard, 1);
    if (fs::exists(dir / "ro")) fs::permissions(dir / "ro", fs::perms(0755));
    EXPECT_EQ(folderEntries(path).size(), fs::exists(path.parent_path()) ? 1u : 0u);
  }
}

TEST(IniFile, AKilledWriterLeavesTheOldOrTheNewFileWhole) {
  IniFile ini(test::TempSettingsPath());
  spit(ini.path(), bigSettings('0'));
  std::mt19937 rng(7);
  int torn = 0;
  for (int i = 0; i < 200; ++i) {
    pid_t pid = forkWriter(ini.path(), "ab", -1);
    ASSERT_GT(pid, 0);
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 4000)(rng));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    if (!isVersion(slurp(ini.path()), "0ab")) ++torn;
  }
  EXPECT_EQ(torn, 0);
  fs::remove_all(fs::path(ini.path()).parent_path());
}

TEST(IniFile, TwoProgramsSavingAtOnceLeaveOneWholeVersion) {
  IniFile ini(test::TempSettingsPath());
  spit(ini.path(), bigSettings('0'));
  int tornRounds = 0, failedWrites = 0, leftovers = 0;
  for (int round = 0; round < 100; ++round) {
    bool torn = false;
    pid_t a = forkWriter(ini.path(), "a", 4), b = forkWriter(ini.path(), "b", 4);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    int running = 2;
    while (running > 0) {
      torn |= !isVersion(slurp(ini.path()), "0ab");
      for (pid_t* p : {&a, &b}) {
        int status = 0;
        if (*p > 0 && ::waitpid(*p, &status, WNOHANG) == *p) {
          if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failedWrites;
          *p = 0;
          --running;
        }
      }
      ::usleep(300);
    }
    torn |= !isVersion(slurp(ini.path()), "ab");
    if (folderEntries(ini.path()) != std::vector<std::string>{"klinediag.ini"}) ++leftovers;
    if (torn) {
      ++tornRounds;
      spit(ini.path(), bigSettings('0'));
    }
  }
  EXPECT_EQ(tornRounds, 0);
  EXPECT_EQ(failedWrites, 0);
  EXPECT_EQ(leftovers, 0);
}
