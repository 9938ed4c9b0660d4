#include <zip.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <memory>

#include "gui/dialogs/actionasker.h"
#include "gui/dialogs/logsaver.h"
#include "gui/dialogs/supportbundlesaver.h"
#include "gui/session/session.h"
#include "gui/widgets/faultpanel.h"
#include "gui/widgets/lampwidget.h"
#include "gui/widgets/linkstateview.h"
#include "gui/widgets/portchooser.h"
#include "gui/widgets/rpmbarwidget.h"
#include "gui/widgets/spacewrapview.h"
#include "gui/widgets/statusnote.h"
#include "gui/windows/chartwindow.h"
#include "gui/windows/controlrenderer.h"
#include "gui/windows/mainwindow.h"
#include "guifixture.h"
#include "sim/simconfig.h"
#include "ui/controlmodel.h"

namespace {

// A window on its own session thread with a scratch settings file.
struct Fixture {
  explicit Fixture(const QByteArray& ini = {}, int ignitionMs = 200, const char* simJson = "{}") {
    path = dir.filePath(QStringLiteral("klinediag.ini"));
    if (!ini.isEmpty()) {
      QFile f(path);
      f.open(QIODevice::WriteOnly);
      f.write(ini);
    }
    auto cfg = std::make_shared<kline::SimConfig>(
        kline::SimConfig::FromJson(simJson, kline::EcuType::E15m));
    cfg->ignitionMs = ignitionMs;
    session = std::make_unique<Session>(path, cfg);
    window = std::make_unique<MainWindow>(*session);
    // Every window's snapshot ends with this signal, also after the wait: the flag outlives it.
    auto shown = std::make_shared<bool>(false);
    QObject::connect(session.get(), &Session::snapshotSent, window.get(),
                     [shown] { *shown = true; });
    session->start();
    window->show();
    // The snapshot of the controls has reached the widgets.
    if (!QTest::qWaitFor([shown] { return *shown; }, 5000)) qWarning("the window did not load");
  }
  ~Fixture() {
    window.reset();
    session.reset();
  }
  template <class W>
  W* get(const QString& name) {
    return qobject_cast<W*>(window->control(name));
  }
  QString settingsText() {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
  }
  void typeInto(const QString& name, const QString& text) {
    auto* e = get<QLineEdit>(name);
    e->setFocus();
    e->selectAll();
    QTest::keyClick(e, Qt::Key_Backspace);
    QTest::keyClicks(e, text);
  }

  QTemporaryDir dir;
  QString path;
  std::unique_ptr<Session> session;
  std::unique_ptr<MainWindow> window;
};

QString buddyCaption(MainWindow& w, QWidget* field) {
  for (auto* l : w.findChildren<QLabel*>())
    if (l->buddy() == field) return l->text();
  return {};
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void loadsWithCaptionsAndDefaults() {
    Fixture f;
    MainWindow& w = *f.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("klinediag"));
    QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
    QVERIFY(f.get<QPushButton>("Check2")->isCheckable());
    QVERIFY(!f.get<QPushButton>("Check2")->isChecked());

    const struct {
      const char* name;
      const char* caption;
      const char* text;
    } fields[] = {{"Text6", "Com", "1"},
                  {"Text5", "pause", "5"},
                  {"Text2", "refresh time", "100"},
                  {"Text11", "inter byte delay", "10"},
                  {"Text7", "timeout", "30"}};
    for (const auto& fld : fields) {
      auto* e = f.get<QLineEdit>(fld.name);
      QVERIFY2(e, fld.name);
      QCOMPARE(e->text(), QString::fromLatin1(fld.text));
      QVERIFY(!e->isReadOnly());
      QCOMPARE(buddyCaption(w, e), QString::fromLatin1(fld.caption));
    }

    // Five types in the frame, the first chosen; both P8 types read "P8".
    const auto types = f.get<QGroupBox>("Frame1")->findChildren<QRadioButton*>();
    QCOMPARE(types.size(), 5);
    for (const char* name : {"Option1", "Option9", "Option7", "Option2", "Option8"})
      QVERIFY2(types.contains(f.get<QRadioButton>(name)), name);
    QVERIFY(f.get<QRadioButton>("Option1")->isChecked());
    QCOMPARE(f.get<QRadioButton>("Option8")->text(), f.get<QRadioButton>("Option2")->text());
    QVERIFY(f.get<QCheckBox>("Check3")->isChecked());
    QVERIFY(!f.get<QCheckBox>("Check4")->isChecked());

    for (int i = 0; i < 9; ++i) {
      QVERIFY(f.get<QCheckBox>(QStringLiteral("Check1(%1)").arg(i))->isChecked());
      QVERIFY(f.get<QLineEdit>(QStringLiteral("Text1(%1)").arg(i))->isReadOnly());
    }
    QCOMPARE(f.get<QCheckBox>("Check1(8)")->text(), QStringLiteral("trimmer value"));
    QCOMPARE(f.get<QLabel>("Label3(5)")->text(), QStringLiteral("\u00B0"));
    QVERIFY(!f.get<QPushButton>("Command11")->isEnabled());

    QVERIFY(!w.menuAction("test")->isEnabled());
    QVERIFY(!w.menuAction("Diag")->isEnabled());
    QVERIFY(!w.menuAction("debug")->isVisible());

    QVERIFY(!f.get<LampWidget>("Shape1")->hasColour());
    QVERIFY(f.get<QPlainTextEdit>("Text4")->isReadOnly());
    QVERIFY(w.logPane()->isReadOnly());
  }

