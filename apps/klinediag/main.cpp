// The desktop program: the main window on a session thread.
#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <string_view>

#include "connection/ecutypes.h"
#include "gui/session/session.h"
#include "gui/windows/chartwindow.h"
#include "gui/windows/mainwindow.h"
#include "gui/windows/screenshots.h"
#include "livedata/numbers.h"
#include "platform/portfactory.h"
#include "session/sessioncore.h"
#include "settings/inifile.h"
#include "sim/simconfig.h"

namespace {

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

// The window program's options.
struct WindowOptions {
  QCommandLineOption simOpt{QStringLiteral("sim"),
                            QStringLiteral("Description of the simulated ECU (JSON) used for the "
                                           "port \"sim\"."),
                            QStringLiteral("FILE")};
  QCommandLineOption settingsOpt{QStringLiteral("settings"),
                                 QStringLiteral("Settings file to load and write."),
                                 QStringLiteral("FILE")};
  QCommandLineOption shotOpt{
      QStringLiteral("screenshot"),
      QStringLiteral("Connect to the simulated ECU, save the window to FILE "
                     "(PNG) once the records and live values are shown, and quit."),
      QStringLiteral("FILE")};
  QCommandLineOption testsShotOpt{
      QStringLiteral("screenshot-tests"),
      QStringLiteral("Connect to the simulated ECU, open the test window, start a test, save that "
                     "window to FILE (PNG) while the test runs, and quit."),
      QStringLiteral("FILE")};
  QCommandLineOption portOpt{
      QStringLiteral("port"),
      QStringLiteral("Put SPEC in the Com field at start: a port number, a device such as "
                     "/dev/ttyUSB0 or COM7, or sim for the built-in simulated ECU."),
      QStringLiteral("SPEC")};
  QCommandLineOption chartOpt{
      QStringLiteral("chart"),
      QStringLiteral("Open the chart window at start, showing the recording FILE.csv when one is "
                     "given as the argument.")};
  QCommandLineOption chartShotOpt{
      QStringLiteral("screenshot-chart"),
      QStringLiteral("Connect to the simulated ECU, open the chart window, save it to FILE (PNG) "
                     "after some seconds of live values, and quit."),
      QStringLiteral("FILE")};
  QCommandLineOption chartRecordingOpt{
      QStringLiteral("chart-recording"),
      QStringLiteral("With --screenshot-chart: show the recording CSV instead of live values."),
      QStringLiteral("CSV")};
  QCommandLineOption recordsOpt{
      QStringLiteral("records"),
      QStringLiteral("Keep the bike records in FILE (SQLite) for this run, instead of the file "
                     "the settings name (by default in the user's data folder)."),
      QStringLiteral("FILE")};
  QCommandLineOption noRecordsOpt{QStringLiteral("no-records"),
                                  QStringLiteral("Keep no bike records in this run.")};
  QCommandLineOption recordsShotOpt{
      QStringLiteral("screenshot-records"),
      QStringLiteral("Make two short visits of the simulated ECU into a scratch records file, "
                     "open the records window on the bike with its latest visit compared with "
                     "the one before, save that window to FILE (PNG), and quit."),
      QStringLiteral("FILE")};

  void addTo(QCommandLineParser& cli) const {
    for (const QCommandLineOption* o :
         {&portOpt, &simOpt, &settingsOpt, &shotOpt, &testsShotOpt, &chartOpt, &chartShotOpt,
          &chartRecordingOpt, &recordsOpt, &noRecordsOpt, &recordsShotOpt})
      cli.addOption(*o);
  }
};

// The simulated ECU the command line describes (the default one without --sim); false, said on
// stderr, when the description cannot be read. Without a file, or with one that names no type,
// the simulated ECU takes the type the window selects at connect.
bool SimFromCommandLine(const QCommandLineParser& cli, const QCommandLineOption& simOpt,
                        kline::SimConfig& sim, bool& typeFollowsForm) {
  sim = kline::DefaultSimConfig();
  typeFollowsForm = true;
  if (!cli.isSet(simOpt)) return true;
  std::string json;
  const std::string why = kline::ReadSimFile(cli.value(simOpt).toStdString(), json);
  if (!why.empty()) {
    std::fprintf(stderr, "klinediag: %s\n", why.c_str());
    return false;
  }
  try {
    sim = kline::SimConfig::FromJson(json, kline::DefaultEcuType().sim);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "klinediag: %s: %s\n", qPrintable(cli.value(simOpt)), e.what());
    return false;
  }
  typeFollowsForm = !sim.typeGiven;
  return true;
}

