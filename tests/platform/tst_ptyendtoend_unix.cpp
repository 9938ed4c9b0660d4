// The real serial adapter end to end: the main window's logic on the session's Qt host, through
// QSerialPort, over a pseudo-terminal served by klinediag-sim, on the real clock.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "platform/portfactory.h"
#include "platform/qthost.h"
#include "platform/qtserialportadapter.h"
#include "session/sessioncore.h"

using namespace kline;

namespace {

// Keeps what a test asserts on: log lines, bytes written, baud changes.
class Seen : public EventSink {
 public:
  void onLog(const std::string& w, const std::string& l) override {
    if (w == "Form2") lines << QString::fromStdString(l);
  }
  void onTx(const ByteString& b) override {
    tx += QByteArray(b.data(), static_cast<int>(b.size()));
  }
  void onBaud(int v, bool ok) override {
    bauds << v;
    baudOk << ok;
  }
  QStringList lines;
  QByteArray tx;
  void onNotice(const std::string& t) override { notices << QString::fromStdString(t); }
  void onLost(const std::string& r) override { lost << QString::fromStdString(r); }
  void onEvent(const SessionEvent& e) override {
    if (const auto* c = std::get_if<ev::LiveCycle>(&e); c && c->completed) ++cycles;
  }
  int cycles = 0;  // live cycles that ran to their end
  QStringList lost;
  QStringList notices;
  QList<int> bauds;
  QList<bool> baudOk;
};

// klinediag-sim on a link in a temporary folder.
class Device {
 public:
  Device(const QString& link, const QString& ecu) {
    proc.setProgram(KLINE_SIM_PATH);
    proc.setArguments({"--ecu", ecu, "--link", link, "--verbose"});
    proc.start();
    if (proc.waitForStarted(5000) && proc.waitForReadyRead(5000))
      path = QString::fromUtf8(proc.readLine()).trimmed();
  }
  ~Device() { stop(); }
  void stop() {
    if (proc.state() == QProcess::NotRunning) return;
    proc.terminate();
    if (!proc.waitForFinished(3000)) proc.kill();
  }
  QString log() { return QString::fromUtf8(proc.readAllStandardError()); }
  QProcess proc;
  QString path;
};

struct Window {
  Window(const QString& settings, const QString& port, const char* option) {
    SessionOptions o;
    o.settingsPath = settings.toStdString();
    o.devices = MakeDeviceFactory();
    core = std::make_unique<SessionCore>(host, std::move(o));
    core->observe(&seen);
    form = &core->form();
    host.runGuarded([&] {
      form->Form_Load();
      form->ctl.userClick(option);
      form->ctl.userSetText("Text6", port.toStdString());
      form->ctl.userClick("Check2");
    });
  }
  void click(const char* ctl) {
    host.runGuarded([&] { form->ctl.userClick(ctl); });
  }
  bool logged(const QString& prefix) const {
    for (const auto& l : seen.lines)
      if (l.startsWith(prefix)) return true;
    return false;
  }
  QtHost host;
  Seen seen;
  std::unique_ptr<SessionCore> core;
  Form2* form = nullptr;
  int& cycles = seen.cycles;
};

}  // namespace