  void settingsFileFillsTheWindowAtLoad() {
    Fixture f("[Hardware]\r\nCom=COM9\r\nEcu=3\r\n");
    QTRY_COMPARE(f.get<QLineEdit>("Text6")->text(), QStringLiteral("COM9"));
    QTRY_VERIFY(f.get<QRadioButton>("Option7")->isChecked());
    QVERIFY(!f.get<QRadioButton>("Option1")->isChecked());
  }

  // A port name or a file name full of markup is shown as the text it is: the window keeps its
  // size, and no label or tooltip renders it.
  void textFromASettingsFileAPortOrAFileNameIsShownAsText() {
    const QByteArray markup = "/dev/<b>x</b><img src=x width=20000 height=20000>&amp;";
    Fixture f("[Hardware]\r\nCom=" + markup + "\r\n");
    QTRY_COMPARE(f.get<QLineEdit>("Text6")->text(), QString::fromLatin1(markup));
    const int height = f.window->height();
    QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
    QTRY_VERIFY2(f.window->linkView()->text().contains(QStringLiteral("<b>x</b>")),
                 qPrintable(f.window->linkView()->text()));
    QTest::qWait(200);
    QCOMPARE(f.window->height(), height);
    int shown = 0;
    for (QLabel* l : f.window->findChildren<QLabel*>()) {
      if (!l->text().contains(QStringLiteral("<b>"))) continue;
      ++shown;
      QVERIFY2(l->textFormat() == Qt::PlainText, qPrintable(l->objectName()));
      QVERIFY(l->toolTip().isEmpty() || l->toolTip().contains(QStringLiteral("&lt;b&gt;")));
    }
    QVERIFY(shown > 0);
    QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);

