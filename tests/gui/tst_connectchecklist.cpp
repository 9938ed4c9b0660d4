// The checklist of a first connection that hears nothing: offered beside the window after five
// silent seconds, never while the ECU answers, and its adapter check pauses and resumes the
// session.
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QtTest>

#include "gui/dialogs/connectchecklistdialog.h"
#include "gui/widgets/linkstateview.h"
#include "guifixture.h"

namespace {

// Why the dialog's list cannot be read whole: a label shorter than its text needs, or a list that
// scrolls in a dialog smaller than the screen allows. Empty when it can.
QString unreadable(ConnectChecklistDialog* dialog) {
  for (QLabel* l : dialog->findChildren<QLabel*>())
    if (l->isVisible() && !l->text().isEmpty() && l->height() < l->heightForWidth(l->width()))
      return QStringLiteral("squeezed: ") + l->text();
  auto* area = dialog->findChild<QScrollArea*>();
  const int room = dialog->screen()->availableGeometry().height();
  if (area->widget()->height() > area->viewport()->height() && dialog->height() < room - 100)
    return QStringLiteral("scrolls at %1 px of %2").arg(dialog->height()).arg(room);
  return {};
}

}  // namespace

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
    QTRY_COMPARE(unreadable(dialog), QString());
    QVERIFY(dialog->frameGeometry().height() <= dialog->screen()->availableGeometry().height());

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
    // The new Connect hears nothing either: the list comes again, over the one on screen, and
    // is as readable.
    QTest::qWait(5600);
    QTRY_COMPARE(unreadable(dialog), QString());
  }

  // Offered after five silent seconds, the list goes once the ECU answers, and its check never
  // drops a session that hears the ECU without asking.
  void theListGoesWhenTheEcuAnswersAndItsCheckAsksBeforeDisconnecting() {
    GuiFixture f("{}", 6500);
    int connects = 0;
    connect(f.session.get(), &Session::sessionEvent, this, [&](const kline::SessionEvent& e) {
      if (std::holds_alternative<kline::ev::Connecting>(e)) ++connects;
    });
    QVERIFY(f.pressConnect());
    ConnectChecklistDialog* dialog = f.window->connectChecklist();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), 7000);
    QTRY_VERIFY_WITH_TIMEOUT(
        f.window->linkView()->statusLine()->text().endsWith(QStringLiteral("the ECU answers")),
        8000);
    QTRY_VERIFY(!dialog->isVisible());

    // A click that reaches it all the same (the answer came in as it was made) asks first.
    dialog->checkButton()->click();
    QTRY_VERIFY(dialog->disconnectQuestion());
    auto* question = qobject_cast<QMessageBox*>(dialog->disconnectQuestion());
    QVERIFY(question);
    QTest::qWait(300);
    QCOMPARE(connects, 1);
    QCOMPARE(f.main<QPushButton>("Check2")->text(), QStringLiteral("Disconnect"));
    for (QAbstractButton* b : question->buttons())
      if (question->buttonRole(b) == QMessageBox::RejectRole) b->click();
    QTRY_VERIFY(!dialog->disconnectQuestion());
    QTest::qWait(300);
    QCOMPARE(f.main<QPushButton>("Check2")->text(), QStringLiteral("Disconnect"));
    QCOMPARE(connects, 1);
  }

  // However much the check finds, the list's buttons stay where they were.
  void itsButtonsStayStillAsTheFindingsComeIn() {
    GuiFixture f("{}", 600000);
    QVERIFY(QTest::qWaitFor([&] { return f.session->isLoaded(); }, 5000));
    ConnectChecklistDialog* dialog = f.window->connectChecklist();
    emit f.session->checklistOffered(QStringLiteral("/dev/kline-none"), QStringLiteral("15m"));
    QTRY_VERIFY(dialog->isVisible());
    QTest::qWait(100);
    const auto buttons = dialog->findChildren<QPushButton*>();
    QVERIFY(buttons.size() >= 2);
    QList<QPoint> before;
    for (QPushButton* b : buttons) before << b->mapToGlobal(QPoint(0, 0));
    const QRect frame = dialog->geometry();

    dialog->checkButton()->click();
    QStringList lines;
    for (int i = 0; i < 14; ++i)
      lines << QStringLiteral(
                   "finding %1: to set it to 1 ms: klinediag-cli check-adapter --port "
                   "/dev/ttyUSB0 --fix, or: echo 1 | sudo tee "
                   "/sys/class/tty/ttyUSB0/device/latency_timer")
                   .arg(i);
    emit f.session->adapterChecked(false, lines);
    QVERIFY(dialog->progressLine()->text().contains(lines.last()));
    QTest::qWait(300);
    // All of it can be read: the findings' area scrolls rather than cut them off.
    QLabel* found = dialog->progressLine();
    QVERIFY(found->height() >= (found->wordWrap() ? found->heightForWidth(found->width())
                                                  : found->sizeHint().height()));
    QCOMPARE(dialog->geometry(), frame);
    for (int i = 0; i < buttons.size(); ++i)
      QCOMPARE(buttons[i]->mapToGlobal(QPoint(0, 0)), before[i]);
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
