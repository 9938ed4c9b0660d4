// The headless runner: its interface, its determinism on virtual time, and a real-time run.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <nlohmann/json.hpp>
#include <sstream>

#include "clirunner.h"

using nlohmann::json;

namespace {

struct Run {
  int rc;
  std::string out, err;
};

Run cli(std::vector<std::string> args) {
  std::ostringstream out, err;
  int rc = kline::RunCli(args, out, err);
  return {rc, out.str(), err.str()};
}

std::vector<json> lines(const std::string& jsonl) {
  std::vector<json> v;
  std::istringstream in(jsonl);
  std::string l;
  while (std::getline(in, l)) v.push_back(json::parse(l));
  return v;
}

}  // namespace

class TestCli : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(dir_.isValid()); }

  void virtualSessionIsExactAndRepeatable() {
    // Two runs from the same start (no settings file yet) print the same events.
    std::vector<std::string> args = {"--port",     "sim",  "--ecu",    "15m", "--virtual-time",
                                     "--duration", "5000", "--events", "-",   "--settings"};
    auto withSettings = [&](const char* name) {
      auto a = args;
      a.push_back(settings(name));
      return a;
    };
    Run a = cli(withSettings("a1.ini"));
    Run b = cli(withSettings("a2.ini"));
    QCOMPARE(a.rc, 0);
    QCOMPARE(a.out, b.out);
    auto ev = lines(a.out);
    std::vector<std::string> tx, logs;
    for (const auto& e : ev) {
      if (e["ev"] == "tx")
        tx.push_back(std::to_string(e["t"].get<int>()) + ":" + e["hex"].get<std::string>());
      if (e["ev"] == "log") logs.push_back(e["text"]);
    }
    QVERIFY(tx.size() >= 13);
    QCOMPARE(tx[0], std::string("681:0F"));
    QCOMPARE(tx[2], std::string("901:CC"));
    QCOMPARE(tx[3], std::string("1019:17"));
    QVERIFY(std::find(logs.begin(), logs.end(), "Ecu info: 4 KL15M-0427") != logs.end());
    bool closed = false;
    for (const auto& e : ev)
      if (e["ev"] == "close") closed = e["t"] >= 5000 && e["t"] < 5200;  // after the last tick
    QVERIFY(closed);
  }

  void scriptedActionsReachTheWindow() {
    Run r =
        cli({"--port", "sim", "--ecu", "p8", "--virtual-time", "--duration", "3000", "--log", "-",
             "--do", "0:Check4=1", "--do", "2000:Command6", "--settings", settings("b.ini")});
    QCOMPARE(r.rc, 0);
    QCOMPARE(QString::fromStdString(r.out),
             QString("1200bds\n7812\nask ecu info... \nEcu info: 4 KLP8--0815\n"
                     "ask ecu calibration... \nCal: 3 CAL01.07\nask ecu info... \n"
                     "Ecu info: 4 KLP8--0815\n"));
  }

  void simDescriptionOverridesTheEcu() {
    QFile f(dir_.filePath("sim.json"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(R"({"type":"16m","ignition_ms":500,"burst":"FF 55 12 34 56 78 9A",
               "answers":{"17":"41","0x18":"42"},"silent":["1A"]})");
    f.close();
    Run r = cli({"--port", "sim", "--virtual-time", "--duration", "6000", "--log", "-", "--sim",
                 f.fileName().toStdString(), "--do", "0:Option7", "--settings", settings("c.ini")});
    QCOMPARE(r.rc, 0);
    QVERIFY(r.out.find("RX=> FF55123456789A \n") != std::string::npos);
    QVERIFY(r.out.find("Ecu info: 3004 AB1\n") != std::string::npos);
  }

  void usageErrorsAndClosedPortsSayWhyInOneLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("rc");
    QTest::addColumn<QString>("says");
    QTest::newRow("unknown flag") << QStringList{"--bogus"} << 2 << "--bogus";
    QTest::newRow("bad type") << QStringList{"--ecu", "17m"} << 2 << "17m";
    QTest::newRow("bad action") << QStringList{"--port", "sim", "--do", "x:Command6"} << 2
                                << "bad action";
    QTest::newRow("no such control")
        << QStringList{"--port", "sim", "--do", "5:Command99"} << 2 << "Command99";
    QTest::newRow("virtual without sim")
        << QStringList{"--port", "3", "--virtual-time", "--duration", "10"} << 2 << "--port sim";
    QTest::newRow("bad sim file") << QStringList{"--port", "sim", "--sim", "/nonexistent.json"} << 2
                                  << "nonexistent";
    QTest::newRow("no such port") << QStringList{"--port", "/dev/klinediag-none", "--duration",
                                                 "10"}
                                  << 1 << "/dev/klinediag-none";
  }

  void usageErrorsAndClosedPortsSayWhyInOneLine() {
    QFETCH(QStringList, args);
    QFETCH(int, rc);
    QFETCH(QString, says);
    std::vector<std::string> a;
    for (const auto& s : args) a.push_back(s.toStdString());
    a.push_back("--settings");
    a.push_back(settings("d.ini"));
    Run r = cli(a);
    QCOMPARE(r.rc, rc);
    QCOMPARE(std::count(r.err.begin(), r.err.end(), '\n'), 1L);
    QVERIFY2(r.err.find(says.toStdString()) != std::string::npos, r.err.c_str());
  }

  void helpDocumentsTheInterface() {
    Run r = cli({"--help"});
    QCOMPARE(r.rc, 0);
    for (const char* word : {"--port", "--ecu", "--virtual-time", "--sim", "--do", "--events",
                             "--log", "--duration", "--settings", "Examples"})
      QVERIFY2(r.out.find(word) != std::string::npos, word);
  }

  void realTimeRunReadsTheRecordsAndDisconnects() {
    QProcess p;
    p.start(KLINE_CLI_PATH, {"--port", "sim", "--ecu", "15m", "--duration", "2500", "--settings",
                             QString::fromStdString(settings("e.ini"))});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
    QString out = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY2(out.contains("init successfull"), qPrintable(out));
    QVERIFY2(out.contains("[ECU] ecu data    : KL15M-0427"), qPrintable(out));
  }

 private:
  std::string settings(const char* name) { return dir_.filePath(name).toStdString(); }
  QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
