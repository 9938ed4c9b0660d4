// Reading back a one-hour recording (about 20,000 rows of ten channels, as CsvRecorder writes
// them): the target is well under a second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "livedata/csvrecorder.h"
#include "livedata/recording.h"

namespace {

constexpr int kRows = 20000;

// Writes the recording once, through the recorder, with values that change from row to row.
std::string MakeRecording() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "klinediag-bench-recording.csv").string();
  int64_t ms = 1796570431123;
  kline::CsvRecorder csv([&ms] { return kline::WallTime{ms, 60}; });
  if (!csv.open(path).empty()) return {};
  for (int row = 0; row < kRows; ++row) {
    ms += 180;
    kline::ev::LiveCycle cycle;
    cycle.lineMs = static_cast<uint32_t>(row * 180);
    cycle.completed = true;
    for (int i = 0; i < 10; ++i)
      cycle.channels[static_cast<std::size_t>(i)].text =
          i == 9 && row % 7 == 0
              ? " ----"
              : std::to_string(1000 + row % 97 * i) + "." + std::to_string(row % 10);
    csv.row(cycle);
  }
  csv.close();
  return path;
}

void BM_ReadOneHourRecording(benchmark::State& state) {
  static const std::string path = MakeRecording();
  if (path.empty()) {
    state.SkipWithError("cannot write the recording");
    return;
  }
  for (auto _ : state) {
    kline::Recording r = kline::ReadRecording(path);
    if (r.timesMs.size() != kRows || r.skipped != 0) state.SkipWithError("rows lost");
    benchmark::DoNotOptimize(r);
  }
  state.counters["rows"] = kRows;
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
  state.SetLabel("target: well under 1 s");
}
BENCHMARK(BM_ReadOneHourRecording)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
