// The bike records in the window: sessions on the simulated ECU kept as visits, the bikes'
// window, a known bike said in the status bar, and a records file that cannot be used.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>

#include "gui/widgets/faultpanel.h"
#include "gui/windows/recordsmenu.h"
#include "gui/windows/recordswindow.h"
#include "guifixture.h"
#include "records/recordstore.h"
#include "records/visitreport.h"
#include "session/sessionreport.h"

namespace {

// Every item of a tree, depth first.
QList<QTreeWidgetItem*> items(QTreeWidget* t) {
  QList<QTreeWidgetItem*> out;
  std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* it) {
    out << it;
    for (int i = 0; i < it->childCount(); ++i) walk(it->child(i));
  };
  for (int i = 0; i < t->topLevelItemCount(); ++i) walk(t->topLevelItem(i));
  return out;
}

bool live(GuiFixture& f) {
  return !f.main<QLabel>("Label26")->text().isEmpty();
}

// One visit: the faults read, the first test of the list run to its end, Disconnect.
void visit(GuiFixture& f, int testsBefore) {
  QTRY_VERIFY_WITH_TIMEOUT(live(f), 8000);
  f.session->click(QStringLiteral("Command11"));
  QTRY_VERIFY_WITH_TIMEOUT(
      f.window->faultPanel()->latest(0).valid && !f.window->faultPanel()->latest(0).earlier, 5000);
  f.session->setValue(QStringLiteral("List1"), 0);
  QTRY_VERIFY_WITH_TIMEOUT(static_cast<int>(f.window->report().tests().size()) > testsBefore &&
                               f.window->report().tests().back().ended,
                           15000);
  f.session->click(QStringLiteral("Check2"));
}

}  // namespace

class TestRecordsWindow : public QObject {
  Q_OBJECT

 private:
  // A records file at `path` with a 15m bike per identification, each with one visit.
  static bool oneVisitEach(const QString& path, std::initializer_list<const char*> ids,
                           const char* calibration = "") {
    std::string why;
    auto store = kline::records::RecordStore::Open(
        path.toStdString(), kline::records::RecordStore::Mode::ReadWrite, why);
    if (!store) return false;
    for (const char* id : ids)
      if (!store->startVisit(store->bikeFor({"15m", "", id, calibration}),
                             {{1773500000000, 60}, "sim", "", "15m", "0.1", true}))
        return false;
    return true;
  }

 private slots:
  void twoSessionsMakeOneBikeWithTwoVisitsComparedInTheWindow() {
    QTemporaryDir dir;
    // Each connection a visit of its own, as on days apart.
    GuiFixture f("{}", 100, dir.filePath(QStringLiteral("records.sqlite")),
                 "[Records]\r\nJoinVisitsHours=0\r\n");
    QSignalSpy messages(f.window->statusBar(), &QStatusBar::messageChanged);
    QVERIFY(f.pressConnect());
    visit(f, 0);
    QVERIFY(f.pressConnect());
    // The second connection identifies the bike of the first.
    QTRY_VERIFY_WITH_TIMEOUT(
        std::any_of(messages.begin(), messages.end(),
                    [](const QList<QVariant>& m) {
                      return m.at(0).toString().startsWith(QStringLiteral("Known bike:"));
                    }),
        8000);
    // The faults panel offers that visit's faults beside today's.
    FaultPanel* panel = f.window->faultPanel();
    QTRY_VERIFY(panel->lastVisitBox()->isVisible());
    panel->lastVisitBox()->setChecked(true);
    bool lastVisitRows = false;
    for (int r = 0; r < panel->table()->rowCount(); ++r)
      lastVisitRows = lastVisitRows || panel->table()->item(r, 0)->text().startsWith(
                                           QStringLiteral("Faults, last visit"));
    QVERIFY(lastVisitRows);
    visit(f, 1);

    RecordsMenu* menu = f.window->records();
    RecordsWindow* w = menu->window();
    menu->showBikes();
    // The keeper writes at least once a second: read until the last visit is in.
    QTRY_VERIFY_WITH_TIMEOUT(
        (w->refresh(), w->bikes()->rowCount() == 1 && w->visits()->rowCount() == 2 &&
                           w->visits()->item(0, 4)->text() == "1"),
        5000);
    QCOMPARE(w->bikes()->item(0, 4)->text(), QStringLiteral("2"));
    QCOMPARE(w->bikes()->item(0, 3)->text(), QStringLiteral("15m"));

    // The visit's details: the fault lines flagged, the test with its verdict.
    int faults = 0, clean = 0;
    bool test = false;
    for (QTreeWidgetItem* it : items(w->details())) {
      if (it->data(0, RecordsWindow::kFaultRole).toBool())
        ++faults;
      else if (it->data(0, RecordsWindow::kFaultRole).isValid())
        ++clean;
      test = test || (it->parent() && it->parent()->text(0) == QStringLiteral("Tests") &&
                      !it->text(1).isEmpty());
    }
    QCOMPARE(faults, w->visits()->item(0, 3)->text().toInt());
    QVERIFY(clean > 0);
    QVERIFY(test);

    // Against the visit before: the same faults stayed.
    w->compareWithPrevious();
    QCOMPARE(w->tabs()->currentWidget(), w->comparison());
    int stayed = 0;
    for (QTreeWidgetItem* it : items(w->comparison()))
      if (it->text(2) == QStringLiteral("stayed")) ++stayed;
    QCOMPARE(stayed, faults);

    // The search: the identification finds it, another word does not.
    w->search()->setText(QStringLiteral("kl15m"));
    QCOMPARE(w->bikes()->rowCount(), 1);
    w->search()->setText(QStringLiteral("no such bike"));
    QCOMPARE(w->bikes()->rowCount(), 0);
    QCOMPARE(w->visits()->rowCount(), 0);
  }