    // A recording's file name in the status bar.
    f.typeInto("Text6", "sim");
    QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
    const QString path = f.dir.filePath(QStringLiteral("<u>rec</u>.csv"));
    f.window->setRecordPathChooser([path] { return path; });
    QTest::mouseClick(f.window->recordButton(), Qt::LeftButton);
    QTRY_VERIFY(f.window->recordStatus()->text().contains(QStringLiteral("<u>rec</u>.csv")));
    QCOMPARE(f.window->recordStatus()->textFormat(), Qt::PlainText);
    QTest::mouseClick(f.window->recordButton(), Qt::LeftButton);
  }

  // A 1366x768 laptop: the window, its frame and the panel within 1366x700, every control of
  // the logic, the log's buttons and the status bar in view. Smaller (a scale factor of 1.5),
  // the controls scroll and each stays reachable.
  void fitsALaptopScreenAndScrollsOnASmallerOne() {
    Fixture f;
    MainWindow& w = *f.window;
    QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
    const auto fullyShown = [&w](QWidget* c) {
      return c->isVisible() && c->visibleRegion().boundingRect() == c->rect() &&
             w.rect().contains(QRect(c->mapTo(&w, QPoint(0, 0)), c->size()));
    };
    const auto button = [&w](const QString& text) -> QWidget* {
      for (auto* b : w.findChildren<QPushButton*>())
        if (b->text() == text) return b;
      return nullptr;
    };
    QWidget* report = button(QStringLiteral("Report\u2026"));
    QVERIFY(report);
    const auto hidden = [&] {
      QStringList names;
      for (const QString& name : w.controlNames())
        if (QWidget* c = w.control(name); c && c->isVisible() && !fullyShown(c)) names << name;
      for (QWidget* c :
           {button(QStringLiteral("Save log\u2026")), report, static_cast<QWidget*>(w.statusBar())})
        if (!fullyShown(c)) names << c->metaObject()->className();
      return names.join(QLatin1Char(' '));
    };
    // It opened smaller (the offscreen screen is 800x600): made larger, the controls take the
    // room they need again.
    w.resize(1326, 650);
    QTRY_VERIFY2(hidden().isEmpty(), qPrintable(hidden()));

    w.resize(880, 480);
    QTest::qWait(50);
    auto* area = w.findChild<QScrollArea*>(QStringLiteral("controlsArea"));
    QVERIFY(area->verticalScrollBar()->isVisible());
    for (const QString& name : w.controlNames()) {
      QWidget* c = w.control(name);
      if (!c || !c->isVisible() || !area->isAncestorOf(c)) continue;
      area->ensureWidgetVisible(c, 0, 0);
      QVERIFY2(!c->visibleRegion().isEmpty(), qPrintable(name));
    }
    QVERIFY(fullyShown(report));
  }

  void everyControlSaysWhatItDoes() {
    Fixture f;
    MainWindow& w = *f.window;
    QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
    CheckEveryControlExplained(&w, QStringLiteral("Form2"), w.controlNames(), [&w] {
      w.findChild<QAction*>(QStringLiteral("helpControls"))->trigger();
    });
    if (QTest::currentTestFailed()) return;
    // The test list's entries too, whatever the type fills it with.
    f.session->click(QStringLiteral("Option2"));
    auto* list = f.get<QListWidget>("List1");
    QTRY_COMPARE(list->item(4)->text(), QStringLiteral("85  ???"));
    for (int i = 0; i < list->count(); ++i)
      QVERIFY2(list->item(i)->toolTip().contains(list->item(i)->text().section(' ', 0, 0)),
               qPrintable(list->item(i)->text()));
  }

  void connectsToTheSimulatedEcuAndDisconnects() {
    Fixture f;
    QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
    // Until the first Connect the window says to press it.
    QLabel* hint = f.window->firstConnectHint();
    QVERIFY(hint->isVisible());
    QVERIFY(hint->text().contains(QLatin1String("Connect")));
    f.typeInto("Text6", "sim");
    // The port's chooser and check are there until a session holds the port.
    QWidget* chooser = f.window->portChooser();
    auto* check = f.window->findChild<QPushButton*>(QStringLiteral("checkAdapter"));
    const QString chooserTip = chooser->toolTip();
    QVERIFY(chooser->isEnabled() && check->isEnabled());

    // The GUI thread keeps running while the session thread waits through the handshake.
    QElapsedTimer gap;
    qint64 longestGap = 0;
    int beats = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
      if (beats++ > 0) longestGap = std::max(longestGap, gap.elapsed());
      gap.restart();
    });
    gap.start();
    heartbeat.start(20);

    QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(f.get<LampWidget>("Shape1")->colour(), QColor(0, 255, 0), 3000);
    QCOMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Disconnect"));
    QVERIFY(f.get<QPushButton>("Check2")->isChecked());
    QVERIFY(!hint->isVisible());
    for (QWidget* w : {chooser, static_cast<QWidget*>(check)}) {
      QVERIFY(!w->isEnabled());
      QVERIFY2(w->toolTip().startsWith(QLatin1String("Disconnect first: ")),
               qPrintable(w->toolTip()));
    }
    QTRY_VERIFY_WITH_TIMEOUT(f.get<QPlainTextEdit>("Text4")->toPlainText().contains(
                                 QStringLiteral("ecu data    : KL15M-0427")),
                             8000);
    heartbeat.stop();
    QVERIFY2(beats > 20, qPrintable(QString::number(beats)));
    QVERIFY2(longestGap < 250, qPrintable(QString::number(longestGap)));

    // The live cycle follows: the bar lights the segments of the rpm shown in the readout.
    auto* bar = f.window->findChild<RpmBarWidget*>(QStringLiteral("Line1"));
    QTRY_VERIFY_WITH_TIMEOUT(bar->litSegments() > 0, 3000);
    QTRY_COMPARE(f.get<QLabel>("Label26")->text().toInt() / 100, bar->litSegments());

    const QString log = f.window->logPane()->toPlainText();
    QVERIFY(log.contains(QStringLiteral("init successfull")));
    QVERIFY(log.contains(QStringLiteral("ask ecu info... ")));
    QVERIFY(f.get<QPushButton>("Command11")->isEnabled());
    QVERIFY(f.window->menuAction("Diag")->isEnabled());
    QVERIFY(f.settingsText().contains(QStringLiteral("Com=sim")));

    QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(f.get<QPlainTextEdit>("Text4")->toPlainText().isEmpty(), 3000);
    QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
    QVERIFY(!f.get<QPushButton>("Check2")->isChecked());
    QCOMPARE(f.get<LampWidget>("Shape1")->colour(), QColor(255, 0, 0));
    // The handler's later writes may come in the channel's next delivery.
    QTRY_VERIFY(!f.window->menuAction("Diag")->isEnabled());
    QVERIFY(!hint->isVisible());
    QTRY_VERIFY(chooser->isEnabled() && check->isEnabled());
    QCOMPARE(chooser->toolTip(), chooserTip);
  }

  // The window hears the session thread in one order: each live cycle's event comes after the
  // writes that put its values in the fields, also when the GUI thread was busy while many
  // cycles ran.
  void controlWritesAndEventsArriveInTheOrderTheyWereMade() {
    QTemporaryDir dir;
    auto cfg =
        std::make_shared<kline::SimConfig>(kline::SimConfig::FromJson("{}", kline::EcuType::E15m));
    cfg->ignitionMs = 100;
    Session session(dir.filePath(QStringLiteral("klinediag.ini")), cfg);
    QMap<QString, QString> fields;
    int cycles = 0;
    QStringList mismatches;
    connect(&session, &Session::controlSet, this,
            [&](const QString& win, const QString& ctl, int prop, const QVariant& v) {
              if (win == QLatin1String("Form2") && prop == static_cast<int>(kline::Prop::Text))
                fields[ctl] = v.toString();
            });
    connect(&session, &Session::sessionEvent, this, [&](const kline::SessionEvent& e) {
      const auto* c = std::get_if<kline::ev::LiveCycle>(&e);
      if (!c || !c->completed) return;
      ++cycles;
      for (int i = 0; i < 9; ++i) {
        const kline::ev::ChannelReading& r = c->channels[static_cast<std::size_t>(i)];
        const QString name = QString::fromStdString(kline::indexed("Text1", i));
        if (r.ticked && fields.value(name) != QString::fromStdString(r.text))
          mismatches << QStringLiteral("cycle %1: %2 shows '%3', the event says '%4'")
                            .arg(cycles)
                            .arg(name, fields.value(name), QString::fromStdString(r.text));
      }
    });
    session.start();
    QVERIFY(QTest::qWaitFor([&] { return session.isLoaded(); }, 5000));
    session.setText(QStringLiteral("Text6"), QStringLiteral("sim"));
    session.click(QStringLiteral("Check2"));
    QVERIFY(QTest::qWaitFor([&] { return cycles > 0; }, 10000));
    // The GUI thread busy while the session runs on: what it said piles up meanwhile.
    for (int i = 0; i < 3; ++i) {
      QThread::msleep(700);
      QTest::qWait(50);
    }
    QVERIFY(QTest::qWaitFor([&] { return cycles >= 8; }, 10000));
    QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join(QLatin1Char('\n'))));
  }

  void simulatedEcuFollowsTheSelectedType() {
    Fixture f;
    QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
    f.typeInto("Text6", "sim");
    QTest::mouseClick(f.get<QRadioButton>("Option9"), Qt::LeftButton);
    QTRY_VERIFY(f.get<QRadioButton>("Option9")->isChecked());
    QVERIFY(!f.get<QRadioButton>("Option1")->isChecked());
    QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        f.get<QPlainTextEdit>("Text4")->toPlainText().contains(QStringLiteral("ecu data    : ")),
        8000);
    const QString info = f.get<QPlainTextEdit>("Text4")->toPlainText();
    QVERIFY2(!info.contains(QStringLiteral("KL15M")), qPrintable(info));
    QVERIFY(f.window->logPane()->toPlainText().contains(
        QStringLiteral("initial => 15rc ecu, skip isocode ")));
  }

  void channelTogglesReachTheLogic() {
    Fixture f;
    QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
    auto* rpm = f.get<QCheckBox>("Check1(0)");
    QTest::mouseClick(rpm, Qt::LeftButton, {}, QPoint(8, rpm->height() / 2));
    // rpm off: the weight of the remaining channels is 8 + 7 x 4.
    QTRY_COMPARE(f.get<QLineEdit>("Text3")->text(), QStringLiteral("36"));
    QVERIFY(!f.get<QCheckBox>("Check1(0)")->isChecked());
  }

  // The 15Rc's sensor voltage is captioned, and the caption comes and goes with its field.
  void theThrottleSensorCaptionGoesWithItsField() {
    Fixture f;
    auto* caption = f.window->findChild<QLabel*>(QStringLiteral("throttleSensorCaption"));
    QVERIFY(caption);
    QVERIFY(caption->isHidden());
    QTest::mouseClick(f.get<QRadioButton>("Option9"), Qt::LeftButton);
    QTRY_VERIFY(!f.get<QLineEdit>("Text1(9)")->isHidden());
    QVERIFY(!caption->isHidden());
    QTest::mouseClick(f.get<QRadioButton>("Option1"), Qt::LeftButton);
    QTRY_VERIFY(f.get<QLineEdit>("Text1(9)")->isHidden());
    QVERIFY(caption->isHidden());
  }

  void aLostAdapterTurnsTheLampRedAndGreysTheValues();
  void closingDuringAVerdictWaitDoesNotWaitForIt();
  void logPaneIsBoundedLikeTheLogicsOwn();
  void keyboardReachesConnectAndTheTestList();
  void numberFieldsTakeValidValuesOnly();
  void asksBeforeClearingAndWhileTheEngineTurns();
  void actionMessagesPassAndTheLinkStateComesBack();
  void logPaneStaysAtTheStartOfItsLines();
  void supportBundleHoldsTheThreeLogs();
  void aNewConnectionStartsWithoutTheLastOnesReadings();
  void testsAndDiagMenusWaitForALinkThatIsNotLost();
  void helpAboutSaysTheVersion();
  void adapterCheckNeverCutsAPathOrACommand();

  void copyButtonPutsTheLogOnTheClipboard() {
    Fixture f;
    QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
    f.typeInto("Text6", "nosuchport");
    QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
    QTRY_VERIFY(f.window->logPane()->toPlainText().contains(QStringLiteral("not opened")));
    // The status bar has the reason too, not only the log.
    QTRY_VERIFY(f.window->linkView()->statusLine()->text().startsWith(
        QStringLiteral("Port 0 not opened: no serial port number 0; found ")));
    // A port that does not open leaves the toggle pressed under "Connect" and the lamp unlit.
    QVERIFY(f.get<QPushButton>("Check2")->isChecked());
    QCOMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
    QVERIFY(!f.get<LampWidget>("Shape1")->hasColour());
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(f.get<QPushButton>("Command1"), Qt::LeftButton);
    QTRY_VERIFY(QGuiApplication::clipboard()->text().startsWith(QStringLiteral("1200bds\r\n")));
  }
};

