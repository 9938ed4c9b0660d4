// The live chart against the simulated ECU on real time: it takes a point per completed cycle,
// draws a strip for each channel with a value from a decimated view, hides and shows strips from
// its check boxes, pauses, zooms, and opens a CSV recording with a cursor that reads every
// channel; what a file names is shown as text, and a recording with many channels shows its first
// ones.
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QGraphicsTextItem>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <cmath>
#include <functional>
#include <string>

#include "gui/windows/chartwindow.h"
#include "guifixture.h"
#include "livedata/csvrecorder.h"

namespace {

// A cycle's values as the fields' texts give them.
kline::LiveValues Values(const QStringList& texts) {
  kline::LiveValues v;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const float x = kline::ChartModel::ParseValue(texts[static_cast<qsizetype>(i)].toStdString());
    if (!std::isnan(x)) v[i] = x;
  }
  return v;
}

QChartView* viewOf(QWidget* strip) {
  return strip->findChild<QChartView*>();
}

// The points handed to Qt Charts for a strip, over all its curve pieces.
qsizetype pointsDrawn(QWidget* strip) {
  qsizetype n = 0;
  for (auto* s : viewOf(strip)->chart()->series())
    if (auto* line = qobject_cast<QLineSeries*>(s)) n += line->count();
  return n;
}

// A recording: the header, then `row(i)` for each of `rows` rows.
bool writeRecording(const QString& path, int rows, const std::function<std::string(int)>& row) {
  QFile out(path);
  if (!out.open(QIODevice::WriteOnly)) return false;
  std::string text = kline::CsvRecorder::Header() + "\r\n";
  for (int i = 0; i < rows; ++i) text += row(i);
  return out.write(text.data(), static_cast<qint64>(text.size())) ==
         static_cast<qint64>(text.size());
}

QAction* chartAction(MainWindow& w) {
  for (QAction* a : w.menuBar()->actions())
    if (a->text() == QLatin1String("Chart")) return a;
  return nullptr;
}

}  // namespace

class TestChartWindow : public QObject {
  Q_OBJECT