  void aNewBikeIsSaidAndStaysNamedWhileConnectedAndAReconnectGoesOnWithItsVisit() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.sqlite"));
    GuiFixture f("{}", 100, path);
    QSignalSpy messages(f.window->statusBar(), &QStatusBar::messageChanged);
    auto said = [&](const QString& start) {
      return std::any_of(messages.begin(), messages.end(), [&](const QList<QVariant>& m) {
        return m.at(0).toString().startsWith(start);
      });
    };
    QLabel* bike = f.window->records()->bikeLabel();
    QVERIFY(f.pressConnect());
    QTRY_VERIFY_WITH_TIMEOUT(said(QStringLiteral("New bike: KL15M-0427")), 8000);
    QCOMPARE(bike->text(), QStringLiteral("KL15M-0427"));
    QVERIFY(bike->isVisible());
    f.session->click(QStringLiteral("Check2"));  // Disconnect
    QTRY_COMPARE(bike->text(), QString());

    // Named by the user; connected again the same day: the same visit, said so, and the name.
    {
      std::string why;
      auto store = kline::records::RecordStore::Open(
          path.toStdString(), kline::records::RecordStore::Mode::ReadWrite, why);
      QVERIFY2(store, why.c_str());
      QCOMPARE(store->bikes().size(), std::size_t{1});
      QVERIFY(store->rename(store->bikes()[0].id, "Blue roadster"));
    }
    messages.clear();
    QVERIFY(f.pressConnect());
    QTRY_VERIFY_WITH_TIMEOUT(said(QStringLiteral("Same visit as before: Blue roadster (since ")),
                             8000);
    QTRY_COMPARE(bike->text(), QStringLiteral("Blue roadster"));
    QVERIFY(!said(QStringLiteral("Known bike")));
    f.session->click(QStringLiteral("Check2"));
    QTRY_COMPARE(bike->text(), QString());
    std::string why;
    auto store = kline::records::RecordStore::Open(
        path.toStdString(), kline::records::RecordStore::Mode::ReadOnly, why);
    QVERIFY2(store, why.c_str());
    QCOMPARE(store->bikes()[0].visits, 1);
  }

  void textFromTheFileIsPlainTextInWidgetsAndEscapedInTheReport() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.sqlite"));
    const std::string evil = "<b>bold</b>\x1b[31m\x07";
    {
      std::string why;
      auto store = kline::records::RecordStore::Open(
          path.toStdString(), kline::records::RecordStore::Mode::ReadWrite, why);
      QVERIFY2(store, why.c_str());
      const int64_t bike = store->bikeFor({"15m", "", evil, "CAL"});
      QVERIFY(store->setDetails(bike, {evil, "R", "O", "two\nlines"}));
      const int64_t v =
          store->startVisit(bike, {{1773500000000, 60}, "sim", "", "15m", "0.1", true});
      kline::Readout r;
      r.lines = {evil};
      r.fault = {true};
      QVERIFY(store->addReadout(v, {r, {1773500001000, 60}}));
    }
    RecordsWindow w;
    w.setPath(path);
    w.show();
    QCOMPARE(w.bikes()->rowCount(), 1);
    const QString shown = w.bikes()->item(0, 0)->text();
    QVERIFY(shown.startsWith(QStringLiteral("<b>bold</b>")));
    QVERIFY(!shown.contains(QChar(0x1b)) && !shown.contains(QChar(0x07)));
    QVERIFY(shown.contains(QChar(0x241b)));
    QCOMPARE(w.bikes()->item(0, 2)->text(), shown);
    QCOMPARE(w.findChild<QPlainTextEdit*>(QStringLiteral("bikeNotes"))->toPlainText(),
             QStringLiteral("two\nlines"));
    bool line = false;
    for (QTreeWidgetItem* it : items(w.details()))
      line = line || (it->text(0) == shown && it->data(0, RecordsWindow::kFaultRole).toBool());
    QVERIFY(line);

    // The visit's report: the same page as the session's, the text escaped.
    std::string why;
    auto store = kline::records::RecordStore::Open(
        path.toStdString(), kline::records::RecordStore::Mode::ReadOnly, why);
    const auto v = store->visit(w.selectedVisit());
    QVERIFY(v);
    const std::string html = kline::records::VisitReportHtml(*v, store->bike(v->bike));
    QVERIFY(html.find("&lt;b&gt;bold&lt;/b&gt;") != std::string::npos);
    QVERIFY(html.find("<b>bold") == std::string::npos);
    QVERIFY(html.find("2026-03-14 ") != std::string::npos);
    const QString pdf = dir.filePath(QStringLiteral("visit.pdf"));
    QVERIFY(w.writeReport(pdf));
    QFile written(dir.filePath(QStringLiteral("visit.html")));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll().toStdString(), html);
  }

  void sameBikeAndForgetDoNothingUnlessConfirmed() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.sqlite"));
    int64_t kept = 0;
    {
      std::string why;
      auto store = kline::records::RecordStore::Open(
          path.toStdString(), kline::records::RecordStore::Mode::ReadWrite, why);
      QVERIFY2(store, why.c_str());
      for (const char* id : {"KL15M-0427", "KL15M-9999"}) {
        kept = store->bikeFor({"15m", "", id, ""});
        QVERIFY(store->startVisit(kept, {{1773500000000, 60}, "sim", "", "15m", "0.1", true}));
      }
    }
    RecordsWindow w;
    w.setPath(path);
    QCOMPARE(w.bikes()->rowCount(), 2);
    w.selectBike(w.bikes()->item(0, 0)->data(Qt::UserRole).toLongLong() == kept
                     ? w.bikes()->item(1, 0)->data(Qt::UserRole).toLongLong()
                     : w.bikes()->item(0, 0)->data(Qt::UserRole).toLongLong());
    w.setSameBikeChooser([kept](const std::vector<kline::records::Bike>& others) {
      return others.size() == 1 ? std::optional<qint64>(kept) : std::nullopt;
    });
    QStringList asked;
    bool yes = false;
    w.setConfirm([&](const QString& q) {
      asked << q;
      return yes;
    });
    auto* merge = w.findChild<QPushButton*>(QStringLiteral("bikeMerge"));
    auto* forget = w.findChild<QPushButton*>(QStringLiteral("bikeForget"));
    merge->click();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(w.bikes()->rowCount(), 2);
    yes = true;
    merge->click();
    QCOMPARE(w.bikes()->rowCount(), 1);
    QCOMPARE(w.selectedBike(), kept);
    QCOMPARE(w.visits()->rowCount(), 2);
    yes = false;
    forget->click();
    QCOMPARE(w.bikes()->rowCount(), 1);
    yes = true;
    forget->click();
    QCOMPARE(asked.size(), 4);
    QCOMPARE(w.bikes()->rowCount(), 0);
  }

  // Details typed and not saved survive a refresh; closing asks, and each answer does what it
  // says. Closing the main window asks the same, and closes both once answered.
  void closingWithUnsavedDetailsAsksSaveDiscardOrCancel() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.sqlite"));
    QVERIFY(oneVisitEach(path, {"KL15M-0427"}, "CAL"));
    GuiFixture f("{}", 100, path);
    QVERIFY(QTest::qWaitFor([&] { return f.session->isLoaded(); }, 5000));
    RecordsMenu* menu = f.window->records();
    RecordsWindow* w = menu->window();
    QTRY_COMPARE(w->path(), path);
    menu->showBikes();
    QTRY_COMPARE(w->bikes()->rowCount(), 1);
    QVERIFY(w->selectedBike() != 0);
    auto* name = w->findChild<QLineEdit*>(QStringLiteral("bikeName"));
    auto* owner = w->findChild<QLineEdit*>(QStringLiteral("bikeOwner"));
    const auto type = [](QLineEdit* e, const QString& text) {
      e->setFocus();
      e->selectAll();
      QTest::keyClicks(e, text);
    };
    const auto answer = [w](QMessageBox::StandardButton b) {
      auto* box = qobject_cast<QMessageBox*>(w->unsavedQuestion());
      QVERIFY(box);
      box->button(b)->click();
    };
    type(name, QStringLiteral("Red one"));
    type(owner, QStringLiteral("Ann"));
    QVERIFY(w->hasUnsavedEdits());
    w->refresh();
    QCOMPARE(name->text(), QStringLiteral("Red one"));

    // Cancel: nothing closes, nothing is lost.
    QVERIFY(!w->close());
    answer(QMessageBox::Cancel);
    QTRY_VERIFY(!w->unsavedQuestion());
    QVERIFY(w->isVisible());
    QCOMPARE(owner->text(), QStringLiteral("Ann"));
    // Discard: closed, and the records keep what they had.
    w->close();
    answer(QMessageBox::Discard);
    QTRY_VERIFY(!w->isVisible());
    menu->showBikes();
    QTRY_COMPARE(w->bikes()->rowCount(), 1);
    QCOMPARE(name->text(), QString());
    // Save: closed, and kept.
    type(name, QStringLiteral("Red one"));
    w->close();
    answer(QMessageBox::Save);
    QTRY_VERIFY(!w->isVisible());
    menu->showBikes();
    QTRY_COMPARE(w->bikes()->rowCount(), 1);
    QCOMPARE(w->bikes()->item(0, 0)->text(), QStringLiteral("Red one"));
    QCOMPARE(name->text(), QStringLiteral("Red one"));

    // The main window closes the records window: the question comes first, then both close.
    type(owner, QStringLiteral("Bob"));
    QVERIFY(!f.window->close());
    QVERIFY(f.window->isVisible());
    answer(QMessageBox::Save);
    QTRY_VERIFY(!w->isVisible());
    QTRY_VERIFY(!f.window->isVisible());
    w->refresh();
    QCOMPARE(owner->text(), QStringLiteral("Bob"));
  }

  // Details typed for one bike survive choosing another: they go to the bike they were typed for.
  void choosingAnotherBikeKeepsWhatWasTypedForTheFirst() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.sqlite"));
    QVERIFY(oneVisitEach(path, {"KL15M-0427", "KL15M-9999"}));
    RecordsWindow w;
    w.setPath(path);
    w.show();
    QTRY_COMPARE(w.bikes()->rowCount(), 2);
    w.bikes()->selectRow(0);
    const qint64 first = w.selectedBike();
    auto* name = w.findChild<QLineEdit*>(QStringLiteral("bikeName"));
    name->setFocus();
    QTest::keyClicks(name, QStringLiteral("Blue one"));
    QVERIFY(w.hasUnsavedEdits());
    w.bikes()->selectRow(1);
    QVERIFY(w.selectedBike() != first);
    QVERIFY(!w.hasUnsavedEdits());
    QCOMPARE(name->text(), QString());
    std::string why;
    auto store = kline::records::RecordStore::Open(
        path.toStdString(), kline::records::RecordStore::Mode::ReadOnly, why);
    QCOMPARE(store->bike(first)->details.name, std::string("Blue one"));
  }

  void aRecordsFileThatCannotBeUsedIsSaidOnceAndTheSessionGoesOn() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.sqlite"));
    {
      QFile junk(path);
      QVERIFY(junk.open(QIODevice::WriteOnly));
      junk.write(QByteArray(4096, 'x'));
    }
    GuiFixture f("{}", 100, path);
    QSignalSpy problems(f.session.get(), &Session::recordsProblem);
    QSignalSpy messages(f.window->statusBar(), &QStatusBar::messageChanged);
    QVERIFY(f.pressConnect());
    QTRY_VERIFY_WITH_TIMEOUT(live(f), 8000);
    QTRY_COMPARE(problems.size(), 1);
    const QString why = problems.at(0).at(0).toString();
    QVERIFY(std::any_of(messages.begin(), messages.end(),
                        [&](const QList<QVariant>& m) { return m.at(0).toString() == why; }));
    // Another connection says nothing more; the file stays as it was.
    f.session->click(QStringLiteral("Check2"));
    QVERIFY(f.pressConnect());
    QTRY_VERIFY_WITH_TIMEOUT(live(f), 8000);
    QTest::qWait(300);
    QCOMPARE(problems.size(), 1);
    QFile junk(path);
    QVERIFY(junk.open(QIODevice::ReadOnly));
    QCOMPARE(junk.readAll(), QByteArray(4096, 'x'));
  }
};

QTEST_MAIN(TestRecordsWindow)
#include "tst_recordswindow.moc"
