// The window stays responsive and its log pane scales: the longest stall of the GUI thread
// during a scripted session on the simulated ECU, and the cost of appending a million lines.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "gui/session/session.h"
#include "gui/windows/mainwindow.h"
#include "gui/windows/recordsmenu.h"
#include "sim/simconfig.h"
#include "ui/logpane.h"

namespace {

// Longest gap between two turns of the GUI event loop, seen by a 5 ms probe timer, while the
// session connects (handshake with its 3 s wait), reads the records, polls live data, reads the
// faults and the immobiliser byte and runs the fuel pump test from the list. Target: 20 ms.
// With `records`, the session keeps its visit in a records file and the bikes' window is open.
void GuiLongestStall(benchmark::State& state, bool records) {
  QTemporaryDir dir;
  auto cfg =
      std::make_shared<kline::SimConfig>(kline::SimConfig::FromJson("{}", kline::EcuType::E15m));
  cfg->ignitionMs = 300;
  Session session(dir.filePath("bench.ini"), cfg);
  if (records)
    session.setRecordsChoice({Session::RecordsChoice::From::File, dir.filePath("records.sqlite")});
  MainWindow window(session);
  window.show();
  if (records) window.records()->showBikes();
  session.start();

  std::vector<double> gaps;
  QElapsedTimer since;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (since.isValid()) gaps.push_back(static_cast<double>(since.nsecsElapsed()) / 1e6);
    since.restart();
  });
  for (auto _ : state) {
    QTimer::singleShot(200, [&] {
      session.setValue(QStringLiteral("Check4"), 1);
      session.setText(QStringLiteral("Text6"), QStringLiteral("sim"));
      session.click(QStringLiteral("Check2"));
    });
    QTimer::singleShot(3500, [&] { session.click(QStringLiteral("Command11")); });
    QTimer::singleShot(4500, [&] { session.click(QStringLiteral("Command2")); });
    QTimer::singleShot(5500, [&] { session.setValue(QStringLiteral("List1"), 0); });
    QTimer::singleShot(11000, [&] { session.click(QStringLiteral("Check2")); });
    QTimer::singleShot(11500, [] { QCoreApplication::quit(); });
    probe.start(5);
    QApplication::exec();
    probe.stop();
  }
  std::sort(gaps.begin(), gaps.end());
  state.counters["probe_turns"] = static_cast<double>(gaps.size());
  state.counters["longest_gap_ms"] = gaps.empty() ? 0 : gaps.back();
  state.counters["p99_gap_ms"] = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
  state.counters["target_ms"] = 20;
}

void BM_GuiLongestStall(benchmark::State& state) {
  GuiLongestStall(state, false);
}

void BM_GuiLongestStallWithRecords(benchmark::State& state) {
  GuiLongestStall(state, true);
}

std::size_t HeapInUse() {
  return mallinfo2().uordblks;
}

// Mean ns of the first and the last 10,000 of a million appends, and the heap per line.
template <class Append>
void Appends(benchmark::State& state, Append append) {
  constexpr int kLines = 1000000, kWindow = 10000;
  double first = 0, last = 0, perLine = 0;
  for (auto _ : state) {
    std::size_t heap = HeapInUse();
    auto t = std::chrono::steady_clock::now();
    for (int i = 0; i < kLines; ++i) {
      if (i == kWindow) {
        first =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t).count() /
            kWindow;
      }
      if (i == kLines - kWindow) t = std::chrono::steady_clock::now();
      append(i);
    }
    last = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t).count() /
           kWindow;
    perLine = static_cast<double>(HeapInUse() - heap) / kLines;
  }
  state.counters["first_10k_ns_per_line"] = first;
  state.counters["last_10k_ns_per_line"] = last;
  state.counters["last_over_first"] = last / first;
  state.counters["target_ratio"] = 2;
  state.counters["bytes_per_line"] = perLine;
}

const char* kLine = "Ecu info: 4 KL15M-0427";

void BM_LogPaneModel(benchmark::State& state) {
  kline::LogPane pane;
  Appends(state, [&](int) { pane.append(kLine); });
}

void BM_LogPaneWidget(benchmark::State& state) {
  QPlainTextEdit pane;
  pane.setReadOnly(true);
  pane.show();
  QString line = QString::fromLatin1(kLine);
  Appends(state, [&](int i) {
    pane.appendPlainText(line);
    // Let the widget lay out and paint now and then, as the event loop would.
    if (i % 1000 == 0) QCoreApplication::processEvents();
  });
}

}  // namespace

BENCHMARK(BM_GuiLongestStall)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GuiLongestStallWithRecords)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogPaneModel)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LogPaneWidget)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