 private slots:
  void closingTheMainWindowClosesTheChart() {
    GuiFixture f;
    ChartWindow* chart = f.window->chartWindow();
    QVERIFY(f.pressConnect());
    chartAction(*f.window)->trigger();
    QTRY_VERIFY(chart->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(chart->liveModel().size() >= 3, 15000);
    // Opening the Diag window pauses the loop: the curves break there.
    f.session->click(QStringLiteral("Diag"));
    QTRY_VERIFY(std::isnan(chart->liveModel().points(0).back().value));
    f.session->click(QStringLiteral("back"), QStringLiteral("Form3"));
    QTRY_VERIFY(!std::isnan(chart->liveModel().points(0).back().value));
    QVERIFY(f.window->close());
    QVERIFY(!chart->isVisible());
  }

  void liveSessionDrawsAStripPerChannelWithValues() {
    GuiFixture f;
    ChartWindow* chart = f.window->chartWindow();
    QAction* menu = chartAction(*f.window);
    QVERIFY(chart && menu);
    QVERIFY(f.pressConnect());
    QTRY_VERIFY_WITH_TIMEOUT(chart->liveModel().size() >= 8, 15000);
    menu->trigger();
    QTRY_VERIFY(chart->isVisible());
    // Cycles that came before the window opened are kept and drawn.
    const kline::ChartModel& m = chart->liveModel();
    for (std::size_t ch = 0; ch < m.channelCount(); ++ch) QCOMPARE(m.points(ch).size(), m.size());
    QTRY_VERIFY(chart->framesDrawn() > 0 && chart->strip(0)->isVisible());
    int shown = 0;
    for (int ch = 0; ch < 9; ++ch) {
      QCOMPARE(chart->strip(ch)->isVisible(), m.hasValue(static_cast<std::size_t>(ch)));
      shown += chart->strip(ch)->isVisible();
    }
    QVERIFY(shown >= 5);
    QVERIFY(m.hasValue(0) && m.hasValue(7));
    QTRY_VERIFY(!chart->valueLabel(0)->text().isEmpty());
    QVERIFY(!std::isnan(kline::ChartModel::ParseValue(chart->valueLabel(7)->text().toStdString())));
    QVERIFY(pointsDrawn(chart->strip(0)) > 0);
    bool named = false;
    for (QLabel* l : chart->strip(7)->findChildren<QLabel*>())
      named = named || l->text() == QLatin1String("battery [V]");
    QVERIFY(named);
    // The view scrolls through the last 60 s.
    QCOMPARE(chart->viewEnd() - chart->viewStart(), 60000.0);

    // A channel hidden from its check box loses its strip, and gets it back.
    chart->channelBox(7)->setChecked(false);
    QVERIFY(!chart->strip(7)->isVisible());
    QVERIFY(chart->strip(0)->isVisible());
    chart->channelBox(7)->setChecked(true);
    QVERIFY(chart->strip(7)->isVisible());

    // Paused, the view holds still while the points keep coming; the wheel zooms in around the
    // mouse; resumed, it follows again.
    chart->setPaused(true);
    const double end = chart->viewEnd();
    const std::size_t before = m.size();
    QTRY_VERIFY_WITH_TIMEOUT(m.size() > before + 3, 5000);
    chart->redraw();
    QCOMPARE(chart->viewEnd(), end);
    QChartView* view = viewOf(chart->strip(0));
    const QPointF mid = view->chart()->plotArea().center();
    QWheelEvent wheel(mid, view->mapToGlobal(mid.toPoint()), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    QVERIFY(chart->viewEnd() - chart->viewStart() < 60000.0 * 0.9);
    chart->setPaused(false);
    chart->redraw();
    QCOMPARE(chart->viewEnd(), static_cast<double>(std::max<uint32_t>(m.lastTime(), 60000)));

    // Export PNG saves the strips.
    const QString png = f.dir.filePath(QStringLiteral("chart.png"));
    QVERIFY(chart->exportPng(png));
    QVERIFY(QImage(png).width() > 100);
  }

  void anHourIsDrawnFromAFewPointsPerColumn() {
    ChartWindow chart;
    QStringList texts = {"", "3.4", "12", "1000", "20", "80", "5", "13.4", " ----"};
    for (int i = 0; i < 20000; ++i) {
      texts[0] = QString::number(1000 + (i % 500) * 10);
      chart.addCycle(static_cast<quint32>(i * 180), Values(texts));
    }
    chart.show();
    chart.showAll();
    QTRY_VERIFY(chart.framesDrawn() > 0);
    chart.setPaused(true);
    chart.redraw();
    QCOMPARE(chart.liveModel().size(), 20000u);
    QVERIFY(!chart.strip(8)->isVisible());  // the trimmer never had a value
    const QRectF plot = viewOf(chart.strip(0))->chart()->plotArea();
    QVERIFY(pointsDrawn(chart.strip(0)) > 0);
    QVERIFY(pointsDrawn(chart.strip(0)) <= 2 * static_cast<qsizetype>(plot.width()) + 2);
  }

  // On a laptop's screen every strip is in view with its numbers whole ("…" was all a short
  // strip's value axis showed), also after the window was made smaller and larger again.
  void fitsALaptopScreenWithWholeAxisLabels() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ride.csv"));
    QVERIFY(writeRecording(path, 200, [](int i) {
      return std::to_string(i * 1750) + ",2026-01-01T10:00:00.000," +
             std::to_string(1000 + 20 * i) + ",3.46,12.5,1013,21,85,5,13.38," +
             std::to_string(i % 7) + ",\r\n";
    }));
    ChartWindow chart;
    chart.resize(900, 500);
    chart.show();
    QVERIFY(chart.openRecording(path));
    QTRY_VERIFY(chart.framesDrawn() > 0);
    chart.resize(1000, 640);
    QTest::qWait(50);
    chart.redraw();
    auto* area = chart.findChild<QScrollArea*>(QStringLiteral("plotArea"));
    QVERIFY(area && !area->verticalScrollBar()->isVisible());
    QVERIFY(!chart.strip(9)->isVisible());  // what a 15m gives: no throttle voltage
    for (int ch = 0; ch < 9; ++ch) {
      QWidget* strip = chart.strip(ch);
      QVERIFY(strip->isVisible() && !strip->visibleRegion().isEmpty());
      QChart* c = viewOf(strip)->chart();
      // The plot and its grid follow the window's width.
      QVERIFY2(c->plotArea().right() > viewOf(strip)->width() - 30,
               qPrintable(QString::number(ch)));
      QStringList labels;
      qreal gridRight = 0;
      for (QGraphicsItem* item : viewOf(strip)->scene()->items()) {
        if (!item->isVisible()) continue;
        if (auto* t = dynamic_cast<QGraphicsTextItem*>(item)) labels << t->toPlainText();
        if (auto* l = dynamic_cast<QGraphicsLineItem*>(item))
          gridRight = std::max(gridRight, l->mapToScene(l->line().p2()).x());
      }
      QVERIFY2(std::abs(gridRight - c->plotArea().right()) < 2, qPrintable(QString::number(ch)));
      QVERIFY2(labels.count(QString()) < labels.size() - 1, qPrintable(QString::number(ch)));
      for (const QString& l : labels)
        QVERIFY2(!l.contains(QLatin1String("...")) && !l.contains(QChar(0x2026)),
                 qPrintable(QString::number(ch) + QLatin1Char(' ') + l));
    }
  }

  void aRecordingShowsItsChannelsWithACursor() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ride.csv"));
    QVERIFY(writeRecording(path, 50, [](int i) {
      std::string row = std::to_string(i * 200) + ",2026-01-01T10:00:00.000," +
                        std::to_string(1000 + i) + ",3.46,12.5,1013,21,85,5,13.38,,2.1\r\n";
      if (i == 20) row += "4100,2026-01-01T10:00:04.100,abc,1,1,1,1,1,1,1,,1\r\n";
      return row;
    }));
    ChartWindow chart;
    chart.show();
    QVERIFY(chart.openRecording(path));
    QVERIFY(chart.showingRecording());
    const kline::ChartModel& m = chart.model();
    QCOMPARE(m.size(), 50u);
    QVERIFY(m.channelCount() >= 9);
    QCOMPARE(QString::fromStdString(m.channel(0).title()), QStringLiteral("rpm [tr/m]"));
    QTest::qWait(50);
    QVERIFY(chart.strip(0)->isVisible());
    QVERIFY(!chart.strip(8)->isVisible());  // no trimmer values in the file
    // The reader's skip line is in the status line.
    QVERIFY2(chart.statusLine()->text().contains(QLatin1String("skipped")),
             qPrintable(chart.statusLine()->text()));
    QTRY_VERIFY(chart.framesDrawn() > 0);
    QCOMPARE(chart.viewStart(), 0.0);
    QCOMPARE(chart.viewEnd(), 49 * 200.0);

    // The cursor reads every channel at the time under the mouse.
    QChartView* view = viewOf(chart.strip(0));
    const QPointF at = view->chart()->mapToPosition(QPointF(5.1, 0));
    QPointF inside(at.x(), view->chart()->plotArea().center().y());
    QMouseEvent move(QEvent::MouseMove, inside, view->mapToGlobal(inside), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    QCOMPARE(chart.valueLabel(0)->text(), QStringLiteral("1025"));
    QCOMPARE(chart.valueLabel(7)->text(), QStringLiteral("13.38"));
    QVERIFY(chart.statusLine()->text().contains(QLatin1String("5.10 s")));

    // Back to the live values; a file that is not a recording says why.
    chart.showLive();
    QVERIFY(!chart.showingRecording());
    const QString bad = dir.filePath(QStringLiteral("bad.csv"));
    QFile b(bad);
    QVERIFY(b.open(QIODevice::WriteOnly));
    b.write("hello\n");
    b.close();
    QVERIFY(!chart.openRecording(bad));
    QVERIFY(chart.statusLine()->text().startsWith(QLatin1String("bad.csv: ")));
    QVERIFY(!chart.showingRecording());
  }

  // Names from the file, and the file's own name (no slash in it), are shown as they are: markup
  // in them is not rendered (an image tag in a column name once made a strip's label 20000 pixels
  // wide).
  void namesFromAFileAreShownAsText() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("<b>ride<u> &amp;.csv"));
    {
      QFile out(path);
      QVERIFY(out.open(QIODevice::WriteOnly));
      std::string text = "time_ms,time,<u>rpm</u> [&amp;],<b>battery</b>\r\n";
      for (int i = 0; i < 20; ++i)
        text += std::to_string(i * 200) + ",t," + std::to_string(1000 + i) + ",13.4\r\n";
      out.write(text.data(), static_cast<qint64>(text.size()));
    }
    ChartWindow chart;
    chart.show();
    QVERIFY(chart.openRecording(path));
    QTRY_VERIFY(chart.framesDrawn() > 0);
    // Each is in one label at least, and every label with it shows it as text.
    for (const char* literal : {"<u>rpm</u> [&amp;]", "<b>battery</b>", "<b>ride<u> &amp;.csv"}) {
      int labels = 0;
      for (QLabel* l : chart.findChildren<QLabel*>()) {
        if (!l->text().contains(QLatin1String(literal))) continue;
        ++labels;
        QVERIFY2(l->textFormat() == Qt::PlainText, qPrintable(l->text()));
      }
      QVERIFY2(labels > 0, literal);
    }
    // A check box would take "&a" for its shortcut key Alt+A and underline the "a".
    QCOMPARE(chart.channelBox(0)->text().replace(QLatin1String("&&"), QLatin1String("&")),
             QStringLiteral("<u>rpm</u> [&amp;]"));
    QVERIFY(QKeySequence::mnemonic(chart.channelBox(0)->text()).isEmpty());
    // The reasons of a refused file with such a name too.
    const QString bad = dir.filePath(QStringLiteral("<i>bad.csv"));
    QFile b(bad);
    QVERIFY(b.open(QIODevice::WriteOnly));
    b.write("time_ms,time,<u>cut");
    b.close();
    QVERIFY(!chart.openRecording(bad));
    QCOMPARE(chart.statusLine()->text(),
             QStringLiteral("<i>bad.csv: not a klinediag recording: its first line is cut "
                            "short"));
    QCOMPARE(chart.statusLine()->textFormat(), Qt::PlainText);
  }

  // A recording with many channels shows the first ones a chart takes, and says how many it left
  // out.
  void aWideRecordingShowsTheFirstChannelsAndSaysHowManyAreLeftOut() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wide.csv"));
    const int channels = 40;
    {
      QFile out(path);
      QVERIFY(out.open(QIODevice::WriteOnly));
      std::string text = "time_ms,time";
      for (int c = 0; c < channels; ++c) text += ",c" + std::to_string(c);
      text += "\r\n";
      for (int i = 0; i < 5; ++i) {
        text += std::to_string(i * 200) + ",t";
        for (int c = 0; c < channels; ++c) text += "," + std::to_string(c + i);
        text += "\r\n";
      }
      out.write(text.data(), static_cast<qint64>(text.size()));
    }
    ChartWindow chart;
    chart.show();
    QVERIFY(chart.openRecording(path));
    const auto shown = static_cast<int>(kline::ChartModel::kMaxRecordingChannels);
    QCOMPARE(static_cast<int>(chart.model().channelCount()), shown);
    QVERIFY(chart.strip(shown - 1) && !chart.strip(shown));
    QCOMPARE(chart.statusLine()->text(),
             QStringLiteral("wide.csv: 5 rows; %1 channels left out (a chart shows the first %2)")
                 .arg(channels - shown)
                 .arg(shown));
  }
};

QTEST_MAIN(TestChartWindow)
#include "tst_chartwindow.moc"
