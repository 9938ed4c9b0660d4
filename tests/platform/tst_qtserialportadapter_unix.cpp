#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/adaptercheck.h"
#include "platform/qtserialportadapter.h"

using kline::ByteString;
using kline::QtSerialPortAdapter;

namespace {

// The output rate of each line drained, as it was at the drain.
std::vector<speed_t> gDrainedAt;

}  // namespace

// Every drain of this program passes here on its way to the C library, so a test can see when
// the adapter waits for its bytes to leave.
extern "C" int tcdrain(int fd) {
  termios t{};
  gDrainedAt.push_back(tcgetattr(fd, &t) == 0 ? cfgetospeed(&t) : speed_t(0));
  using Drain = int (*)(int);
  static const Drain next = reinterpret_cast<Drain>(dlsym(RTLD_NEXT, "tcdrain"));
  return next ? next(fd) : 0;
}

namespace {

// The far end of a pseudo terminal stands in for the adapter and the ECU.
struct Pty {
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    slave = QString::fromLocal8Bit(ptsname(master));
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);
  }
  ~Pty() { closeMaster(); }
  void closeMaster() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  void send(const QByteArray& b) const {
    QVERIFY(::write(master, b.constData(), b.size()) == b.size());
  }
  // What the master can read right now, without waiting for more.
  QByteArray waiting() const {
    QByteArray out;
    fcntl(master, F_SETFL, O_NONBLOCK);
    char buf[4096];
    for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<int>(n));
    return out;
  }
  QByteArray receive(int want, int ms) const {
    QByteArray out;
    QElapsedTimer t;
    t.start();
    fcntl(master, F_SETFL, O_NONBLOCK);
    while (out.size() < want && t.elapsed() < ms) {
      char buf[64];
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0)
        out.append(buf, static_cast<int>(n));
      else
        QTest::qSleep(1);
    }
    return out;
  }
  int master = -1;
  QString slave;
};

std::unique_ptr<QtSerialPortAdapter> openOn(const Pty& pty) {
  auto port = std::make_unique<QtSerialPortAdapter>();
  port->CommPort = pty.slave.toStdString();
  port->DTREnable = true;
  port->RTSEnable = true;
  port->open();
  return port;
}

}  // namespace

class TestQtSerialPortAdapter : public QObject {
  Q_OBJECT

