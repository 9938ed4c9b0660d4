#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include "platform/qthost.h"

using kline::QtHost;

class TestQtHost : public QObject {
  Q_OBJECT

 private slots:
  void clockFollowsSleep() {
    QtHost h;
    uint32_t t0 = h.timeGetTime();
    int64_t u0 = h.micros();
    h.Sleep(30);
    uint32_t t1 = h.timeGetTime();
    int64_t u1 = h.micros();
    QVERIFY(t1 - t0 >= 30);
    QVERIFY(t1 - t0 < 1000);
    QVERIFY(u1 - u0 >= 30000);
    // Both views read the same clock.
    QVERIFY(std::llabs((u1 / 1000) - static_cast<int64_t>(t1)) <= 2);
  }

  void nonPositiveSleepReturnsAtOnce() {
    QtHost h;
    QElapsedTimer t;
    t.start();
    h.Sleep(0);
    h.Sleep(-500);
    QVERIFY(t.elapsed() < 20);
  }

  void clockWrapsAt32Bits() {
    const uint32_t origin = 0xFFFFFFF0u;
    QtHost h(origin);
    h.Sleep(40);
    uint32_t t = h.timeGetTime();
    QVERIFY(t < origin);  // wrapped past zero
    QVERIFY(t - origin >= 40);
    QVERIFY(t - origin < 1000);
  }

  void timerTicksAndStops() {
    QtHost h;
    int ticks = 0;
    h.setTimerHandler([&] { ++ticks; });
    h.setTimer(20);
    QCOMPARE(h.timerInterval(), 20);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 2000);
    h.setTimer(0);
    QCOMPARE(h.timerInterval(), 0);
    int stopped = ticks;
    QTest::qWait(100);
    QCOMPARE(ticks, stopped);
    h.setTimer(-5);
    QTest::qWait(60);
    QCOMPARE(ticks, stopped);
  }

  void settingTheTimerRestartsTheInterval() {
    QtHost h;
    int ticks = 0;
    h.setTimerHandler([&] { ++ticks; });
    h.setTimer(150);
    // Set again every 50 ms: the 150 ms never elapse.
    for (int i = 0; i < 8; ++i) {
      QTest::qWait(50);
      h.setTimer(150);
    }
    QCOMPARE(ticks, 0);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 1, 1000);
    h.setTimer(0);
  }

  void ticksNeverNestInsideAHandler() {
    QtHost h;
    int depth = 0;
    int maxDepth = 0;
    int ticks = 0;
    h.setTimerHandler([&] {
      ++ticks;
      ++depth;
      maxDepth = std::max(maxDepth, depth);
      if (ticks == 1) {
        // A long handler that lets events run while the timer is overdue.
        for (int i = 0; i < 10; ++i) {
          h.Sleep(15);
          h.DoEvents();
        }
      }
      --depth;
    });
    h.setTimer(10);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 2, 2000);
    h.setTimer(0);
    QCOMPARE(maxDepth, 1);
  }

  void userEventsRunNestedButTicksAreDropped() {
    QtHost h;
    bool ranInside = false;
    int ticks = 0;
    h.setTimerHandler([&] { ++ticks; });
    h.runGuarded([&] {
      QVERIFY(h.inHandler());
      QMetaObject::invokeMethod(
          &h, [&] { h.runGuarded([&] { ranInside = h.inHandler(); }); }, Qt::QueuedConnection);
      h.setTimer(1);
      h.Sleep(20);
      h.DoEvents();
      QVERIFY(ranInside);
      // The overdue tick fired inside DoEvents and was dropped, not run.
      QCOMPARE(ticks, 0);
      QVERIFY(h.droppedTicks() > 0);
      h.setTimer(0);
    });
    QVERIFY(!h.inHandler());
  }

  void guardSurvivesAnException() {
    QtHost h;
    try {
      h.runGuarded([] { throw std::runtime_error("x"); });
    } catch (const std::runtime_error&) {
    }
    QVERIFY(!h.inHandler());
  }

  void theClipboardGoesToItsHandler() {
    QtHost h;
    std::string clip;
    h.setClipboard("ignored without a handler");
    h.setClipboardHandler([&](const std::string& t) { clip = t; });
    h.setClipboard("log\r\n");
    QCOMPARE(clip, std::string("log\r\n"));
  }
};

QTEST_GUILESS_MAIN(TestQtHost)
#include "tst_qthost.moc"
