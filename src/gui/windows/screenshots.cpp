#include "gui/windows/screenshots.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <variant>

#include "connection/useractions.h"
#include "gui/session/session.h"
#include "gui/windows/chartwindow.h"
#include "gui/windows/mainwindow.h"
#include "gui/windows/modelwindow.h"
#include "gui/windows/recordsmenu.h"
#include "gui/windows/recordswindow.h"
#include "records/recordstore.h"

namespace {

// Polls `ready` every 100 ms; once it holds (or after `limitMs`) saves `target` as an image to
// `file` and quits.
void grabWhen(QApplication& app, QWidget& window, QWidget* target, std::function<bool()> ready,
              QString file, int limitMs = 20000) {
  auto* poll = new QTimer(&window);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(
      poll, &QTimer::timeout, &window, [&app, target, poll, clock, ready, file, limitMs] {
        bool done = ready();
        if (!done && clock->elapsed() < limitMs) return;
        poll->stop();
        bool saved = target->grab().save(file);
        if (!saved)
          std::fprintf(stderr, "klinediag: screenshot not saved to %s\n", qPrintable(file));
        if (!done)
          std::fprintf(stderr, "klinediag: the window was not ready within %d s\n", limitMs / 1000);
        app.exit(saved && done ? 0 : 1);
      });
  poll->start(100);
}

void play(Session& session, kline::UserAction a) {
  session.play(static_cast<int>(a));
}

void connectToSim(Session& session, QObject* context) {
  QObject::connect(&session, &Session::loaded, context, [&session] {
    session.typePort(QStringLiteral("sim"));
    play(session, kline::UserAction::AskCalibration);
    play(session, kline::UserAction::Connect);
  });
}

// What the session has shown so far, from its events.
struct Seen {
  bool calibration = false;
  bool values = false;  // a completed cycle with the engine speed and the battery
  bool live = false;    // any completed cycle
  bool testStarted = false;
  QElapsedTimer sinceTest;
};

std::shared_ptr<Seen> watch(Session& session, QObject* context) {
  auto seen = std::make_shared<Seen>();
  QObject::connect(&session, &Session::sessionEvent, context, [seen](const kline::SessionEvent& e) {
    using namespace kline;
    if (const auto* id = std::get_if<ev::EcuIdentified>(&e))
      seen->calibration = seen->calibration || !id->calibration.empty();
    if (const auto* c = std::get_if<ev::LiveCycle>(&e); c && c->completed) {
      seen->live = true;
      seen->values = seen->values ||
                     (c->channels[0].value.value_or(0) > 0 && c->channels[7].value.has_value());
    }
    if (std::holds_alternative<ev::TestStarted>(e) && !seen->testStarted) {
      seen->testStarted = true;
      seen->sinceTest.start();
    }
  });
  return seen;
}

// The pictures show the windows as they open on a 1366x768 laptop, whatever screen the program
// runs on (the offscreen platform's is 800x600).
constexpr QSize kLaptop(1366, 768);

}  // namespace

void ScheduleScreenshot(QApplication& app, Session& session, MainWindow& window, QString file) {
  window.fitTo(kLaptop);
  connectToSim(session, &window);
  auto seen = watch(session, &window);
  grabWhen(
      app, window, &window, [seen] { return seen->calibration && seen->values; }, file);
}

void ScheduleTestsScreenshot(QApplication& app, Session& session, MainWindow& window,
                             QString file) {
  connectToSim(session, &window);
  auto seen = watch(session, &window);
  auto* tests = qobject_cast<ModelWindow*>(window.modelWindow(QStringLiteral("Form1")));
  auto step = std::make_shared<int>(0);
  auto ready = [&session, tests, seen, step] {
    switch (*step) {
      case 0:
        if (seen->live) {
          play(session, kline::UserAction::OpenTests);
          *step = 1;
        }
        return false;
      case 1:
        if (tests->isVisible() &&
            tests->log()->toPlainText().contains(QLatin1String("diagnostic mode OK"))) {
          play(session, kline::UserAction::FuelPumpTest);
          *step = 2;
        }
        return false;
      default:
        // A few steps of the bar.
        return seen->testStarted && seen->sinceTest.elapsed() >= 2500;
    }
  };
  grabWhen(app, window, tests, ready, file);
}