void TestMainWindow::aLostAdapterTurnsTheLampRedAndGreysTheValues() {
  Fixture f({}, 200, R"({"lost_after_ms": 3500})");
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  LinkStateView* link = f.window->linkView();
  QCOMPARE(link->statusLine()->text(), QStringLiteral("Not connected"));
  f.typeInto("Text6", "sim");
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_COMPARE(link->statusLine()->text(), QStringLiteral("Port sim open, waiting for the ECU"));
  auto* readout = f.get<QLabel>("Label26");
  auto* bar = f.window->findChild<RpmBarWidget*>(QStringLiteral("Line1"));
  QTRY_VERIFY_WITH_TIMEOUT(!readout->text().isEmpty(), 5000);
  QTRY_COMPARE(link->statusLine()->text(), QStringLiteral("Port sim open, the ECU answers"));
  QVERIFY(!LinkStateView::isStale(readout) && !bar->isStale());
  QVERIFY(!LinkStateView::isStale(f.get<QLineEdit>("Text1(7)")));
  QTRY_VERIFY(link->paceLine()->text().contains(QStringLiteral(" cycles/s, last ")));

  QTRY_VERIFY_WITH_TIMEOUT(link->statusLine()->text().startsWith("Port sim lost: "), 4000);
  QCOMPARE(link->paceLine()->text(), QString());
  QVERIFY(link->statusLine()->text().endsWith("press Disconnect, then Connect"));
  QCOMPARE(f.get<LampWidget>("Shape1")->colour(), QColor(255, 0, 0));
  QVERIFY(LinkStateView::isStale(f.get<QLineEdit>("Text1(7)")));
  QVERIFY(LinkStateView::isStale(readout) && bar->isStale());
  // The toggle keeps what the window's logic says; Disconnect, then Connect recovers.
  QCOMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Disconnect"));
  // A snapshot re-sends the logic's green lamp: the lamp stays red all the same.
  f.session->requestSnapshot();
  QTest::qWait(100);
  QCOMPARE(f.get<LampWidget>("Shape1")->colour(), QColor(255, 0, 0));

  const QString rpm = readout->text();
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  QCOMPARE(link->statusLine()->text(), QStringLiteral("Port sim closed"));
  // The logic leaves the last engine speed up; it is shown as stale.
  QCOMPARE(readout->text(), rpm);
  QVERIFY(LinkStateView::isStale(readout) && bar->isStale());
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_COMPARE(f.get<LampWidget>("Shape1")->colour(), QColor(0, 255, 0));
  QTRY_VERIFY_WITH_TIMEOUT(!LinkStateView::isStale(readout), 5000);
  QVERIFY(!bar->isStale());
}