class TestPtyEndToEnd : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(dir.isValid()); }

  void fifteenMWakesIdentifiesAndPolls() {
    QString link = dir.filePath("ecu15m");
    Device dev(link, "15m");
    QVERIFY(!dev.path.isEmpty());
    Window w(dir.filePath("a.ini"), link, "Option1");
    QVERIFY(w.form->portOpen());
    // A pty has no low-latency setting and loses nothing by it: nobody is told.
    QVERIFY2(w.seen.notices.isEmpty(), qPrintable(w.seen.notices.join('\n')));
    QTRY_VERIFY_WITH_TIMEOUT(w.logged("Ecu info: "), 6000);
    QVERIFY(!w.logged("low-latency"));
    QVERIFY(w.logged("init successfull"));
    QVERIFY(w.form->ctl.text("Text4").find("ecu data    : KL15M-0427") != std::string::npos);
    // The rate change on a pty: whatever SetBaudRate answers, the ECU is heard at 7812 after.
    QCOMPARE(w.seen.bauds.value(0), 7812);
    qInfo() << "SetBaudRate(7812) on a pty succeeded:" << w.seen.baudOk.value(0);
    QTRY_VERIFY_WITH_TIMEOUT(w.cycles >= 3, 3000);
    QVERIFY(!w.form->ctl.text("Text1(0)").empty());
    QVERIFY(!w.form->ctl.text("Text1(7)").empty());
    QString log = dev.log();
    QVERIFY2(log.contains("opened the port at 1200 baud"), qPrintable(log));
    QVERIFY2(log.contains("baud 7812"), qPrintable(log));
  }

  void p8PollsAt7812FromTheStart() {
    QString link = dir.filePath("ecup8");
    Device dev(link, "p8");
    Window w(dir.filePath("b.ini"), link, "Option2");
    QTRY_VERIFY_WITH_TIMEOUT(w.cycles >= 3, 4000);
    QVERIFY(w.seen.lines.startsWith("1200bds"));
    QVERIFY(w.logged("Ecu info: "));
    QVERIFY(!w.form->ctl.text("Text1(6)").empty());
    QVERIFY(!w.form->ctl.text("Text1(7)").empty());
  }

  void faultReadoutAsksTheThreeFaultBytes() {
    QString link = dir.filePath("ecudtc");
    Device dev(link, "p8");
    Window w(dir.filePath("c.ini"), link, "Option2");
    QTRY_VERIFY_WITH_TIMEOUT(w.cycles >= 1, 4000);
    int before = w.seen.lines.size();
    w.seen.tx.clear();
    w.click("Command11");
    QVERIFY(w.seen.tx.contains(QByteArray::fromHex("0F")));
    QVERIFY(w.seen.tx.contains(QByteArray::fromHex("10")));
    QVERIFY(w.seen.tx.contains(QByteArray::fromHex("11")));
    QVERIFY(w.seen.lines.size() >= before + 13);
  }

  void vanishingAdapterIsSurvivedAndReconnected() {
    QString link = dir.filePath("ecugone");
    auto dev = std::make_unique<Device>(link, "p8");
    Window w(dir.filePath("d.ini"), link, "Option2");
    QTRY_VERIFY_WITH_TIMEOUT(w.cycles >= 2, 4000);
    dev->stop();
    QTRY_VERIFY_WITH_TIMEOUT(w.logged("port " + link + " lost: "), 3000);
    QVERIFY(!w.form->portOpen());
    // The reason is the line's own, and the dead line is no longer watched (its notifier would
    // otherwise fire without end on the hang-up).
    QCOMPARE(w.seen.lost.size(), 1);
    QVERIFY2(w.seen.lost.first().startsWith("the line hung up"), qPrintable(w.seen.lost.first()));
    auto* adapter = dynamic_cast<QtSerialPortAdapter*>(w.form->port());
    QVERIFY(adapter);
    QTRY_VERIFY(!adapter->watching());
    // The cycles go on as with a closed port: nothing more is sent, nothing waits.
    w.seen.tx.clear();
    QTest::qWait(300);
    QVERIFY(w.seen.tx.isEmpty());
    w.click("Check2");
    QCOMPARE(w.form->ctl.caption("Check2"), std::string("Connect"));
    dev = std::make_unique<Device>(link, "p8");
    w.cycles = 0;
    w.click("Check2");
    QVERIFY(w.form->portOpen());
    QTRY_VERIFY_WITH_TIMEOUT(w.cycles >= 2, 4000);
  }

  void commandLineEndsWithAFailureWhenTheAdapterGoesAway() {
    QString link = dir.filePath("ecucli");
    auto dev = std::make_unique<Device>(link, "15m");
    QProcess cli;
    cli.start(KLINE_CLI_PATH, {"--port", link, "--ecu", "15m", "--duration", "60000", "--settings",
                               dir.filePath("e.ini")});
    QVERIFY(cli.waitForStarted(5000));
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromUtf8(cli.readAllStandardOutput()))
                                 .contains("[ECU] ecu data    : KL15M-0427"),
                             8000);
    dev->stop();
    // Long before the minute asked for: a lost port is a failed run.
    QVERIFY(cli.waitForFinished(5000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 1);
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.startsWith("klinediag-cli: Port " + link + " lost: the line hung up"),
             qPrintable(err));
  }

 private:
  QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(TestPtyEndToEnd)
#include "tst_ptyendtoend_unix.moc"
