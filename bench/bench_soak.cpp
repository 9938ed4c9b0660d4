// A week of session on virtual time, in minutes of real time: the main window's logic against the
// simulated ECU, the ECU types in turn, with faults and lost adapters every few hours. Reports the
// peak memory, how memory grows per hour of session apart from the log pane, the log pane's
// size, and the longest tick (line time and real time).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "connection/ecutypes.h"
#include "session/sessioncore.h"
#include "sim/simecu.h"
#include "sim/virtualhost.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t kHour = 3600 * 1000;

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"); 0 where there is none.
double StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string key;
  double value = 0;
  while (in >> key) {
    if (key == std::string(field) + ":") {
      in >> value;
      return value;
    }
    in.ignore(4096, '\n');
  }
  return 0;
}

// The log pane's own memory, roughly: a string in a deque slot per line, and the text of those
// too long to be kept in the string itself, in a heap block with the allocator's header.
double PaneKb(const kline::LogPane& pane) {
  double bytes = 0;
  for (const auto& l : pane.lines()) {
    bytes += sizeof(std::string);
    if (l.capacity() > 15) bytes += static_cast<double>((l.capacity() + 1 + 15) / 16 * 16 + 16);
  }
  return bytes / 1024.0;
}

// The main window on virtual time against the simulated ECU, keeping nothing of what it
// publishes (a recorder of every event would measure itself).
struct Session {
  explicit Session(kline::SimConfig c) : cfg(std::move(c)) {
    kline::SessionOptions o;
    o.settingsPath = path;
    o.sim = std::make_shared<const kline::SimConfig>(cfg);
    o.simTypeFollowsForm = false;
    core = std::make_unique<kline::SessionCore>(host, std::move(o));
    form = &core->form();
    form->Form_Load();
  }
  ~Session() { std::filesystem::remove_all(dir); }
  void connect(const char* option) {
    form->ctl.userClick(option);
    form->ctl.setText("Text6", "sim");
    form->ctl.userClick("Check2");
  }
  void disconnect() { form->ctl.userClick("Check2"); }

  std::string dir = [] {
    std::string p = (std::filesystem::temp_directory_path() / "klinediag-soak-XXXXXX").string();
    return ::mkdtemp(p.data()) ? p : std::string(".");
  }();
  std::string path = dir + "/klinediag.ini";
  kline::SimConfig cfg;
  kline::VirtualHost host;
  std::unique_ptr<kline::SessionCore> core;
  kline::Form2* form = nullptr;
};

// `hours` of session: every hour the user (or the adapter) does something, chosen by a seeded
// generator so every run is the same week.
void Soak(benchmark::State& state, uint64_t hours) {
  const auto types = kline::EcuTypes();
  for (auto _ : state) {
    kline::SimConfig base;
    base.burst = kline::SimConfig::DefaultBurst();
    base.ignitionMs = 300;
    Session s(base);
    uint64_t longestTickMs = 0;
    double longestTickRealMs = 0;
    s.host.setTimerHandler([&] {
      const uint64_t t0 = s.host.now();
      const auto r0 = Clock::now();
      s.form->Timer1_Timer();
      longestTickMs = std::max(longestTickMs, s.host.now() - t0);
      longestTickRealMs = std::max(
          longestTickRealMs, std::chrono::duration<double, std::milli>(Clock::now() - r0).count());
    });
    std::mt19937 rng(20261206);
    int type = 0;
    double rssAtDay1 = 0;
    double paneAtDay1 = 0;
    auto reconnect = [&](kline::SimConfig cfg) {
      if (s.form->ctl.value("Check2") == 1) s.disconnect();
      s.cfg = cfg;
      s.connect(types[static_cast<std::size_t>(type)].option);
    };
    for (uint64_t h = 0; h < hours; ++h) {
      s.host.schedule(h * kHour + 1, [&, h] {
        kline::SimConfig cfg = base;
        if (h % 24 == 0) type = static_cast<int>((h / 24) % types.size());
        cfg.type = types[static_cast<std::size_t>(type)].sim;
        switch (rng() % 6) {
          case 0:  // the adapter is pulled out within the hour
            cfg.lostAfterMs = static_cast<int>(60000 + rng() % (50 * 60000));
            break;
          case 1:  // the ignition goes off within the hour
            cfg.silentAfterMs = static_cast<int>(60000 + rng() % (50 * 60000));
            break;
          case 2:  // two sensors stop answering
            cfg.silent = {static_cast<uint8_t>(1 + rng() % 10),
                          static_cast<uint8_t>(1 + rng() % 10)};
            break;
          case 3:  // a fault readout and the immobiliser state, then on as before
            s.form->ctl.userClick("Command11");
            s.form->ctl.userClick("Command2");
            if (s.form->portOpen()) return;
            break;
          default:
            break;
        }
        reconnect(cfg);
        if (h == 24) {
          rssAtDay1 = StatusKb("VmRSS");
          paneAtDay1 = PaneKb(s.form->ctl.log());
        }
      });
    }
    s.host.runUntil(hours * kHour);
    const double rss = StatusKb("VmRSS");
    const double pane = PaneKb(s.form->ctl.log());
    state.counters["peak_rss_mb"] = StatusKb("VmHWM") / 1024.0;
    state.counters["rss_mb"] = rss / 1024.0;
    state.counters["pane_lines"] = static_cast<double>(s.form->ctl.log().size());
    state.counters["pane_mb"] = pane / 1024.0;
    // Growth after the first day, less what the pane took meanwhile.
    state.counters["kb_per_hour_apart_from_pane"] =
        hours > 24 ? ((rss - rssAtDay1) - (pane - paneAtDay1)) / static_cast<double>(hours - 24)
                   : 0;
    state.counters["longest_tick_line_ms"] = static_cast<double>(longestTickMs);
    state.counters["longest_tick_real_ms"] = longestTickRealMs;
    s.form->Form_Unload();
  }
}

// Seven days. Targets: memory apart from the pane flat (a few kB per hour at most, from the
// allocator), the pane at most a million lines.
void BM_SoakWeek(benchmark::State& state) {
  Soak(state, 7 * 24);
}

}  // namespace

BENCHMARK(BM_SoakWeek)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
