// The live cycle against the simulated ECU on a real clock: how close each cycle comes to what
// the line allows (the mandated pauses, 10 bit times per byte at 7812 baud, the ECU's latency).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "session/sessioncore.h"
#include "sim/simecu.h"

namespace {

using Clock = std::chrono::steady_clock;

// A host on the real clock for a single thread without an event loop: the cycles are called
// directly, so no timer is needed.
class RealHost : public kline::Host {
 public:
  uint32_t timeGetTime() override { return static_cast<uint32_t>(micros() / 1000); }
  int64_t micros() override {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count();
  }
  void Sleep(int ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  void DoEvents() override {}
  void setTimer(int) override {}
  void setTimerHandler(std::function<void()>) override {}
  void setClipboard(const std::string&) override {}

 private:
  Clock::time_point start_ = Clock::now();
};

constexpr double kByteMs = 10.0 * 1000.0 / 7812.0;
constexpr double kLatencyMs = 1.0;

// Runs cycles of `option`'s type for `seconds` and reports the median period against the floor.
void RunCycles(benchmark::State& state, const char* option, kline::EcuType type, double floorMs,
               const char* text11) {
  RealHost host;
  kline::SimConfig cfg;
  cfg.type = type;
  cfg.latencyMs = kLatencyMs;
  cfg.burst = kline::SimConfig::DefaultBurst();
  kline::SessionOptions o;
  o.settingsPath = "/dev/null";
  o.sim = std::make_shared<const kline::SimConfig>(cfg);
  o.simTypeFollowsForm = false;
  o.simSleeper = [](int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); };
  kline::SessionCore session(host, std::move(o));
  kline::Form2& form = session.form();
  form.Form_Load();
  form.ctl.setValue("Check3", 0);
  form.ctl.userClick(option);
  form.ctl.setText("Text11", text11);
  form.ctl.setText("Text6", "sim");
  form.ctl.userClick("Check2");
  // The handshake, once, outside the measurement.
  while (!form.init) form.Timer1_Timer();
  form.TimerOn(0);
  form.ecuinf = form.cal_ask = kline::kTrue;

  std::vector<double> periods;
  for (auto _ : state) {
    auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
      auto t = Clock::now();
      if (type == kline::EcuType::E16m)
        form.ReadLive16m();
      else
        form.ReadLive15m();
      periods.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
    }
  }
  std::sort(periods.begin(), periods.end());
  double median = periods[periods.size() / 2];
  state.counters["cycles"] = static_cast<double>(periods.size());
  state.counters["median_ms"] = median;
  state.counters["floor_ms"] = floorMs;
  state.counters["over_floor_pct"] = (median / floorMs - 1.0) * 100.0;
}

// 15m, nine channels: 8 ms before the start discard, 8 ms before each of the nine channels and
// before the second byte of rpm and injection; eleven requests, each a byte out and an answer
// back (the echo shares the line with the request), and the ECU's latency once per request.
void BM_Cycle15mAllChannels(benchmark::State& state) {
  double floor = 8 + 9 * 8 + 2 * 8 + 11 * (2 * kByteMs + kLatencyMs);
  RunCycles(state, "Option1", kline::EcuType::E15m, floor, "10");
}

// 16m with no inter-byte delay: only the line and the ECU set the pace.
void BM_Cycle16mNoDelay(benchmark::State& state) {
  double floor = 11 * (2 * kByteMs + kLatencyMs);
  RunCycles(state, "Option7", kline::EcuType::E16m, floor, "0");
}

}  // namespace

BENCHMARK(BM_Cycle15mAllChannels)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cycle16mNoDelay)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
