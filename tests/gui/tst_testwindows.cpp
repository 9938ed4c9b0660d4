// The actuator tests in the windows against the simulated ECU on real time: the test window
// reached through the "Tests" menu, the main window's test list, the 15Rc voltage field, the rpm
// bar's rounding and the CSV recording. P8 connects fastest (no handshake), so most cases use it.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <memory>

#include "gui/dialogs/actionasker.h"
#include "gui/session/session.h"
#include "gui/windows/form1window.h"
#include "gui/windows/mainwindow.h"
#include "guifixture.h"
#include "sim/simconfig.h"

namespace {

struct Fixture : GuiFixture {
  explicit Fixture(const char* simJson = "{}") : GuiFixture(simJson) {
    tests = qobject_cast<Form1Window*>(window->modelWindow(QStringLiteral("Form1")));
  }
  template <class W>
  W* test(const char* name) {
    return qobject_cast<W*>(tests->control(QString::fromLatin1(name)));
  }
  // Selects the ECU type option, connects to the simulated ECU of that type and waits until the
  // live cycles run (the "Tests" menu is enabled then). P8 polls throttle and battery only.
  bool connectToSim(const char* typeOption = "Option2") {
    if (!pressConnect(typeOption)) return false;
    QAction* menu = window->menuAction(QStringLiteral("test"));
    // Battery is polled by every type's cycle.
    QLineEdit* battery = main<QLineEdit>("Text1(7)");
    bool up = QTest::qWaitFor(
        [menu, battery] { return menu->isEnabled() && !battery->text().isEmpty(); }, 10000);
    if (!up) qWarning().noquote() << window->logPane()->toPlainText().right(600);
    return up;
  }
  bool openTests() {
    window->menuAction(QStringLiteral("test"))->trigger();
    QPlainTextEdit* log = tests->log();
    return QTest::qWaitFor(
        [this, log] {
          return tests->isVisible() && !window->isVisible() &&
                 log->toPlainText().contains(QLatin1String("Enter in diagnostic mode OK"));
        },
        5000);
  }

  Form1Window* tests = nullptr;
};

}  // namespace

class TestTestWindows : public QObject {
  Q_OBJECT

 private slots:
  void testWindowHasItsControls() {
    Fixture f;
    QVERIFY(f.tests);
    QTRY_COMPARE(f.test<QPushButton>("Command1")->text(), QStringLiteral("Fuel pump"));
    QCOMPARE(f.tests->windowTitle(), QStringLiteral("Test"));
    QVERIFY(!f.tests->isVisible());
    QCOMPARE(f.test<QPushButton>("Command7")->text(), QStringLiteral("Clear DTC errors"));
    QCOMPARE(f.test<QPushButton>("Command9")->text(), QStringLiteral("Reset TPS 15RC"));
    QCOMPARE(f.test<QLineEdit>("Text1")->text(), QStringLiteral("00"));
    auto* co = f.test<QGroupBox>("Frame1");
    QCOMPARE(co->title(), QStringLiteral("Co Regulation (not debugged yet)"));
    QVERIFY(co->isAncestorOf(f.test<QRadioButton>("Option1")));
    QCOMPARE(f.test<QRadioButton>("Option1")->text(), QStringLiteral("On"));
    QVERIFY(f.test<QRadioButton>("Option2")->isChecked());
    QVERIFY(!f.test<QRadioButton>("Option1")->isChecked());
    auto* slider = f.test<QSlider>("Slider1");
    QCOMPARE(slider->minimum(), -127);
    QCOMPARE(slider->maximum(), 127);
    QVERIFY(!slider->isEnabled());
    QCOMPARE(f.test<QPushButton>("Command10")->text(), QStringLiteral("Ok"));
    QVERIFY(!f.test<QPushButton>("Command10")->isEnabled());
    QCOMPARE(f.test<QProgressBar>("Pg1")->maximum(), 30);
    QCOMPARE(f.test<QPushButton>("back")->text(), QStringLiteral("Back"));

    // The main window's test frame.
    QCOMPARE(f.main<QGroupBox>("Frame2")->title(), QStringLiteral("Test"));
    QCOMPARE(f.main<QLabel>("Label6")->text(), QStringLiteral("Click"));
    auto* list = f.main<QListWidget>("List1");
    QCOMPARE(list->count(), 7);
    QCOMPARE(list->item(3)->text(), QStringLiteral("83 clear DTC"));
  }

