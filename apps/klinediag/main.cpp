// The desktop program: the main window on a session thread.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "gui/mainwindow.h"
#include "gui/session.h"
#include "platform/portfactory.h"
#include "sim/simconfig.h"

namespace {

// Connects to the simulated ECU, waits until both records are shown, saves the window as an
// image and quits. Used for the picture in the README.
void scheduleScreenshot(QApplication& app, Session& session, MainWindow& window, QString file) {
  QObject::connect(&session, &Session::loaded, &window, [&session] {
    session.setText(QStringLiteral("Text6"), QStringLiteral("sim"));
    session.click(QStringLiteral("Check4"));
    session.click(QStringLiteral("Check2"));
  });
  auto* poll = new QTimer(&window);
  auto* clock = new QElapsedTimer;
  clock->start();
  QObject::connect(poll, &QTimer::timeout, &window, [&app, &window, poll, clock, file] {
    auto* info = qobject_cast<QPlainTextEdit*>(window.control(QStringLiteral("Text4")));
    bool done = info && info->toPlainText().contains(QLatin1String("calibration :"));
    if (!done && clock->elapsed() < 20000) return;
    poll->stop();
    bool saved = window.grab().save(file);
    if (!saved) std::fprintf(stderr, "klinediag: screenshot not saved to %s\n", qPrintable(file));
    if (!done) std::fprintf(stderr, "klinediag: the records did not come within 20 s\n");
    delete clock;
    app.exit(saved && done ? 0 : 1);
  });
  poll->start(100);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("klinediag"));

  QCommandLineParser cli;
  cli.setApplicationDescription(QStringLiteral("Diagnostic tool for motorcycle ECUs on a K-line."));
  cli.addHelpOption();
  QCommandLineOption simOpt(QStringLiteral("sim"),
                            QStringLiteral("Description of the simulated ECU (JSON) used for the "
                                           "port \"sim\"."),
                            QStringLiteral("FILE"));
  QCommandLineOption settingsOpt(QStringLiteral("settings"),
                                 QStringLiteral("Settings file to load and write."),
                                 QStringLiteral("FILE"));
  QCommandLineOption shotOpt(QStringLiteral("screenshot"),
                             QStringLiteral("Connect to the simulated ECU, save the window to FILE "
                                            "(PNG) once the records are shown, and quit."),
                             QStringLiteral("FILE"));
  cli.addOption(simOpt);
  cli.addOption(settingsOpt);
  cli.addOption(shotOpt);
  cli.process(app);

  // The description's defaults, wake-up burst included.
  auto sim =
      std::make_shared<kline::SimConfig>(kline::SimConfig::FromJson("{}", kline::EcuType::E15m));
  // Without a file the simulated ECU is whatever type the window selects at connect.
  bool typeFollowsForm = true;
  if (cli.isSet(simOpt)) {
    QFile f(cli.value(simOpt));
    if (!f.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "klinediag: cannot read %s\n", qPrintable(cli.value(simOpt)));
      return 2;
    }
    QByteArray json = f.readAll();
    try {
      *sim = kline::SimConfig::FromJson(json.toStdString(), kline::EcuType::E15m);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "klinediag: %s: %s\n", qPrintable(cli.value(simOpt)), e.what());
      return 2;
    }
    typeFollowsForm = !sim->typeGiven;
  }

  QTemporaryDir scratch;
  QString settings = cli.isSet(settingsOpt) ? cli.value(settingsOpt) : DefaultSettingsPath();
  // A screenshot run leaves the user's settings alone.
  if (cli.isSet(shotOpt)) settings = scratch.filePath(QStringLiteral("klinediag.ini"));

  Session session(settings, sim, typeFollowsForm);
  MainWindow window(session);
  if (cli.isSet(shotOpt)) scheduleScreenshot(app, session, window, cli.value(shotOpt));
  session.start();
  window.show();
  int rc = app.exec();
  session.stop();
  return rc;
}
