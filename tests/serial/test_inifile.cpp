#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "serial/inifile.h"
#include "support/simsession.h"

using namespace kline;

namespace {

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

namespace fs = std::filesystem;

// A settings file of a few hundred KB, its [Hardware] section first; `fill` tells the versions
// apart, and a torn or mixed file matches none of them.
constexpr std::size_t kBlob = 300000;
std::string bigSettings(char fill) {
  return "[Hardware]\r\nCom=3\r\nEcu=1\r\n\r\n[Data]\r\nBlob=" + std::string(kBlob, fill) +
         "\r\nEnd=1\r\n";
}
bool isVersion(const std::string& text, const std::string& fills) {
  auto blob = text.find("Blob=");
  if (blob == std::string::npos || (blob += 5) >= text.size()) return false;
  return fills.find(text[blob]) != std::string::npos && text == bigSettings(text[blob]);
}
// The names in the folder of `path`.
std::vector<std::string> folderEntries(const fs::path& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(path.parent_path(), ec))
    names.push_back(e.path().filename().string());
  return names;
}

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

// A link is saved through to its target; a file that must or cannot be replaced stays as it was,
// and the first failure is told once. The read-only rows hold as root too: the mode bits decide.
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
      {"read-only file",
       [&](const fs::path& d) {
         spit(d / "klinediag.ini", old);
         fs::permissions(d / "klinediag.ini", fs::perms(0444));
         return d / "klinediag.ini";
       },
       "the file is read-only"},
      {"read-only folder",
       [&](const fs::path& d) {
         fs::create_directory(d / "ro");
         spit(d / "ro" / "klinediag.ini", old);
         fs::permissions(d / "ro", fs::perms(0555));
         return d / "ro" / "klinediag.ini";
       },
       "ro is read-only"},
      {"binary file",
       [&](const fs::path& d) {
         spit(d / "klinediag.ini", old + '\0');
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
       "none: No such file or directory"},
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
