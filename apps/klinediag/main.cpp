// The desktop program: the main window on a session thread.
#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>

#include "gui/chartwindow.h"
#include "gui/mainwindow.h"
#include "gui/modelwindow.h"
#include "gui/rpmbarwidget.h"
#include "gui/session.h"
#include "platform/portfactory.h"
#include "sim/simconfig.h"
#include "ui/numbers.h"

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
    session.setText(QStringLiteral("Text6"), QStringLiteral("sim"));
    session.click(QStringLiteral("Check4"));
    session.click(QStringLiteral("Check2"));
  });
}

// Connects to the simulated ECU, waits until both records and the live values are shown, saves
// the main window as an image and quits. Used for the picture in the README.
void scheduleScreenshot(QApplication& app, Session& session, MainWindow& window, QString file) {
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

// Connects to the simulated ECU, opens the test window from the "Tests" menu, starts the fuel
// pump test and saves that window while its progress bar counts.
void scheduleTestsScreenshot(QApplication& app, Session& session, MainWindow& window,
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

// Opens the chart window (with the recording `csv` when given). Without a recording it connects
// to the simulated ECU and waits for some seconds of live values; then it saves the chart window
// and quits. Used for the picture in the README.
void scheduleChartScreenshot(QApplication& app, Session& session, MainWindow& window, QString file,
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

// --version and --help answer in a terminal without a display too (and for help2man).
void answerWithoutDisplay(int argc, char** argv) {
  if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) return;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--version" || arg == "-v" || arg == "--help" || arg == "-h" || arg == "-?" ||
        arg == "--help-all") {
      qputenv("QT_QPA_PLATFORM", "offscreen");
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  answerWithoutDisplay(argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("klinediag"));
  QApplication::setApplicationVersion(QStringLiteral(KLINE_VERSION));

  QCommandLineParser cli;
  cli.setApplicationDescription(QStringLiteral("Diagnostic tool for motorcycle ECUs on a K-line."));
  cli.addHelpOption();
  cli.addVersionOption();
  QCommandLineOption simOpt(QStringLiteral("sim"),
                            QStringLiteral("Description of the simulated ECU (JSON) used for the "
                                           "port \"sim\"."),
                            QStringLiteral("FILE"));
  QCommandLineOption settingsOpt(QStringLiteral("settings"),
                                 QStringLiteral("Settings file to load and write."),
                                 QStringLiteral("FILE"));
  QCommandLineOption shotOpt(
      QStringLiteral("screenshot"),
      QStringLiteral("Connect to the simulated ECU, save the window to FILE "
                     "(PNG) once the records and live values are shown, and quit."),
      QStringLiteral("FILE"));
  QCommandLineOption testsShotOpt(
      QStringLiteral("screenshot-tests"),
      QStringLiteral("Connect to the simulated ECU, open the test window, start a test, save that "
                     "window to FILE (PNG) while the test runs, and quit."),
      QStringLiteral("FILE"));
  QCommandLineOption portOpt(
      QStringLiteral("port"),
      QStringLiteral("Put SPEC in the Com field at start: a port number, a device such as "
                     "/dev/ttyUSB0 or COM7, or sim for the built-in simulated ECU."),
      QStringLiteral("SPEC"));
  QCommandLineOption chartOpt(
      QStringLiteral("chart"),
      QStringLiteral("Open the chart window at start, showing the recording FILE.csv when one is "
                     "given as the argument."));
  QCommandLineOption chartShotOpt(
      QStringLiteral("screenshot-chart"),
      QStringLiteral("Connect to the simulated ECU, open the chart window, save it to FILE (PNG) "
                     "after some seconds of live values, and quit."),
      QStringLiteral("FILE"));
  QCommandLineOption chartRecordingOpt(
      QStringLiteral("chart-recording"),
      QStringLiteral("With --screenshot-chart: show the recording CSV instead of live values."),
      QStringLiteral("CSV"));
  cli.addPositionalArgument(QStringLiteral("FILE.csv"),
                            QStringLiteral("With --chart: a recording to show."),
                            QStringLiteral("[FILE.csv]"));
  cli.addOption(portOpt);
  cli.addOption(simOpt);
  cli.addOption(settingsOpt);
  cli.addOption(shotOpt);
  cli.addOption(testsShotOpt);
  cli.addOption(chartOpt);
  cli.addOption(chartShotOpt);
  cli.addOption(chartRecordingOpt);
  cli.process(app);

  // The numbers in the windows use the platform's decimal separator.
  const QString point = QLocale::system().decimalPoint();
  if (point.size() == 1 && point.at(0).unicode() < 0x80)
    kline::SetDecimalSeparator(point.at(0).toLatin1());

  // The description's defaults, wake-up burst included.
  auto sim =
      std::make_shared<kline::SimConfig>(kline::SimConfig::FromJson("{}", kline::EcuType::E15m));
  // Without a file the simulated ECU is whatever type the window selects at connect.
  bool typeFollowsForm = true;
  if (cli.isSet(simOpt)) {
    std::string json;
    const std::string why = kline::ReadSimFile(cli.value(simOpt).toStdString(), json);
    if (!why.empty()) {
      std::fprintf(stderr, "klinediag: %s\n", why.c_str());
      return 2;
    }
    try {
      *sim = kline::SimConfig::FromJson(json, kline::EcuType::E15m);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "klinediag: %s: %s\n", qPrintable(cli.value(simOpt)), e.what());
      return 2;
    }
    typeFollowsForm = !sim->typeGiven;
  }

  QTemporaryDir scratch;
  QString settings = cli.isSet(settingsOpt) ? cli.value(settingsOpt) : DefaultSettingsPath();
  // A screenshot run leaves the user's settings alone.
  const bool shot = cli.isSet(shotOpt) || cli.isSet(testsShotOpt) || cli.isSet(chartShotOpt);
  if (shot) settings = scratch.filePath(QStringLiteral("klinediag.ini"));

  Session session(settings, sim, typeFollowsForm);
  MainWindow window(session);
  if (cli.isSet(shotOpt))
    scheduleScreenshot(app, session, window, cli.value(shotOpt));
  else if (cli.isSet(testsShotOpt))
    scheduleTestsScreenshot(app, session, window, cli.value(testsShotOpt));
  else if (cli.isSet(chartShotOpt))
    scheduleChartScreenshot(app, session, window, cli.value(chartShotOpt),
                            cli.value(chartRecordingOpt));
  if (cli.isSet(portOpt) && !shot) {
    // Typed into the field once the window has loaded its settings, as a user would.
    QObject::connect(&session, &Session::loaded, &session, [&session, port = cli.value(portOpt)] {
      session.setText(QStringLiteral("Text6"), port);
    });
  }
  session.start();
  window.show();
  if (cli.isSet(chartOpt) && !shot) {
    window.chartWindow()->show();
    if (!cli.positionalArguments().isEmpty())
      window.chartWindow()->openRecording(cli.positionalArguments().constFirst());
  }
  int rc = app.exec();
  session.stop();
  return rc;
}
