// The live chart stays smooth with a long history: the longest stall of the GUI thread while the
// chart shows all nine channels after an hour of cycles and a live session feeds it (target
// 16 ms), and the time from opening an hour-long recording to its first drawn frame (target
// under 1 s), and the first frame of a recording with many channels.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "gui/session/session.h"
#include "gui/windows/chartwindow.h"
#include "gui/windows/mainwindow.h"
#include "livedata/csvrecorder.h"
#include "sim/simconfig.h"

namespace {

constexpr int kHourCycles = 20000;  // an hour at about 5.5 cycles a second
constexpr uint32_t kCycleMs = 180;

kline::LiveValues HourValues(int i) {
  return {1200.0 + (i * 37) % 6000,
          2.5 + (i % 40) * 0.05,
          5.0 + i % 30,
          400.0 + (i * 13) % 600,
          20.0 + (i / 500) % 10,
          60.0 + (i / 200) % 40,
          (i * 7) % 90,
          13.0 + (i % 20) * 0.05,
          i % 64};
}

// Feeds an hour of cycles to the chart and opens it, then runs a live session on the simulated
// ECU for 12 s while the chart (all nine strips, the default 60 s window) redraws; a 5 ms probe
// timer records the gaps between turns of the GUI event loop. The opening is reported apart.
void BM_ChartLongestStall(benchmark::State& state) {
  QTemporaryDir dir;
  auto cfg =
      std::make_shared<kline::SimConfig>(kline::SimConfig::FromJson("{}", kline::EcuType::E15m));
  cfg->ignitionMs = 300;
  Session session(dir.filePath("bench.ini"), cfg);
  MainWindow window(session);
  ChartWindow* chart = window.chartWindow();
  for (int i = 0; i < kHourCycles; ++i)
    chart->addCycle(static_cast<quint32>(i) * kCycleMs, HourValues(i));
  // Opening the windows (their first layout and paint) is timed on its own; the probe starts
  // once they are on screen.
  QElapsedTimer opening;
  opening.start();
  window.show();
  chart->show();
  QCoreApplication::processEvents();
  chart->redraw();
  QCoreApplication::processEvents();
  state.counters["open_ms"] = static_cast<double>(opening.nsecsElapsed()) / 1e6;
  session.start();

  std::vector<double> gaps;
  double longestAt = 0, longest = 0;
  QElapsedTimer run;
  run.start();
  QElapsedTimer since;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (since.isValid()) {
      gaps.push_back(static_cast<double>(since.nsecsElapsed()) / 1e6);
      if (gaps.back() > longest) {
        longest = gaps.back();
        longestAt = static_cast<double>(run.elapsed()) / 1000.0;
      }
    }
    since.restart();
  });
  std::size_t before = 0;
  for (auto _ : state) {
    before = chart->liveModel().size();
    QTimer::singleShot(200, [&] {
      session.setValue(QStringLiteral("Check4"), 1);
      session.setText(QStringLiteral("Text6"), QStringLiteral("sim"));
      session.click(QStringLiteral("Check2"));
    });
    QTimer::singleShot(12000, [&] { session.click(QStringLiteral("Check2")); });
    QTimer::singleShot(12500, [] { QCoreApplication::quit(); });
    probe.start(5);
    QApplication::exec();
    probe.stop();
  }
  int strips = 0;
  for (int ch = 0; ch < 9; ++ch) strips += !chart->strip(ch)->isHidden();
  // A frame of the live view: the model to the series, then the scenes' layout and painting.
  QElapsedTimer part;
  part.start();
  chart->redraw();
  state.counters["frame_update_ms"] = static_cast<double>(part.nsecsElapsed()) / 1e6;
  QCoreApplication::processEvents();
  state.counters["frame_ms"] = static_cast<double>(part.nsecsElapsed()) / 1e6;
  // One redraw of the whole hour at once, for comparison.
  chart->showAll();
  QElapsedTimer whole;
  whole.start();
  chart->redraw();
  chart->plotArea()->grab();
  state.counters["whole_hour_frame_ms"] = static_cast<double>(whole.nsecsElapsed()) / 1e6;
  std::sort(gaps.begin(), gaps.end());
  state.counters["strips"] = strips;
  state.counters["live_cycles"] = static_cast<double>(chart->liveModel().size() - before);
  state.counters["frames"] = chart->framesDrawn();
  state.counters["probe_turns"] = static_cast<double>(gaps.size());
  state.counters["longest_stall_ms"] = gaps.empty() ? 0 : gaps.back();
  state.counters["longest_stall_at_s"] = longestAt;
  state.counters["p99_gap_ms"] =
      gaps.empty() ? 0 : gaps[static_cast<std::size_t>(static_cast<double>(gaps.size()) * 0.99)];
}
BENCHMARK(BM_ChartLongestStall)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Opens a recording in a new chart window and paints every strip once; the ms it took. `look`
// reads the window before it goes.
template <class Look>
double FirstFrameMs(const std::string& path, Look&& look) {
  QElapsedTimer clock;
  clock.start();
  ChartWindow chart;
  chart.show();
  chart.openRecording(QString::fromStdString(path));
  chart.plotArea()->grab();
  const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  look(chart);
  return ms;
}

// Writes an hour-long recording as CsvRecorder does, then times opening it in a new chart
// window up to its first drawn frame (read, model, strips, decimation, painting).
void BM_ChartRecordingFirstFrame(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("hour.csv").toStdString();
  {
    std::ofstream out(path, std::ios::binary);
    out << kline::CsvRecorder::Header() << "\r\n";
    for (int i = 0; i < kHourCycles; ++i) {
      out << i * kCycleMs << ",2026-01-01T10:00:00.000";
      for (const std::optional<double>& v : HourValues(i)) out << ',' << *v;
      out << ",2.10\r\n";
    }
  }
  double ms = 0;
  for (auto _ : state) {
    ms = FirstFrameMs(path, [&](const ChartWindow& chart) {
      state.counters["rows"] = static_cast<double>(chart.model().size());
      state.counters["frames"] = chart.framesDrawn();
    });
  }
  state.counters["first_frame_ms"] = ms;
}
BENCHMARK(BM_ChartRecordingFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Opens a recording with many channels (a file not written by CsvRecorder, 200 rows) in a new
// chart window up to its first drawn frame: the time and memory grow with the channels shown,
// not with the channels in the file. Run with /usr/bin/time -v to see the peak memory.
void BM_ChartWideRecordingFirstFrame(benchmark::State& state) {
  const auto channels = static_cast<int>(state.range(0));
  QTemporaryDir dir;
  const std::string path = dir.filePath("wide.csv").toStdString();
  {
    std::ofstream out(path, std::ios::binary);
    out << "time_ms,time";
    for (int c = 0; c < channels; ++c) out << ",channel " << c << " [u]";
    out << "\r\n";
    for (int i = 0; i < 200; ++i) {
      out << i * kCycleMs << ",2026-01-01T10:00:00.000";
      for (int c = 0; c < channels; ++c) out << ',' << (i * 7 + c) % 100;
      out << "\r\n";
    }
  }
  double ms = 0;
  for (auto _ : state) {
    ms = FirstFrameMs(path, [&](const ChartWindow& chart) {
      state.counters["channels_in_model"] = static_cast<double>(chart.model().channelCount());
    });
  }
  state.counters["channels_in_file"] = channels;
  state.counters["first_frame_ms"] = ms;
}
BENCHMARK(BM_ChartWideRecordingFirstFrame)
    ->Arg(10)
    ->Arg(100)
    ->Arg(300)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