  void everyControlSaysWhatItDoes() {
    Fixture f;
    QTRY_COMPARE(f.test<QPushButton>("Command1")->text(), QStringLiteral("Fuel pump"));
    CheckEveryControlExplained(f.tests, QStringLiteral("Form1"), f.tests->controlNames(), [&f] {
      f.tests->findChild<QPushButton*>(QStringLiteral("help"))->click();
    });
  }

  void menuOpensTheTestWindowWhichCountsAndGoesBack() {
    Fixture f(R"({"tests": {"80": {"answer": "00", "verdict": "FF", "after_ms": 2500}}})");
    QVERIFY(f.connectToSim());
    QVERIFY(f.openTests());

    QTest::mouseClick(f.test<QPushButton>("Command1"), Qt::LeftButton);
    QTRY_VERIFY(f.tests->log()->toPlainText().contains(QLatin1String("Fuel pump")));
    // The bar counts the seconds of the verdict wait while the session thread waits.
    auto* bar = f.test<QProgressBar>("Pg1");
    QTRY_COMPARE_WITH_TIMEOUT(bar->maximum(), 36, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(bar->value() >= 1, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(f.tests->log()->toPlainText().contains(QLatin1String("Test finish")),
                             6000);
    QTRY_COMPARE(bar->value(), 0);

    QTest::mouseClick(f.test<QPushButton>("back"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(f.window->isVisible(), 5000);
    QTRY_VERIFY(!f.tests->isVisible());
    QVERIFY(f.tests->log()->toPlainText().contains(QLatin1String("Exit diagnostic mode OK")));
  }

  void closingTheTestWindowGoesBack() {
    Fixture f;
    QVERIFY(f.connectToSim());
    QVERIFY(f.openTests());
    f.tests->close();
    QTRY_VERIFY_WITH_TIMEOUT(f.window->isVisible(), 5000);
    QTRY_VERIFY(!f.tests->isVisible());
  }

  void trimmerSliderReachesTheField() {
    Fixture f;
    QVERIFY(f.connectToSim());
    QVERIFY(f.openTests());
    QTest::mouseClick(f.test<QRadioButton>("Option1"), Qt::LeftButton);
    QTRY_VERIFY(f.test<QSlider>("Slider1")->isEnabled());
    QVERIFY(!f.test<QPushButton>("Command1")->isEnabled());
    // The slider's user move goes to the logic, whose field follows with position + 127.
    f.test<QSlider>("Slider1")->setValue(-5);
    QTRY_COMPARE(f.test<QLineEdit>("Text2")->text(), QStringLiteral("122"));
    QTest::mouseClick(f.test<QPushButton>("Command10"), Qt::LeftButton);
    QTRY_VERIFY(f.tests->log()->toPlainText().contains(QLatin1String("trimmer set to:-5")));
  }

  void trimmerFieldRefusesWhatItCannotTake() {
    Fixture f;
    QVERIFY(f.connectToSim());
    QVERIFY(f.openTests());
    QTest::mouseClick(f.test<QRadioButton>("Option1"), Qt::LeftButton);
    QTRY_VERIFY(f.test<QPushButton>("Command10")->isEnabled());
    auto* field = f.test<QLineEdit>("Text2");
    auto* slider = f.test<QSlider>("Slider1");
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    // Letters are refused where they are typed: no "0" takes their place, the slider stays.
    const int before = slider->value();
    QTest::keyClicks(field, "abc");
    QCOMPARE(field->text(), QString());
    QVERIFY(field->property("refused").toBool());
    QVERIFY(field->toolTip().contains(QLatin1String("0 to 254")));
    QTest::qWait(200);
    QCOMPARE(slider->value(), before);
    // Out of range: shown marked, the slider keeps the last value taken, and "Ok" sends nothing.
    QTest::keyClicks(field, "999");
    QCOMPARE(field->text(), QStringLiteral("999"));
    QVERIFY(field->property("invalid").toBool());
    // The refusal's popup no longer speaks of the letter.
    QVERIFY2(!QToolTip::text().contains(QLatin1String("not taken")), qPrintable(QToolTip::text()));
    QTRY_COMPARE(slider->value(), 99 - 127);
    const QString logBefore = f.tests->log()->toPlainText();
    QTest::mouseClick(f.test<QPushButton>("Command10"), Qt::LeftButton);
    QTest::qWait(300);
    QCOMPARE(f.tests->log()->toPlainText(), logBefore);
    field->selectAll();
    QTest::keyClicks(field, "130");
    QTRY_COMPARE(slider->value(), 130 - 127);
    QTest::mouseClick(f.test<QPushButton>("Command10"), Qt::LeftButton);
    QTRY_VERIFY(f.tests->log()->toPlainText().contains(QLatin1String("trimmer set to:3")));
  }

  void testWindowAsksBeforeClearing() {
    Fixture f;
    QVERIFY(f.connectToSim());
    QVERIFY(f.openTests());
    QStringList asked;
    f.window->asker()->setConfirm([&asked](const kline::ActionGuard::Question& q) {
      asked << QString::fromStdString(q.title);
      return ActionAsker::Answer::Cancel;
    });
    QTest::mouseClick(f.test<QPushButton>("Command7"), Qt::LeftButton);
    QCOMPARE(asked, QStringList{QStringLiteral("Clear the stored faults?")});
    // P8 takes the second group's codes: its clearing code is 84, and 83 fires a coil.
    auto* code = f.test<QLineEdit>("Text1");
    code->setFocus();
    code->selectAll();
    QTest::keyClicks(code, "84");
    QTest::mouseClick(f.test<QPushButton>("Command8"), Qt::LeftButton);
    QCOMPARE(asked.size(), 2);
    QTest::qWait(300);
    QVERIFY(!f.tests->log()->toPlainText().contains(QLatin1String("Clear DTC")));
    QVERIFY(!f.tests->log()->toPlainText().contains(QLatin1String("Custom code")));
    code->selectAll();
    QTest::keyClicks(code, "83");
    QTest::mouseClick(f.test<QPushButton>("Command8"), Qt::LeftButton);
    QTRY_VERIFY(f.tests->log()->toPlainText().contains(QLatin1String("Custom code 83")));
    QCOMPARE(asked.size(), 2);
  }

  void mainListRunsTheTestAndShowsTheVerdict() {
    Fixture f(R"({"tests": {"80": {"answer": "00", "verdict": "FF", "after_ms": 500}}})");
    QVERIFY(f.connectToSim());
    auto* list = f.main<QListWidget>("List1");
    QCOMPARE(list->item(0)->text(), QStringLiteral("80 fuel pump"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    // The list is disabled during the verdict wait, and the bar counts.
    QTRY_VERIFY_WITH_TIMEOUT(!list->isEnabled(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(f.main<QProgressBar>("Pg1")->value() >= 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(f.main<QLabel>("Label5")->text(), QStringLiteral("OK"), 5000);
    QTRY_VERIFY(list->isEnabled());
    QTRY_COMPARE(f.main<QProgressBar>("Pg1")->value(), 0);
    QTRY_VERIFY(f.window->logPane()->toPlainText().contains(QLatin1String("  elapsed ")));
  }

  void voltageFieldFollowsTheType() {
    Fixture f;
    QVERIFY(QTest::qWaitFor([&f] { return f.session->isLoaded(); }, 5000));
    auto* field = f.main<QLineEdit>("Text1(9)");
    auto* unit = f.main<QLabel>("Label9");
    QTRY_COMPARE(unit->text(), QStringLiteral("V"));
    QTRY_VERIFY(!field->isVisible());
    QTest::mouseClick(f.main<QRadioButton>("Option9"), Qt::LeftButton);
    QTRY_VERIFY(field->isVisible());
    QTRY_VERIFY(unit->isVisible());
    QTest::mouseClick(f.main<QRadioButton>("Option1"), Qt::LeftButton);
    QTRY_VERIFY(!field->isVisible());
    QTRY_VERIFY(!unit->isVisible());
  }

  void recordsLiveValuesToCsv() {
    Fixture f;
    // The dialog's default: the documents folder (the home folder while there is none, not the
    // folder the program started in), the date and the selected ECU type.
    QTest::mouseClick(f.main<QRadioButton>("Option7"), Qt::LeftButton);
    const QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
    const QString scratchHome = f.dir.filePath(QStringLiteral("home"));
    QVERIFY(QDir().mkpath(scratchHome));
    qputenv("HOME", scratchHome.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (scratchHome + QStringLiteral("/.config")).toLocal8Bit());
    const QString inHome = QFileInfo(f.window->suggestedRecordPath()).absolutePath();
    QVERIFY(QDir(scratchHome).mkdir(QStringLiteral("Documents")));
    const QString suggested = f.window->suggestedRecordPath();
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", config);
    if (config.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(inHome, scratchHome);
    QCOMPARE(QFileInfo(suggested).absolutePath(), scratchHome + QStringLiteral("/Documents"));
    QVERIFY2(QRegularExpression("^klinediag-\\d{8}-\\d{6}-16m\\.csv$")
                 .match(QFileInfo(suggested).fileName())
                 .hasMatch(),
             qPrintable(suggested));
    QTest::mouseClick(f.main<QRadioButton>("Option8"), Qt::LeftButton);
    QVERIFY(f.window->suggestedRecordPath().endsWith(QLatin1String("-P8-sensor.csv")));

    // A name chosen without an extension gets ".csv".
    const QString path = f.dir.filePath(QStringLiteral("live.csv"));
    f.window->setRecordPathChooser([&f] { return f.dir.filePath(QStringLiteral("live")); });
    QVERIFY(f.connectToSim());
    QTest::mouseClick(f.window->recordButton(), Qt::LeftButton);
    QVERIFY(f.window->recordButton()->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(
        f.window->recordStatus()->text().contains(QRegularExpression("live\\.csv: [1-9]")), 5000);
    QTest::mouseClick(f.window->recordButton(), Qt::LeftButton);
    QTRY_VERIFY(f.window->recordStatus()->text().startsWith(QLatin1String("Recorded ")));
    // Where it went, in full.
    QVERIFY2(f.window->recordStatus()->text().endsWith(QDir::toNativeSeparators(path)),
             qPrintable(f.window->recordStatus()->text()));

    QFile csv(path);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split(QStringLiteral("\r\n"));
    QVERIFY2(lines.size() >= 3, qPrintable(lines.join('|')));
    QVERIFY(lines.at(0).startsWith(QLatin1String("time_ms,time,rpm [tr/m],inj duration [ms],")));
    // A row: the times, then the ten fields; P8 fills throttle and battery.
    const QStringList row = lines.at(1).split(QLatin1Char(','));
    QCOMPARE(row.size(), 12);
    QVERIFY2(!row.at(9).isEmpty(), qPrintable(lines.at(1)));
  }

  void recordingToAFileThatCannotBeWrittenSaysSo() {
    Fixture f;
    const QString path = f.dir.filePath(QStringLiteral("no/such/dir/live.csv"));
    f.window->setRecordPathChooser([path] { return path; });
    QVERIFY(QTest::qWaitFor([&f] { return f.session->isLoaded(); }, 5000));
    QTest::mouseClick(f.window->recordButton(), Qt::LeftButton);
    QTRY_VERIFY(f.window->recordStatus()->text().startsWith(QLatin1String("Recording failed: ")));
    QVERIFY(f.window->recordStatus()->text().contains(path));
    QVERIFY(f.window->statusBar()->currentMessage().contains(path));
    QVERIFY(!f.window->recordButton()->isChecked());
  }
};

QTEST_MAIN(TestTestWindows)
#include "tst_testwindows.moc"