void TestMainWindow::closingDuringAVerdictWaitDoesNotWaitForIt() {
  Fixture f({}, 200, R"({"tests":{"80":{"verdict":null}}})");
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  f.typeInto("Text6", "sim");
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!f.get<QLabel>("Label26")->text().isEmpty(), 5000);
  f.session->setValue(QStringLiteral("List1"), 0);
  // The test is running: its bar waits up to 30 s for a verdict that never comes.
  QTRY_VERIFY_WITH_TIMEOUT(f.get<QProgressBar>("Pg1")->value() >= 1, 5000);
  QElapsedTimer t;
  t.start();
  f.window.reset();
  f.session.reset();
  QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
}

void TestMainWindow::logPaneIsBoundedLikeTheLogicsOwn() {
  QPlainTextEdit shown;
  kline::LogPane pane(5);
  for (int i = 1; i <= 8; ++i) {
    const std::string line = "line " + std::to_string(i);
    ControlRenderer::appendLogLine(&shown, QString::fromStdString(line), 5);
    pane.append(line);
  }
  QCOMPARE(shown.blockCount(), 5);
  QCOMPARE(
      shown.toPlainText() + '\n',
      QString::fromStdString(pane.text()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

void TestMainWindow::keyboardReachesConnectAndTheTestList() {
  Fixture f;
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  QVERIFY(f.get<QPushButton>("Check2")->toolTip().contains(QStringLiteral("F5")));
  f.typeInto("Text6", "sim");
  // Shortcuts go to the active window.
  f.window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
  // From the port field, where the typing ended.
  QTest::keyClick(f.get<QLineEdit>("Text6"), Qt::Key_F5);
  QTRY_COMPARE_WITH_TIMEOUT(f.get<LampWidget>("Shape1")->colour(), QColor(0, 255, 0), 3000);
  QTRY_VERIFY_WITH_TIMEOUT(!f.get<QLabel>("Label26")->text().isEmpty(), 5000);
  // Tab to the list, choose the first test with the arrows, Enter runs it (once confirmed: the
  // engine turns).
  f.window->asker()->setConfirm([](const auto&) { return ActionAsker::Answer::Go; });
  auto* list = f.get<QListWidget>("List1");
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Return);
  QTRY_VERIFY_WITH_TIMEOUT(f.window->logPane()->toPlainText().contains(QStringLiteral("AAFF")),
                           5000);
}

void TestMainWindow::numberFieldsTakeValidValuesOnly() {
  Fixture f;
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  auto* refresh = f.get<QLineEdit>("Text2");
  QVERIFY(refresh->toolTip().contains(QStringLiteral("1 to 32767")));
  QVERIFY(f.get<QLineEdit>("Text7")->toolTip().contains(QStringLiteral("0 to 10000")));
  f.typeInto("Text6", "sim");
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  auto* readout = f.get<QLabel>("Label26");
  QTRY_VERIFY_WITH_TIMEOUT(!readout->text().isEmpty(), 5000);

  // Letters never get in; an empty or out-of-range value is marked and kept from the logic,
  // so the live data goes on at the last valid refresh time.
  f.typeInto("Text2", "abc");
  QCOMPARE(refresh->text(), QString());
  QVERIFY(refresh->property("invalid").toBool());
  // A refused character says so where it was typed and in the status bar, with the range.
  QVERIFY(refresh->property("refused").toBool());
  QVERIFY(refresh->toolTip().contains(QStringLiteral("1 to 32767")));
  QVERIFY2(f.window->statusBar()->currentMessage().startsWith(QStringLiteral("\u201cc\u201d")),
           qPrintable(f.window->statusBar()->currentMessage()));
  f.typeInto("Text2", "0");
  QVERIFY(refresh->property("invalid").toBool());
  QVERIFY(refresh->toolTip().startsWith(QStringLiteral("Not used until it is valid")));
  int readings = 0;
  QObject::connect(f.session.get(), &Session::controlSet, f.window.get(),
                   [&readings](const QString&, const QString& ctl) {
                     readings += ctl == QLatin1String("Label26") ? 1 : 0;
                   });
  QTRY_VERIFY_WITH_TIMEOUT(readings > 5, 3000);
  f.typeInto("Text2", "250");
  QVERIFY(!refresh->property("invalid").toBool());
  QVERIFY(!refresh->property("refused").toBool());
  QCOMPARE(refresh->text(), QStringLiteral("250"));

  // A sign stays as typed and marked: "-5" never becomes 5.
  QStringList reached;
  QObject::connect(
      f.session.get(), &Session::controlSet, f.window.get(),
      [&reached](const QString&, const QString& ctl, int prop, const QVariant& v) {
        if (ctl == QLatin1String("Text7") && static_cast<kline::Prop>(prop) == kline::Prop::Text)
          reached << v.toString();
      });
  auto* timeout = f.get<QLineEdit>("Text7");
  f.typeInto("Text7", "-5");
  QCOMPARE(timeout->text(), QStringLiteral("-5"));
  QVERIFY(timeout->property("invalid").toBool());
  f.typeInto("Text7", "900");
  QTRY_VERIFY(reached.contains(QStringLiteral("900")));
  QVERIFY2(!reached.contains(QStringLiteral("5")) && !reached.contains(QStringLiteral("-5")),
           qPrintable(reached.join('|')));
}

void TestMainWindow::asksBeforeClearingAndWhileTheEngineTurns() {
  Fixture f;
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  QList<kline::ActionGuard::Question> asked;
  QList<ActionAsker::Answer> answers;
  f.window->asker()->setConfirm([&](const kline::ActionGuard::Question& q) {
    asked << q;
    return answers.isEmpty() ? ActionAsker::Answer::Cancel : answers.takeFirst();
  });
  int turning = 0;
  QStringList started;
  QObject::connect(f.session.get(), &Session::sessionEvent, f.window.get(),
                   [&](const kline::SessionEvent& e) {
                     if (const auto* c = std::get_if<kline::ev::LiveCycle>(&e))
                       turning += c->channels[0].value.value_or(0) > 0 ? 1 : 0;
                     if (const auto* t = std::get_if<kline::ev::TestStarted>(&e))
                       started << QString::fromStdString(t->name);
                   });
  f.typeInto("Text6", "sim");
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(turning > 0, 8000);

  // A test while the engine turns asks; cancelled, nothing goes to the ECU.
  auto* list = f.get<QListWidget>("List1");
  auto clickRow = [list](int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
  };
  clickRow(0);
  QCOMPARE(asked.size(), 1);
  QVERIFY(!asked[0].clearsFaults);
  QVERIFY2(QString::fromStdString(asked[0].text)
               .contains(QStringLiteral(" tr/m: run 80 fuel pump anyway?")),
           asked[0].text.c_str());
  QTest::qWait(300);
  QVERIFY(started.isEmpty());

  // Clearing shows that no faults were read and offers the report first, then clears.
  const QString pdf = f.dir.filePath(QStringLiteral("before.pdf"));
  f.window->setReportPathChooser([pdf] { return pdf; });
  answers = {ActionAsker::Answer::SaveReportFirst, ActionAsker::Answer::Go};
  const QString clear = list->item(3)->text().trimmed();
  clickRow(3);
  QCOMPARE(asked.size(), 3);
  QVERIFY(asked[1].clearsFaults);
  QVERIFY2(QString::fromStdString(asked[1].faults).startsWith(QStringLiteral("No fault readout")),
           asked[1].faults.c_str());
  QVERIFY(QFile::exists(pdf));
  QTRY_COMPARE_WITH_TIMEOUT(started, QStringList{clear}, 3000);
}

void TestMainWindow::actionMessagesPassAndTheLinkStateComesBack() {
  statusnote::setDurationsForTests(100, 200);
  Fixture f;
  QVERIFY(QTest::qWaitFor([&f] { return f.session->isLoaded(); }, 5000));
  QLabel* link = f.window->linkView()->statusLine();
  QVERIFY(link->isVisible());
  const QString path = f.dir.filePath(QStringLiteral("no/such/dir/log.txt"));
  f.window->logSaver()->setPathChooser([path] { return path; });
  f.window->findChild<QPushButton*>(QStringLiteral("saveLog"))->click();
  QTRY_VERIFY(f.window->statusBar()->currentMessage().contains(path));
  QVERIFY(!link->isVisible());
  QTRY_VERIFY_WITH_TIMEOUT(f.window->statusBar()->currentMessage().isEmpty(), 2000);
  QVERIFY(link->isVisible());
  statusnote::setDurationsForTests(0, 0);
}

void TestMainWindow::supportBundleHoldsTheThreeLogs() {
  Fixture f;
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  f.typeInto("Text6", "sim");
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(f.get<LampWidget>("Shape1")->colour(), QColor(0, 255, 0), 3000);
  QTRY_VERIFY_WITH_TIMEOUT(f.get<QPlainTextEdit>("Text4")->toPlainText().contains(
                               QStringLiteral("ecu data    : KL15M-0427")),
                           8000);
  const QString path = f.dir.filePath(QStringLiteral("bundle.zip"));
  f.window->bundleSaver()->setChooser([path] { return SupportBundleSaver::Choice{path, false}; });
  auto* action = f.window->findChild<QAction*>(QStringLiteral("saveSupportBundle"));
  QVERIFY(action);
  action->trigger();
  QTRY_VERIFY_WITH_TIMEOUT(
      f.window->statusBar()->currentMessage().contains(QStringLiteral("Support bundle saved")),
      5000);
  int code = 0;
  zip_t* z = zip_open(path.toUtf8().constData(), ZIP_RDONLY, &code);
  QVERIFY(z);
  auto read = [z](const char* name) {
    zip_stat_t st;
    if (zip_stat(z, name, 0, &st) != 0) return QByteArray("(missing)");
    QByteArray data(static_cast<qsizetype>(st.size), '\0');
    zip_file_t* file = zip_fopen(z, name, 0);
    zip_fread(file, data.data(), st.size);
    zip_fclose(file);
    return data;
  };
  QVERIFY(read("log-main.txt").contains("init successfull\r\n7812\r\nask ecu info... \r\n"));
  QVERIFY(read("log-test.txt") != "(missing)");
  QVERIFY(read("log-diag.txt") != "(missing)");
  QVERIFY(read("events.jsonl").contains("\"event\":\"ecu-identified\""));
  QCOMPARE(read("records.sqlite"), QByteArray("(missing)"));
  zip_discard(z);
}

void TestMainWindow::logPaneStaysAtTheStartOfItsLines() {
  QPlainTextEdit pane;
  pane.setLineWrapMode(QPlainTextEdit::NoWrap);
  pane.resize(200, 120);
  // Lines come while the window is hidden (the main window while the Test window is open); a
  // long last line must not scroll the pane sideways when it shows again.
  ControlRenderer::appendLogLine(&pane, QStringLiteral("short"));
  ControlRenderer::appendLogLine(&pane, QString(400, QLatin1Char('x')));
  pane.show();
  QVERIFY(QTest::qWaitForWindowExposed(&pane));
  QScrollBar* across = pane.horizontalScrollBar();
  QVERIFY(across->maximum() > 0);
  QCOMPARE(across->value(), 0);
  ControlRenderer::appendLogLine(&pane, QString(400, QLatin1Char('y')));
  QCOMPARE(across->value(), 0);
  // Scrolled sideways by the user, the pane stays where they put it.
  across->setValue(60);
  ControlRenderer::appendLogLine(&pane, QStringLiteral("another"));
  pane.hide();
  pane.show();
  QCOMPARE(across->value(), 60);
}

// 16m, then P8: the readout, the bar, the chart and the faults panel show nothing of the 16m.
void TestMainWindow::aNewConnectionStartsWithoutTheLastOnesReadings() {
  Fixture f;
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  f.typeInto("Text6", "sim");
  QTest::mouseClick(f.get<QRadioButton>("Option7"), Qt::LeftButton);
  QTRY_VERIFY(f.get<QRadioButton>("Option7")->isChecked());
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  auto* readout = f.get<QLabel>("Label26");
  auto* bar = f.window->findChild<RpmBarWidget*>(QStringLiteral("Line1"));
  const kline::ChartModel& chart = f.window->chartWindow()->liveModel();
  QTRY_VERIFY_WITH_TIMEOUT(!readout->text().isEmpty() && bar->litSegments() > 0, 8000);
  QTRY_VERIFY(chart.hasValue(0));
  f.session->click(QStringLiteral("Command2"));
  QTRY_VERIFY_WITH_TIMEOUT(f.window->faultPanel()->latest(1).valid, 5000);
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  // Disconnected, the logic leaves the last engine speed up (shown as stale).
  QVERIFY(!readout->text().isEmpty());

  QTest::mouseClick(f.get<QRadioButton>("Option2"), Qt::LeftButton);
  QTRY_VERIFY(f.get<QRadioButton>("Option2")->isChecked());
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(f.get<LampWidget>("Shape1")->colour(), QColor(0, 255, 0), 3000);
  // Live values of the P8 come in: throttle and battery, the channels it keeps.
  QTRY_VERIFY_WITH_TIMEOUT(chart.hasValue(7), 8000);
  // The logic unticks rpm for a P8 (and nothing ticks it again): no engine speed is read, and
  // none of the 16m's is shown.
  QVERIFY(!f.get<QCheckBox>("Check1(0)")->isChecked());
  QCOMPARE(readout->text(), QString());
  QCOMPARE(bar->litSegments(), 0);
  QVERIFY(!chart.hasValue(0));
  QTableWidget* rows = f.window->faultPanel()->table();
  QCOMPARE(rows->rowCount(), 1);
  QVERIFY2(rows->item(0, 0)->text().startsWith(QStringLiteral("No readout on this connection")),
           qPrintable(rows->item(0, 0)->text()));
}

// The logic enables "Tests" and "Diag" at every tick once the link was made; once the port is
// lost they stay disabled until Disconnect, then Connect.
void TestMainWindow::testsAndDiagMenusWaitForALinkThatIsNotLost() {
  Fixture f({}, 200, R"({"lost_after_ms": 3500})");
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  QAction* tests = f.window->menuAction("test");
  QAction* diag = f.window->menuAction("Diag");
  f.typeInto("Text6", "sim");
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(tests->isEnabled() && diag->isEnabled(), 5000);
  QTRY_VERIFY_WITH_TIMEOUT(
      f.window->linkView()->statusLine()->text().startsWith(QStringLiteral("Port sim lost: ")),
      5000);
  QVERIFY(!tests->isEnabled() && !diag->isEnabled());
  // The ticks go on enabling them in the logic; they stay off.
  QTest::qWait(500);
  QVERIFY(!tests->isEnabled() && !diag->isEnabled());
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_COMPARE(f.get<QPushButton>("Check2")->text(), QStringLiteral("Connect"));
  QTest::mouseClick(f.get<QPushButton>("Check2"), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(tests->isEnabled() && diag->isEnabled(), 3000);
}

void TestMainWindow::helpAboutSaysTheVersion() {
  Fixture f;
  auto* about = f.window->findChild<QAction*>(QStringLiteral("helpAbout"));
  QVERIFY(about);
  about->trigger();
  QMessageBox* box = nullptr;
  QTRY_VERIFY((box = f.window->findChild<QMessageBox*>(QStringLiteral("aboutBox"))));
  QVERIFY(box->isVisible());
  QCOMPARE(box->text(), QStringLiteral("klinediag " KLINE_VERSION));
  QVERIFY2(box->informativeText().contains(QStringLiteral("Qt: ")),
           qPrintable(box->informativeText()));
  box->close();
}

// The check's lines name paths and commands: wrapped at spaces only, each stays whole on its row,
// and a copy gives the lines as they were.
void TestMainWindow::adapterCheckNeverCutsAPathOrACommand() {
  Fixture f;
  const QStringList lines = {
      QStringLiteral("port /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0: sent "
                     "5A A5 3C C3 (not an ECU request) at each rate and read the echo"),
      QStringLiteral("1200 baud: echo OK, 4 bytes back in 1703.1 ms; slow: expected under 70 ms"),
      QStringLiteral("to set it to 1 ms: klinediag-cli check-adapter --port /dev/ttyUSB0 --fix, "
                     "or: echo 1 | sudo tee /sys/class/tty/ttyUSB0/device/latency_timer (the "
                     "package's udev rule sets it whenever the adapter is plugged in)")};
  emit f.session->adapterChecked(false, lines);
  QDialog* box = nullptr;
  QTRY_VERIFY((box = f.window->findChild<QDialog*>(QStringLiteral("adapterCheckResult"))));
  auto* view = box->findChild<SpaceWrapView*>(QStringLiteral("adapterCheckLines"));
  QVERIFY(view);
  box->resize(420, 400);
  QTest::qWait(50);
  const QStringList rows = view->shownRows();
  QVERIFY2(rows.size() > lines.size(), qPrintable(rows.join('|')));
  for (const QString& line : lines)
    for (const QString& word : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
      bool whole = false;
      for (const QString& row : rows) whole = whole || row.split(QLatin1Char(' ')).contains(word);
      QVERIFY2(whole, qPrintable(word + " in " + rows.join('|')));
    }
  view->selectAll();
  view->copy();
  QCOMPARE(QGuiApplication::clipboard()->text(), lines.join(QLatin1Char('\n')));
  box->close();
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
