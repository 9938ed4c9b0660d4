// The faults panel, "Save log…" and "Report…" on the main window against the simulated ECU.
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextDocument>

#include "gui/dialogs/logsaver.h"
#include "gui/dialogs/reportwriter.h"
#include "gui/widgets/faultpanel.h"
#include "gui/widgets/lampwidget.h"
#include "gui/widgets/linkstateview.h"
#include "guifixture.h"
#include "session/sessionreport.h"

class TestFaultPanel : public QObject {
  Q_OBJECT

 private slots:
  void aNewConnectionGreysWhatTheOneBeforeRead() {
    GuiFixture f;
    QVERIFY(f.pressConnect());
    QTRY_VERIFY_WITH_TIMEOUT(!f.main<QLabel>("Label26")->text().isEmpty(), 8000);
    f.session->click(QStringLiteral("Command2"));
    FaultPanel* panel = f.window->faultPanel();
    QTRY_VERIFY_WITH_TIMEOUT(panel->latest(1).valid, 5000);
    QVERIFY(!panel->latest(1).earlier);
    // Reconnected as another type: the immobiliser rows are the earlier connection's.
    f.session->click(QStringLiteral("Check2"));
    QVERIFY(f.pressConnect("Option7"));
    QTRY_VERIFY(panel->latest(1).earlier);
    QVERIFY(panel->table()->item(0, 0)->text().contains(QStringLiteral("earlier connection")));
    QVERIFY(!panel->table()->item(0, 0)->data(FaultPanel::kFaultRole).toBool() ||
            panel->table()->item(0, 0)->background().style() == Qt::NoBrush);
  }

