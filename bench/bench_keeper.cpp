// What keeping the records costs the session thread per live cycle: the keeper's onEvent for a
// completed cycle of nine channels while its own thread writes to a real records file, against
// the session report's sums alone. The longest single call shows whether a write ever reaches
// the session thread (target: no call over 1 ms; the 15m's cycle takes about 60 ms).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

#include "livedata/numbers.h"
#include "records/recordkeeper.h"
#include "session/sessionreport.h"

namespace {

using namespace kline;
using Clock = std::chrono::steady_clock;

std::vector<ev::LiveCycle> Cycles() {
  std::mt19937 rng(7);
  std::vector<ev::LiveCycle> out(256);
  for (auto& c : out) {
    c.completed = true;
    for (int i = 0; i < 9; ++i) {
      const double v = 100.0 + static_cast<double>(rng() % 1000) / 10.0;
      char text[16];
      std::snprintf(text, sizeof text, "%6.1f", v);
      c.channels[static_cast<std::size_t>(i)] = {true, v, text};
    }
  }
  return out;
}

std::string TempFile() {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("klinediag-bench-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(dir);
  return (dir / "records.sqlite").string();
}

// The longest call and the calls over 1 ms, as counters.
struct Longest {
  double longest = 0;
  int64_t over1ms = 0;
  template <class F>
  void time(F&& f) {
    const auto t0 = Clock::now();
    f();
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    if (us > longest) longest = us;
    if (us > 1000) ++over1ms;
  }
  void report(benchmark::State& state) const {
    state.counters["longest_us"] = longest;
    state.counters["calls_over_1ms"] = static_cast<double>(over1ms);
  }
};

// The same sums without the keeper: what the machine's scheduling alone costs the longest call.
void BM_ReportSumsPerCycle(benchmark::State& state) {
  const auto cycles = Cycles();
  SessionReport report;
  Longest l;
  std::size_t i = 0;
  for (auto _ : state) l.time([&] { report.onEvent(cycles[i++ % cycles.size()]); });
  l.report(state);
}
BENCHMARK(BM_ReportSumsPerCycle)->MinTime(3.0);

void BM_KeeperPerCycle(benchmark::State& state) {
  const auto cycles = Cycles();
  const std::string path = TempFile();
  Longest l;
  {
    records::KeeperOptions o;
    o.path = path;
    o.version = "bench";
    records::RecordKeeper keeper(o);
    keeper.onEvent(ev::Connecting{"sim", "15m"});
    ev::EcuIdentified id;
    id.ecu = "15m";
    id.identification = "KL15M-0427";
    keeper.onEvent(id);
    std::size_t i = 0;
    for (auto _ : state) l.time([&] { keeper.onEvent(cycles[i++ % cycles.size()]); });
    keeper.onEvent(ev::Disconnected{});
    if (!keeper.working()) state.SkipWithError("the records were not kept");
  }
  l.report(state);
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}
// Long enough for several of the keeper's writes to fall inside the measured calls.
BENCHMARK(BM_KeeperPerCycle)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
