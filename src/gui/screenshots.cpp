#include "gui/screenshots.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>

#include "gui/chartwindow.h"
#include "gui/mainwindow.h"
#include "gui/modelwindow.h"
#include "gui/rpmbarwidget.h"
#include "gui/session.h"

namespace {

// Polls `ready` every 100 ms; once it holds (or after 20 s) saves `target` as an image to `file`
// and quits.
void grabWhen(QApplication& app, QWidget& window, QWidget* target, std::function<bool()> ready,
              QString file) {
  auto* poll = new QTimer(&window);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(poll, &QTimer::timeout, &window, [&app, target, poll, clock, ready, file] {
    bool done = ready();
    if (!done && clock->elapsed() < 20000) return;
    poll->stop();
    bool saved = target->grab().save(file);
    if (!saved) std::fprintf(stderr, "klinediag: screenshot not saved to %s\n", qPrintable(file));
    if (!done) std::fprintf(stderr, "klinediag: the window was not ready within 20 s\n");
    app.exit(saved && done ? 0 : 1);
  });
  poll->start(100);
}

void connectToSim(Session& session, QObject* context) {
  QObject::connect(&session, &Session::loaded, context, [&session] {
    session.typePort(QStringLiteral("sim"));
    session.click(QStringLiteral("Check4"));
    session.click(QStringLiteral("Check2"));
  });
}

}  // namespace

void ScheduleScreenshot(QApplication& app, Session& session, MainWindow& window, QString file) {
  connectToSim(session, &window);
  auto ready = [&window] {
    auto* info = qobject_cast<QPlainTextEdit*>(window.control(QStringLiteral("Text4")));
    auto* rpm = qobject_cast<QLineEdit*>(window.control(QStringLiteral("Text1(0)")));
    auto* battery = qobject_cast<QLineEdit*>(window.control(QStringLiteral("Text1(7)")));
    auto* bar = window.findChild<RpmBarWidget*>(QStringLiteral("Line1"));
    return info && info->toPlainText().contains(QLatin1String("calibration :")) && rpm &&
           !rpm->text().isEmpty() && battery && !battery->text().isEmpty() && bar &&
           bar->litSegments() > 0;
  };
  grabWhen(app, window, &window, ready, file);
}

void ScheduleTestsScreenshot(QApplication& app, Session& session, MainWindow& window,
                             QString file) {
  connectToSim(session, &window);
  auto* tests = qobject_cast<ModelWindow*>(window.modelWindow(QStringLiteral("Form1")));
  auto step = std::make_shared<int>(0);
  auto ready = [&window, &session, tests, step] {
    QAction* menu = window.menuAction(QStringLiteral("test"));
    auto* bar = qobject_cast<QProgressBar*>(tests->control(QStringLiteral("Pg1")));
    switch (*step) {
      case 0:
        if (menu && menu->isEnabled()) {
          menu->trigger();
          *step = 1;
        }
        return false;
      case 1:
        if (tests->isVisible() &&
            tests->log()->toPlainText().contains(QLatin1String("diagnostic mode OK"))) {
          session.click(QStringLiteral("Command1"), QStringLiteral("Form1"));
          *step = 2;
        }
        return false;
      default:
        return bar && bar->value() >= 3;
    }
  };
  grabWhen(app, window, tests, ready, file);
}

void ScheduleChartScreenshot(QApplication& app, Session& session, MainWindow& window, QString file,
                             QString csv) {
  ChartWindow* chart = window.chartWindow();
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