void ScheduleChartScreenshot(QApplication& app, Session& session, MainWindow& window, QString file,
                             QString csv) {
  ChartWindow* chart = window.chartWindow();
  chart->fitTo(kLaptop);
  chart->show();
  if (!csv.isEmpty()) {
    const bool opened = chart->openRecording(csv);
    if (!opened) std::fprintf(stderr, "klinediag: %s\n", qPrintable(chart->statusLine()->text()));
    // Half a second for the strips to take their final size.
    auto since = std::make_shared<QElapsedTimer>();
    since->start();
    grabWhen(
        app, window, chart,
        [chart, opened, since] {
          return opened && chart->framesDrawn() > 0 && since->elapsed() >= 500;
        },
        file);
    return;
  }
  connectToSim(session, &window);
  chart->setSpanSeconds(30);
  auto ready = [chart] {
    const kline::ChartModel& m = chart->liveModel();
    return m.size() > 20 && m.lastTime() >= 14000 && m.hasValue(7) && chart->framesDrawn() > 0;
  };
  grabWhen(app, window, chart, ready, file);
}

void ScheduleRecordsScreenshot(QApplication& app, Session& session, MainWindow& window,
                               QString file) {
  RecordsMenu* records = window.records();
  RecordsWindow* shown = records->window();
  shown->fitTo(kLaptop);
  connectToSim(session, &window);
  // Each visit: live values, the faults read, the first test of the list run, Disconnect.
  struct Steps {
    int step = 0;
    int faults = 0, tests = 0, disconnects = 0;
    bool live = false;
    QElapsedTimer since;
  };
  auto st = std::make_shared<Steps>();
  QObject::connect(&session, &Session::sessionEvent, &window, [st](const kline::SessionEvent& e) {
    using namespace kline;
    if (const auto* c = std::get_if<ev::LiveCycle>(&e); c && c->completed) st->live = true;
    if (const auto* r = std::get_if<ev::ReadoutDone>(&e);
        r && r->readout.kind == ReadoutKind::Faults)
      ++st->faults;
    if (std::holds_alternative<ev::TestEnded>(e)) ++st->tests;
    if (std::holds_alternative<ev::Disconnected>(e)) ++st->disconnects;
  });
  QObject::connect(&session, &Session::recordsVisit, &window, [&session, st](qint64, qint64) {
    session.setRecordsMileage(st->disconnects == 0 ? 12480 : 13105);
  });
  auto ready = [&session, records, shown, st] {
    switch (st->step) {
      case 0:
      case 4:
        if (st->live && st->faults == st->step / 4) {
          play(session, kline::UserAction::ReadFaults);
          ++st->step;
        }
        return false;
      case 1:
      case 5:
        if (st->faults > st->step / 4) {
          play(session, kline::UserAction::RunTest);
          ++st->step;
        }
        return false;
      case 2:
      case 6:
        if (st->tests > st->step / 4) {
          play(session, kline::UserAction::Connect);  // Disconnect
          ++st->step;
        }
        return false;
      case 3:
        if (st->disconnects == 1) {
          st->live = false;
          play(session, kline::UserAction::Connect);
          st->step = 4;
        }
        return false;
      case 7: {
        // Both visits written and ended: the bike gets what a user would add to it.
        std::string why;
        auto store = kline::records::RecordStore::Open(
            records->path().toStdString(), kline::records::RecordStore::Mode::ReadWrite, why);
        if (!store) return false;
        const auto bikes = store->bikes();
        if (bikes.size() != 1 || bikes[0].visits != 2) return false;
        const auto visits = store->visits(bikes[0].id);
        if (visits[0].end.msSinceEpoch == 0 || visits[0].faults < 0) return false;
        store->setDetails(bikes[0].id, {"Blue roadster", "AB-123-CD", "J. Martin",
                                        "Idle hunts when warm; new plugs at 12,480 km."});
        records->showBikes();
        shown->selectVisit(visits[0].id);
        shown->compareWithPrevious();
        st->since.start();
        st->step = 8;
        return false;
      }
      default:
        // Half a second for the window to take its final size.
        return st->since.elapsed() >= 500;
    }
  };
  // Two visits with a test each take a while on a busy machine.
  grabWhen(app, window, shown, ready, file, 60000);
}