int main(int argc, char** argv) {
  answerWithoutDisplay(argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("klinediag"));
  QApplication::setApplicationVersion(QStringLiteral(KLINE_VERSION));

  QCommandLineParser cli;
  cli.setApplicationDescription(QStringLiteral("Diagnostic tool for motorcycle ECUs on a K-line."));
  cli.addHelpOption();
  cli.addVersionOption();
  const WindowOptions o;
  cli.addPositionalArgument(QStringLiteral("FILE.csv"),
                            QStringLiteral("With --chart: a recording to show."),
                            QStringLiteral("[FILE.csv]"));
  o.addTo(cli);
  cli.process(app);

  // The numbers in the windows use the platform's decimal separator.
  const QString point = QLocale::system().decimalPoint();
  if (point.size() == 1 && point.at(0).unicode() < 0x80)
    kline::SetDecimalSeparator(point.at(0).toLatin1());

  // The description's defaults, wake-up burst included.
  auto sim = std::make_shared<kline::SimConfig>();
  bool typeFollowsForm = true;
  if (!SimFromCommandLine(cli, o.simOpt, *sim, typeFollowsForm)) return 2;

  QTemporaryDir scratch;
  QString settings = cli.isSet(o.settingsOpt) ? cli.value(o.settingsOpt) : DefaultSettingsPath();
  // A screenshot run leaves the user's settings alone.
  const bool shot = cli.isSet(o.shotOpt) || cli.isSet(o.testsShotOpt) ||
                    cli.isSet(o.chartShotOpt) || cli.isSet(o.recordsShotOpt);
  if (shot) settings = scratch.filePath(QStringLiteral("klinediag.ini"));
  // The records' picture shows two visits made a minute apart: each connection a visit of its own.
  if (cli.isSet(o.recordsShotOpt))
    kline::IniFile(settings.toStdString()).write("Records", "JoinVisitsHours", "0");
  if (cli.isSet(o.recordsOpt) && cli.isSet(o.noRecordsOpt)) {
    std::fprintf(stderr, "klinediag: --records and --no-records exclude each other\n");
    return 2;
  }

  Session session(settings, sim, typeFollowsForm);
  // The records: the command line's choice, else the settings' (a screenshot keeps its own or
  // none, never the user's).
  using From = Session::RecordsChoice::From;
  if (cli.isSet(o.recordsShotOpt))
    session.setRecordsChoice({From::File, scratch.filePath(QStringLiteral("records.sqlite"))});
  else if (cli.isSet(o.noRecordsOpt) || shot)
    session.setRecordsChoice({From::Off, {}});
  else if (cli.isSet(o.recordsOpt))
    session.setRecordsChoice({From::File, cli.value(o.recordsOpt)});
  else
    session.setRecordsChoice({From::Settings, {}});
  MainWindow window(session);
  if (cli.isSet(o.shotOpt))
    ScheduleScreenshot(app, session, window, cli.value(o.shotOpt));
  else if (cli.isSet(o.testsShotOpt))
    ScheduleTestsScreenshot(app, session, window, cli.value(o.testsShotOpt));
  else if (cli.isSet(o.recordsShotOpt))
    ScheduleRecordsScreenshot(app, session, window, cli.value(o.recordsShotOpt));
  else if (cli.isSet(o.chartShotOpt))
    ScheduleChartScreenshot(app, session, window, cli.value(o.chartShotOpt),
                            cli.value(o.chartRecordingOpt));
  if (cli.isSet(o.portOpt) && !shot) {
    // Typed into the field once the window has loaded its settings, as a user would.
    QObject::connect(&session, &Session::loaded, &session,
                     [&session, port = cli.value(o.portOpt)] { session.typePort(port); });
  }
  session.start();
  window.show();
  if (cli.isSet(o.chartOpt) && !shot) {
    window.chartWindow()->show();
    if (!cli.positionalArguments().isEmpty())
      window.chartWindow()->openRecording(cli.positionalArguments().constFirst());
  }
  int rc = app.exec();
  session.stop();
  return rc;
}
