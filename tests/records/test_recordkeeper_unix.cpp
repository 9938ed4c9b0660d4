// The keeper when the disk fills mid-visit: the process may not grow any file (as on a full
// disk), the write fails, the keeper says so once and stops, and the session's events still
// come in.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "records/recordkeeper.h"
#include "support/simsession.h"

using namespace kline;
using namespace kline::records;

namespace {

// No file of the process grows beyond what it holds now, until the end of the scope.
class FullDisk {
 public:
  explicit FullDisk(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &was_);
    // A write past the limit then fails with EFBIG instead of ending the process.
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit r = was_;
    r.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &r);
  }
  ~FullDisk() {
    setrlimit(RLIMIT_FSIZE, &was_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;

 private:
  rlimit was_{};
  void (*oldHandler_)(int) = nullptr;
};

}  // namespace

TEST(RecordKeeper, ADiskThatFillsMidVisitIsToldOnceAndTheSessionGoesOn) {
  const std::string path = (test::TempFolder() / "records.sqlite").string();
  std::vector<std::string> problems;
  KeeperOptions o;
  o.path = path;
  o.onProblem = [&](const std::string& why) { problems.push_back(why); };
  RecordKeeper keeper(o);
  keeper.onEvent(ev::Connecting{"sim", "15m"});
  ev::EcuIdentified id;
  id.identification = "KL15M";
  keeper.onEvent(id);
  keeper.flush();
  ASSERT_TRUE(keeper.working());
  const int64_t visit = keeper.visit();
  {
    uintmax_t biggest = 0;
    for (const auto& f :
         std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
      biggest = std::max(biggest, f.file_size());
    FullDisk full(biggest);
    Readout r;
    r.lines.assign(200, std::string(1000, 'x'));
    r.fault.assign(200, true);
    for (int i = 0; i < 5; ++i) {
      keeper.onEvent(ev::ReadoutDone{r});
      keeper.flush();
    }
  }
  EXPECT_FALSE(keeper.working());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_FALSE(problems[0].empty());
  // What comes later is dropped quietly.
  keeper.onEvent(ev::Disconnected{});
  keeper.onEvent(ev::Connecting{"sim", "15m"});
  keeper.onEvent(id);
  keeper.flush();
  EXPECT_EQ(problems.size(), 1u);
  EXPECT_EQ(keeper.visit(), visit);
  EXPECT_EQ(IntegrityCheck(path), "ok");
}