 private slots:
  void resolvesPortFieldTexts() {
    const QStringList ports{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyS0")};
    QString err;
    QCOMPARE(QtSerialPortAdapter::ResolveDevice("2", ports, &err), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(QtSerialPortAdapter::ResolveDevice("ttyACM1", ports, &err),
             QStringLiteral("/dev/ttyACM1"));
    QCOMPARE(QtSerialPortAdapter::ResolveDevice("/dev/pts/4", ports, &err),
             QStringLiteral("/dev/pts/4"));
    QVERIFY(QtSerialPortAdapter::ResolveDevice("3", ports, &err).isEmpty());
    QCOMPARE(err, QStringLiteral("no serial port number 3; found 2: /dev/ttyUSB0, /dev/ttyS0"));
    QVERIFY(QtSerialPortAdapter::ResolveDevice("0", {}, &err).isEmpty());
    QCOMPARE(err, QStringLiteral("no serial port number 0; found none"));
  }

  void missingDeviceGivesAReason() {
    QtSerialPortAdapter port;
    port.CommPort = "/dev/klinediag-no-such-tty";
    port.open();
    QVERIFY(!port.isOpen());
    QVERIFY(!port.openError().empty());
    QCOMPARE(port.deviceName(), std::string("/dev/klinediag-no-such-tty"));
  }

  void aPortInUseSaysByWhomNotToJoinAGroup() {
    Pty pty;
    auto first = openOn(pty);
    QVERIFY2(first->isOpen(), first->openError().c_str());
    // The first holds the port's lock: a second opening, as another program's would, is told
    // who holds it, also when the user may open any device (root).
    const std::string holder =
        QStringLiteral("in use by %1 (pid %2)")
            .arg(QFileInfo(QCoreApplication::applicationFilePath()).fileName())
            .arg(QCoreApplication::applicationPid())
            .toStdString();
    auto second = openOn(pty);
    QVERIFY(!second->isOpen());
    QCOMPARE(second->openError(), holder);
    const kline::AdapterReport check = kline::AdapterCheck().run(pty.slave.toStdString());
    QCOMPARE(check.openError, holder);
    // Once the first lets go, the port opens again.
    first->close();
    second->open();
    QVERIFY2(second->isOpen(), second->openError().c_str());
  }

  void countsBytesTheKernelHolds() {
    Pty pty;
    QVERIFY(pty.master >= 0);
    auto port = openOn(pty);
    QVERIFY2(port->isOpen(), port->openError().c_str());
    QCOMPARE(port->commEvent(), int16_t(0));
    pty.send(QByteArray::fromHex("55A38F"));
    QTest::qSleep(20);
    // No event loop runs here: the count must still see what arrived.
    QCOMPARE(port->inBufferCount(), 3);
    QCOMPARE(port->commEvent(), int16_t(2));
    QCOMPARE(port->readAll(), ByteString("\x55\xA3\x8F"));
    QCOMPARE(port->inBufferCount(), 0);
  }

  void writesReturnOnceTheirBytesHaveLeft() {
    Pty pty;
    auto port = openOn(pty);
    port->write(ByteString("\x0F\xAA", 2));
    QCOMPARE(pty.waiting(), QByteArray::fromHex("0FAA"));
    // More than the terminal holds: the write goes on while the far end reads, and no event
    // loop runs here to send a remainder later.
    QByteArray block(64 * 1024, '\0');
    for (int i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
    QByteArray got;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
      while (!stop) {
        pollfd p{pty.master, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) got += pty.waiting();
      }
    });
    port->write(ByteString(block.constData(), static_cast<std::size_t>(block.size())));
    stop = true;
    reader.join();
    got += pty.waiting();
    QCOMPARE(got.size(), block.size());
    QCOMPARE(got, block);
  }

  void drainsTheLineBeforeTheRateChanges() {
    Pty pty;
    auto port = openOn(pty);
    const QByteArray bytes = QByteArray::fromHex("0FAACC");
    port->write(ByteString(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    gDrainedAt.clear();
    QVERIFY(!kline::SetBaudRate(*port, 7812).has_value());
    // The bytes written before the change leave at the old rate.
    QVERIFY(!gDrainedAt.empty());
    QCOMPARE(gDrainedAt.front(), speed_t(B1200));
    QCOMPARE(pty.receive(bytes.size(), 2000), bytes);
  }

  void waitWakesWhenTheBytesArrive() {
    Pty pty;
    auto port = openOn(pty);
    QElapsedTimer t;
    t.start();
    QVERIFY(port->sleepUntilWaiting(1, 300));
    QVERIFY(t.elapsed() >= 250);  // nothing came: the full pause
    pty.send(QByteArray::fromHex("17"));
    t.restart();
    QVERIFY(port->sleepUntilWaiting(1, 1000));
    QVERIFY2(t.elapsed() < 200, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(port->inBufferCount(), 1);
  }

  void switchesTo7812OnTheOpenPort() {
    Pty pty;
    auto port = openOn(pty);
    QVERIFY(!kline::SetBaudRate(*port, 7812).has_value());
    kline::LineSettings ls;
    QVERIFY(port->getLineSettings(ls));
    QCOMPARE(ls.baud, 7812);
    QCOMPARE(ls.dataBits, 8);
    QCOMPARE(ls.parity, 'n');
  }

  void vanishedDeviceKeepsWaitsRealPauses() {
    Pty pty;
    auto port = openOn(pty);
    pty.send(QByteArray::fromHex("01"));
    QTest::qSleep(10);
    QCOMPARE(port->inBufferCount(), 1);
    pty.closeMaster();
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 5; ++i) port->sleepUntilWaiting(2, 20);
    QVERIFY2(t.elapsed() >= 90, qPrintable(QString::number(t.elapsed())));
    QVERIFY(port->dead());
    // From then on it counts as closed, and says why once.
    QVERIFY(port->lost());
    QVERIFY(!port->isOpen());
    // Said in the line's own words, not from a stale errno.
    QVERIFY2(QString::fromStdString(port->lostReason()).startsWith("the line hung up"),
             port->lostReason().c_str());
    QCOMPARE(port->inBufferCount(), 0);
    port->write(ByteString("\x02", 1));  // must not hang or throw
    port->close();
    QVERIFY(!port->isOpen());
  }
};

QTEST_GUILESS_MAIN(TestQtSerialPortAdapter)
#include "tst_qtserialportadapter_unix.moc"