  // Thirteen lines in a panel that shows a few: the faults come first, the lines without a fault
  // are quieter, and each new readout comes in view at the top, however the panel was scrolled.
  void theFaultsAndTheNewestReadoutAreInView() {
    GuiFixture f;
    QVERIFY(f.pressConnect());
    QTRY_VERIFY_WITH_TIMEOUT(!f.main<QLabel>("Label26")->text().isEmpty(), 8000);
    FaultPanel* panel = f.window->faultPanel();
    QTableWidget* table = panel->table();
    const auto isFault = [table](int r) {
      return table->item(r, 0)->data(FaultPanel::kFaultRole).toBool();
    };
    const auto inView = [table](int r) {
      const int y = table->rowViewportPosition(r);
      return y >= 0 && y + table->rowHeight(r) <= table->viewport()->height();
    };
    f.session->click(QStringLiteral("Command11"));
    QTRY_VERIFY_WITH_TIMEOUT(panel->latest(0).valid, 5000);
    QCOMPARE(panel->latest(0).lines.size(), 13);
    const int faults = static_cast<int>(panel->latest(0).faults.count(true));
    QVERIFY(faults > 0);
    QVERIFY2(!inView(table->rowCount() - 1), "the panel shows every line: nothing to scroll");
    for (int r = 0; r < table->rowCount(); ++r) {
      QCOMPARE(isFault(r), r < faults);
      if (r < faults) {
        QVERIFY2(inView(r), qPrintable(table->item(r, 1)->text()));
      } else {
        QCOMPARE(table->item(r, 1)->foreground().color(),
                 panel->palette().color(QPalette::Disabled, QPalette::Text));
      }
    }

    // Scrolled down to the last lines, then the immobiliser is read, then the faults again (F6).
    for (const char* button : {"Command2", "Command11"}) {
      table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum());
      const int kind = QByteArray(button) == "Command2" ? 1 : 0;
      const QDateTime before = panel->latest(kind).when;
      f.session->click(QString::fromLatin1(button));
      QTRY_VERIFY_WITH_TIMEOUT(panel->latest(kind).valid && panel->latest(kind).when != before,
                               5000);
      const QString title =
          kind == 1 ? QStringLiteral("Immobiliser, ") : QStringLiteral("Faults, ");
      QVERIFY2(table->item(0, 0)->text().startsWith(title), qPrintable(table->item(0, 0)->text()));
      QVERIFY(inView(0));
      if (kind == 0)
        for (int r = 0; r < faults; ++r) QVERIFY(isFault(r) && inView(r));
    }
  }

  void aReadoutOffABabblingLineGetsNoTick() {
    GuiFixture f(R"({"babble": "12 34"})");
    QVERIFY(f.pressConnect());
    QTRY_VERIFY_WITH_TIMEOUT(
        f.window->linkView()->text().startsWith(QStringLiteral("Bytes nobody asked for")), 8000);
    // The lamp turns amber, the identification read meanwhile is shown as doubtful.
    QTRY_COMPARE(f.main<LampWidget>("Shape1")->colour(), QColor(255, 176, 0));
    QTRY_VERIFY(LinkStateView::isStale(f.main<QPlainTextEdit>("Text4")));
    f.session->click(QStringLiteral("Command11"));
    FaultPanel* panel = f.window->faultPanel();
    QTRY_VERIFY_WITH_TIMEOUT(panel->latest(0).valid, 5000);
    QVERIFY(!panel->latest(0).trusted);
    QVERIFY(panel->table()->item(0, 0)->text().contains(QStringLiteral("not trustworthy")));
    for (int r = 0; r < panel->table()->rowCount(); ++r) {
      QVERIFY(!panel->table()->item(r, 0)->data(FaultPanel::kTrustedRole).toBool());
      QTableWidgetItem* line = panel->table()->item(r, 1);
      if (!panel->table()->item(r, 0)->data(FaultPanel::kFaultRole).toBool())
        QVERIFY(line->toolTip().startsWith(QStringLiteral("Not trustworthy")));
    }
  }

  void faultReadoutIsMarkedSavedAndReported() {
    GuiFixture f;
    QVERIFY(f.pressConnect());
    QTRY_VERIFY_WITH_TIMEOUT(!f.main<QLabel>("Label26")->text().isEmpty(), 8000);
    f.session->click(QStringLiteral("Command11"));
    // The simulated ECU stores faults: some rows are marked, with an icon as well as a colour.
    FaultPanel* panel = f.window->faultPanel();
    QTRY_VERIFY_WITH_TIMEOUT(panel->latest(0).valid, 5000);
    QCOMPARE(panel->latest(0).lines.size(), 13);
    QVERIFY(panel->latest(0).stored);
    int marked = 0;
    for (int r = 0; r < panel->table()->rowCount(); ++r) {
      QTableWidgetItem* it = panel->table()->item(r, 0);
      if (it && it->data(FaultPanel::kFaultRole).toBool()) {
        ++marked;
        QVERIFY(!panel->table()->item(r, 1)->icon().isNull());
      }
    }
    QVERIFY(marked > 0);

    // The log as the pane holds it, CR LF line ends.
    const QString logPath = f.dir.filePath(QStringLiteral("session.log"));
    LogSaver* saver = f.window->logSaver();
    saver->setPathChooser([logPath] { return logPath; });
    QSignalSpy saved(saver, &LogSaver::saved);
    saver->save();
    QTRY_COMPARE(saved.size(), 1);
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY(text.startsWith("1200bds\r\n"));
    QVERIFY(text.contains("init successfull\r\n"));

    // The report holds what the session showed: the fault lines and the channels' ranges.
    const QString pdf = f.dir.filePath(QStringLiteral("report.pdf"));
    QVERIFY(f.window->writeReport(pdf));
    QFile p(pdf);
    QVERIFY(p.open(QIODevice::ReadOnly));
    QVERIFY(p.read(4) == "%PDF");
    QFile html(f.dir.filePath(QStringLiteral("report.html")));
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QString h = QString::fromUtf8(html.readAll());
    for (const QString& line : panel->latest(0).lines)
      QVERIFY2(h.contains(line.trimmed().toHtmlEscaped()), qPrintable(line));
    QVERIFY(h.contains(QStringLiteral("KL15M-0427")));
    QCOMPARE(pdfPages(pdf), 1);
  }

  // What a workshop hands over: the bike, the mileage, the trimmer as the live channel reads it
  // with the byte sent, the CO regulation; on one page however long the session was.
  void aLongReportNamesTheBikeAndStaysOnOnePage() {
    QTemporaryDir dir;
    kline::SessionReport report([] { return std::string("16:20:31"); });
    report.onEvent(kline::ev::Connecting{"sim", "15m"});
    report.onEvent(kline::ev::CoRegulationSet{false, true});
    report.onEvent(kline::ev::TrimmerSet{128, 140});
    for (int i = 0; i < 40; ++i) {
      report.onEvent(kline::ev::TestStarted{"Form1", "Fuel pump " + std::to_string(i), 0x80});
      report.onEvent(kline::ev::TestEnded{"Form1", "", kline::ev::Verdict::Passed, "OK"});
    }
    report.setBike(kline::ReportBike{"Red 600", "AB-123", "R. Smith", 12480});
    const QString pdf = dir.filePath(QStringLiteral("long.pdf"));
    QCOMPARE(WriteSessionReport(report, pdf), QString());
    QCOMPARE(pdfPages(pdf), 1);
    // All of it on that page, drawn smaller; a short one as it is.
    const QSizeF a4(680, 1030);  // A4 less the margins, at the screen's 96 dpi
    QTextDocument doc;
    doc.setHtml(QString::fromStdString(report.html("2026-12-07 16:20:31")));
    const qreal scale = FitToOnePage(doc, a4);
    QVERIFY(scale < 1);
    QVERIFY(doc.size().height() * scale <= a4.height() + 1);
    QTextDocument shortDoc;
    shortDoc.setHtml(QStringLiteral("<p>one line</p>"));
    QCOMPARE(FitToOnePage(shortDoc, a4), 1.0);
    QFile html(ReportHtmlPath(pdf));
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QString h = QString::fromUtf8(html.readAll());
    for (const char* shown :
         {"<th>Bike</th><td>Red 600</td>", "<td>AB-123</td>", "<td>R. Smith</td>",
          "<td>12480 km</td>", "<td>Trimmer</td><td>0 (byte 128)</td><td>12 (byte 140)</td>",
          "<td>CO regulation</td><td>off</td><td>on</td>"})
      QVERIFY2(h.contains(QLatin1String(shown)), shown);
  }

 private:
  static int pdfPages(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QString text = QString::fromLatin1(f.readAll());
    return static_cast<int>(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))));
  }
};

QTEST_MAIN(TestFaultPanel)
#include "tst_faultpanel.moc"
