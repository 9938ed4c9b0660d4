// The diagnostic memory window against the simulated ECU on real time: reached through the
// "Diag" menu, it stands in for the main window, writes its readouts to its own pane and goes
// back.
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "gui/session/session.h"
#include "gui/windows/form3window.h"
#include "gui/windows/mainwindow.h"
#include "guifixture.h"
#include "sim/simconfig.h"

namespace {

struct Fixture : GuiFixture {
  Fixture() { diag = qobject_cast<Form3Window*>(window->modelWindow(QStringLiteral("Form3"))); }
  QPushButton* button(const char* name) {
    return qobject_cast<QPushButton*>(diag->control(QString::fromLatin1(name)));
  }
  // Connects to the simulated ECU and waits until the link is up and the identification read.
  bool connectToSim() {
    if (!pressConnect()) return false;
    QPlainTextEdit* log = window->logPane();
    QAction* menu = window->menuAction(QStringLiteral("Diag"));
    return QTest::qWaitFor(
        [log, menu] {
          return log->toPlainText().contains(QLatin1String("Ecu info: ")) && menu->isEnabled();
        },
        10000);
  }

  Form3Window* diag = nullptr;
};

}  // namespace

class TestForm3Window : public QObject {
  Q_OBJECT

 private slots:
  void buttonsInTheirGroups() {
    Fixture f;
    QVERIFY(f.diag);
    QTRY_COMPARE(f.button("Command1")->text(), QStringLiteral("Unirams"));
    QCOMPARE(f.diag->windowTitle(), QStringLiteral("Diag"));
    QVERIFY(!f.diag->isVisible());
    const struct {
      const char* group;
      const char* names[3];
      const char* captions[3];
    } groups[] = {
        {"Uniram", {"Command4", "Command5", "Command6"}, {"Uniram1", "Uniram2", "Uniram3"}},
        {"Cuneep", {"Command7", "Command3", "Command2"}, {"Cuneep1", "Cuneep2", "Cuneep3"}},
        {"Unieep", {"Command10", "Command9", "Command8"}, {"Unieep1A", "Unieep2A", "Unieep3A"}}};
    for (const auto& g : groups) {
      auto* box = f.diag->findChild<QGroupBox*>(QString::fromLatin1(g.group));
      QVERIFY2(box, g.group);
      QCOMPARE(box->findChildren<QPushButton*>().size(), 3);
      for (int i = 0; i < 3; ++i) {
        QVERIFY(box->isAncestorOf(f.button(g.names[i])));
        QCOMPARE(f.button(g.names[i])->text(), QString::fromLatin1(g.captions[i]));
      }
    }
    auto* state = f.diag->findChild<QGroupBox*>(QStringLiteral("Unirams"));
    QVERIFY(state && state->isAncestorOf(f.button("Command1")));
    QCOMPARE(state->findChildren<QPushButton*>().size(), 1);
    QCOMPARE(f.button("back")->text(), QStringLiteral("Back"));
    QVERIFY(f.diag->log()->isReadOnly());
  }

  void everyControlSaysWhatItDoesAndTheOutputHasAHeading() {
    Fixture f;
    QTRY_COMPARE(f.button("Command1")->text(), QStringLiteral("Unirams"));
    CheckEveryControlExplained(f.diag, QStringLiteral("Form3"), f.diag->controlNames(), [&f] {
      f.diag->findChild<QPushButton*>(QStringLiteral("help"))->click();
    });
    if (QTest::currentTestFailed()) return;
    // The heading sits right above the output pane and says what it shows.
    auto* heading = f.diag->findChild<QLabel*>(QStringLiteral("outputHeading"));
    QVERIFY(heading && !heading->text().isEmpty());
    auto* layout = f.diag->layout();
    QCOMPARE(layout->indexOf(heading) + 1, layout->indexOf(f.diag->log()));
  }

  void mainWindowShowsTheStatusButtons() {
    Fixture f;
    auto* virgin = qobject_cast<QPushButton*>(f.window->control(QStringLiteral("Command2")));
    auto* virgin2 = qobject_cast<QPushButton*>(f.window->control(QStringLiteral("Command3")));
    QVERIFY(virgin && virgin2);
    QTRY_COMPARE(virgin->text(), QStringLiteral("Virgin?"));
    QTRY_COMPARE(virgin2->text(), QStringLiteral("Virign2"));
    QVERIFY(f.connectToSim());
    QTest::mouseClick(virgin, Qt::LeftButton);
    QTRY_VERIFY(f.window->logPane()->toPlainText().contains(
        QLatin1String("No code received or link interrupted")));
  }

  void diagMenuReadButtonAndBack() {
    Fixture f;
    QVERIFY(f.connectToSim());
    f.window->menuAction(QStringLiteral("Diag"))->trigger();
    QTRY_VERIFY(f.diag->isVisible());
    QTRY_VERIFY(!f.window->isVisible());

    QTest::mouseClick(f.button("Command1"), Qt::LeftButton);
    QTRY_COMPARE(f.diag->log()->blockCount(), 8);
    const QStringList lines = f.diag->log()->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("Power On,no digimatic gear change"));
    QCOMPARE(lines.at(7), QStringLiteral("VAE normal operation"));
    QVERIFY(!f.window->logPane()->toPlainText().contains(QLatin1String("VAE normal operation")));

    QTest::mouseClick(f.button("back"), Qt::LeftButton);
    QTRY_VERIFY(f.window->isVisible());
    // "Back" leaves this window open behind the main one.
    QVERIFY(f.diag->isVisible());
  }
};

QTEST_MAIN(TestForm3Window)
#include "tst_form3window.moc"
