// The checklist of a first connection that hears nothing: offered beside the window after five
// silent seconds, never while the ECU answers, and its adapter check pauses and resumes the
// session.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "gui/connectchecklistdialog.h"
#include "gui/linkstateview.h"
#include "guifixture.h"

class TestConnectChecklist : public QObject {
  Q_OBJECT

 private slots:
  void aSilentEcuGetsTheChecklistAndItsAdapterCheckPausesAndResumes() {
    GuiFixture f("{}", 600000);
    int connects = 0;
    connect(f.session.get(), &Session::sessionEvent, this, [&](const kline::SessionEvent& e) {
      if (std::holds_alternative<kline::ev::Connecting>(e)) ++connects;
    });
    QVERIFY(f.pressConnect());
    ConnectChecklistDialog* dialog = f.window->connectChecklist();
    QTest::qWait(3500);
    QVERIFY(!dialog->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), 4000);
    // Not modal: the window goes on taking clicks.
    QVERIFY(!dialog->isModal());
    QStringList texts;
    for (QLabel* l : dialog->findChildren<QLabel*>()) {
      QCOMPARE(l->textFormat(), Qt::PlainText);
      texts << l->text();
    }
    const QString all = texts.join(QLatin1Char('\n'));
    for (const char* part :
         {"No wake-up burst from the ECU on sim within 5 s", "1. The ignition is on",
          "2. The adapter's K-line side has power", "3. The ECU type: 15m is selected",
          "4. The port: sim", "5. The cable on the diagnostic connector"})
      QVERIFY2(all.contains(QString::fromUtf8(part)), qPrintable(part));

    // Pauses (Disconnect), checks (the simulated ECU has no cable: said as it is), resumes.
    auto* connectButton = f.main<QPushButton>("Check2");
    dialog->checkButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        dialog->progressLine()->text().startsWith(QStringLiteral("Nothing was checked: The "
                                                                 "simulated ECU has no cable")),
        5000);
    QTRY_COMPARE(connects, 2);
    QTRY_COMPARE(connectButton->text(), QStringLiteral("Disconnect"));
    QVERIFY(dialog->checkButton()->isEnabled());
    // Its findings are the checklist's to show: no second box over the window.
    QVERIFY(!f.window->findChild<QWidget*>(QStringLiteral("adapterCheckResult")));
  }

  void anEcuThatAnswersGetsNoChecklist() {
    GuiFixture f("{}", 300);
    QVERIFY(f.pressConnect());
    QTRY_VERIFY_WITH_TIMEOUT(
        f.window->linkView()->statusLine()->text().endsWith(QStringLiteral("the ECU answers")),
        5000);
    QTest::qWait(6000);
    QVERIFY(!f.window->connectChecklist()->isVisible());
  }
};

QTEST_MAIN(TestConnectChecklist)
#include "tst_connectchecklist.moc"
