// The safe save's order of system calls, which only a power loss would show otherwise: the new
// file reaches the disk before it takes the old one's place, and a failing step leaves the old
// file and says why.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "settings/safesave.h"
#include "settings/settingsfiles.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::test;
namespace fs = std::filesystem;

namespace {

// The system's steps, each noted by name; the step named `failAt` fails instead of running.
class WatchedSteps : public SaveSteps {
 public:
  explicit WatchedSteps(std::string failAt) : failAt_(std::move(failAt)) {}
  std::vector<std::string> calls;

  std::string create(const fs::path& target, bool exists, fs::path& tmp) override {
    return step("create", [&] { return real_->create(target, exists, tmp); });
  }
  std::string write(const std::string& text) override {
    return step("write", [&] { return real_->write(text); });
  }
  std::string sync() override {
    return step("sync", [&] { return real_->sync(); });
  }
  std::string close() override {
    return step("close", [&] { return real_->close(); });
  }
  std::string rename(const fs::path& tmp, const fs::path& target) override {
    return step("rename", [&] { return real_->rename(tmp, target); });
  }
  void syncFolder(const fs::path& dir) override {
    step("syncFolder", [&] { return real_->syncFolder(dir), std::string(); });
  }
  void remove(const fs::path& tmp) override {
    step("remove", [&] { return real_->remove(tmp), std::string(); });
  }

 private:
  template <typename F>
  std::string step(const char* name, F run) {
    calls.push_back(name);
    return name == failAt_ ? "Input/output error" : run();
  }
  std::unique_ptr<SaveSteps> real_ = SystemSaveSteps();
  std::string failAt_;
};

}  // namespace

TEST(SafeSave, TheNewFileIsOnTheDiskBeforeItReplacesTheOldAndAFailedStepKeepsTheOld) {
  struct Row {
    const char* failAt;  // empty: every step succeeds
    std::vector<std::string> calls;
  };
  const Row rows[] = {
      {"", {"create", "write", "sync", "close", "rename", "syncFolder"}},
      {"write", {"create", "write", "close", "remove"}},
      {"sync", {"create", "write", "sync", "close", "remove"}},
      {"rename", {"create", "write", "sync", "close", "rename", "remove"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.failAt);
    const fs::path target = TempSettingsPath(), dir = target.parent_path();
    spit(target, "old");
    WatchedSteps steps(r.failAt);
    const std::string why = ReplaceContent(target, dir, "new", true, steps);
    EXPECT_EQ(steps.calls, r.calls);
    EXPECT_EQ(why, *r.failAt ? "writing it failed: Input/output error" : "");
    EXPECT_EQ(slurp(target), *r.failAt ? "old" : "new");
    EXPECT_EQ(folderEntries(target), std::vector<std::string>{target.filename().string()});
    fs::remove_all(dir);
  }
}
