// The subcommands for people: the port list's order, the adapter check over a pseudo-terminal
// served by klinediag-sim, and each session subcommand against the simulated ECU on virtual time.
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <nlohmann/json.hpp>
#include <sstream>

#include "clirunner.h"
#include "livedata/recording.h"
#include "platform/adaptercheck.h"
#include "platform/portlist.h"

using kline::PortList;
using kline::PortRecord;

namespace {

struct Run {
  int rc;
  std::string out, err;
};

Run cli(const QStringList& args) {
  std::vector<std::string> a;
  for (const auto& s : args) a.push_back(s.toStdString());
  std::ostringstream out, err;
  int rc = kline::RunCli(a, out, err);
  return {rc, out.str(), err.str()};
}

PortRecord port(const char* name, std::optional<uint16_t> vid = {}, uint16_t pid = 0) {
  PortRecord p;
  p.name = name;
  p.device = std::string("/dev/") + name;
  if (vid) {
    p.vendorId = vid;
    p.productId = pid;
  }
  return p;
}

std::size_t columns(const std::string& s) {
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

class TestSubcommands : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QVERIFY(dir_.isValid()); }

  void portListPutsLikelyCablesFirstAndKeepsTheirNumbers() {
    PortRecord oldSim = port("sim");
    oldSim.sim = true;
    auto list =
        PortList::Ordered({port("ttyS0"), port("ttyUSB1", 0x1a86, 0x7523), oldSim,
                           port("ttyACM0", 0x2341, 0x0043), port("ttyUSB0", 0x0403, 0x6001)});
    std::vector<std::string> got;
    for (const auto& p : list)
      got.push_back(p.name + "#" + std::to_string(p.number) + (p.likelyKLine ? "*" : "") +
                    (p.sim ? "sim" : ""));
    // Numbers count USB adapters first, then by name, as the port field does.
    QCOMPARE(got, (std::vector<std::string>{"ttyUSB0#2*", "ttyUSB1#3*", "ttyACM0#1", "ttyS0#4",
                                            "sim#0sim"}));
    QCOMPARE(list[0].usbId(), std::string("0403:6001"));
    QCOMPARE(list[1].usbId(), std::string("1a86:7523"));
    QCOMPARE(list[3].usbId(), std::string());
    // Where ports are COM ports, COMN is number N whatever the order; other names have none.
    got.clear();
    for (const auto& p : PortList::Ordered({port("COM12", 0x0403, 0x6001), port("COM3"),
                                            port("COM7", 0x2341, 0x0043), port("LPTX")},
                                           true))
      got.push_back(p.name + "#" + std::to_string(p.number));
    QCOMPARE(got, (std::vector<std::string>{"COM12#12", "COM7#7", "COM3#3", "LPTX#0", "sim#0"}));
    QCOMPARE(list.back().description, std::string("Simulated ECU"));
    const std::tuple<uint16_t, uint16_t, bool> ids[] = {
        {0x0403, 0x6015, true},  {0x1a86, 0x7523, true}, {0x1a86, 0x5523, true},
        {0x067b, 0x2303, true},  {0x10c4, 0xea60, true}, {0x1a86, 0x55d4, false},
        {0x2341, 0x0043, false}, {0x10c4, 0xea70, false}};
    for (auto [vid, pid, likely] : ids) QCOMPARE(PortList::LikelyKLine(vid, pid), likely);
  }

  void latencyTimerAdviceAtItsEdge_data() {
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("line");
    const QString advice = " (1 to 4 ms suits the K-line best)";
    QTest::newRow("3 ms") << 3 << "USB latency timer: 3 ms";
    QTest::newRow("4 ms") << 4 << "USB latency timer: 4 ms";
    QTest::newRow("5 ms") << 5 << "USB latency timer: 5 ms" + advice;
    QTest::newRow("16 ms") << 16 << "USB latency timer: 16 ms" + advice;
  }
  void latencyTimerAdviceAtItsEdge() {
    QFETCH(int, ms);
    QFETCH(QString, line);
    kline::AdapterReport r;
    r.device = "/dev/ttyUSB0";
    r.lowLatency = true;
    r.latencyTimerMs = ms;
    const std::vector<std::string> said = kline::DescribeAdapterReport(r);
    QVERIFY(!said.empty());
    QCOMPARE(QString::fromStdString(said.back()), line);
  }

  void checkAdapterOverAPty_data() {
    QTest::addColumn<QByteArray>("sim");
    QTest::addColumn<int>("rc");
    QTest::addColumn<QStringList>("says");
    // The ECU's wake-up burst at open is let by before the pattern goes.
    QTest::newRow("echo") << QByteArray("{}") << 0
                          << QStringList{"sent 5A A5 3C C3", "1200 baud: echo OK, 4 bytes",
                                         "7812 baud: echo OK, 4 bytes", "low-latency mode"};
    QTest::newRow("no echo") << QByteArray(R"({"echo": false})") << 1
                             << QStringList{
                                    "1200 baud: no echo: likely the adapter's K-line side "
                                    "is not powered",
                                    "7812 baud: no echo"};
    QTest::newRow("garbled") << QByteArray(R"({"garble_echo": true, "ignition_ms": 600000})") << 1
                             << QStringList{"1200 baud: garbled echo: got 7B 84 1D E2",
                                            "7812 baud: garbled echo"};
  }
  void checkAdapterOverAPty() {
#ifndef KLINE_SIM_PATH
    QSKIP("the simulated ECU on a pseudo-terminal is a unix program");
#else
    QFETCH(QByteArray, sim);
    QFETCH(int, rc);
    QFETCH(QStringList, says);
    QProcess device;
    device.start(KLINE_SIM_PATH, {"--sim", simFile("pty.json", sim)});
    QVERIFY(device.waitForStarted(5000) && device.waitForReadyRead(5000));
    const QString path = QString::fromUtf8(device.readLine()).trimmed();
    Run r = cli({"check-adapter", "--port", path});
    device.terminate();
    device.waitForFinished(3000);
    QVERIFY2(r.rc == rc, r.out.c_str());
    for (const auto& s : says)
      QVERIFY2(r.out.find(s.toStdString()) != std::string::npos, r.out.c_str());
#endif
  }

  void subcommandsOnTheSimulatedEcu_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("sim");
    QTest::addColumn<int>("rc");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QString>("err");
    const QByteArray none = "{}";
    QTest::newRow("info") << QStringList{"info"} << none << 0
                          << QStringList{"Iso Code    : 55A38F101502\necu data    : KL15M-0427\n"
                                         "calibration : CAL01.07\n"}
                          << "";
    QTest::newRow("info json") << QStringList{"info", "--ecu", "p8", "--json"} << none << 0
                               << QStringList{"\"identification\": \"KLP8--0815\"",
                                              "\"iso_code\": null"}
                               << "";
    // An identification that would clear and recolour the terminal shows its controls; JSON
    // escapes them as it must.
    const QByteArray escapes = R"({"answers": {"17": "1B", "18": "5B", "19": "32", "1A": "4A",
        "1B": "1B", "1C": "5B", "1D": "33", "1E": "31", "1F": "6D", "20": "52"}})";
    QTest::newRow("info escapes") << QStringList{"info"} << escapes << 0
                                  << QStringList{"ecu data    : \\x1B[2J\\x1B[31mR\n"} << "";
    QTest::newRow("info json escapes")
        << QStringList{"info", "--json"} << escapes << 0
        << QStringList{"\"identification\": \"\\u001b[2J\\u001b[31mR\""} << "";
    QTest::newRow("info never wakes")
        << QStringList{"info"} << QByteArray(R"({"ignition_ms": 600000})") << 1 << QStringList{}
        << "klinediag-cli: No answer from the ECU on sim for 120 s: switch the ignition on";
    QTest::newRow("info calibration silent")
        << QStringList{"info"} << QByteArray(R"({"silent": ["21"]})") << 1
        << QStringList{"ecu data    : KL15M-0427\n"}
        << "the calibration record from sim is incomplete";
    QTest::newRow("faults stored")
        << QStringList{"faults"} << none << 3
        << QStringList{"Icv OK\n", "EEprom Fault\n",
                       "immobiliser: No code received or link interrupted\n",
                       "immobiliser 2: unknow or not recognised code\n",
                       "fault bytes 0F=80 10=08 11=41: a fault is stored\n"}
        << "";
    QTest::newRow("faults none")
        << QStringList{"faults"}
        << QByteArray(R"({"answers": {"0F": "00", "10": "00", "71": "00", "72": "00"}})") << 0
        << QStringList{"Eprom OK \n", "immobiliser: no state bit set\n", "11=41: no fault\n"} << "";
    // Two bits at once: the readout shows both as OK, the bits still count.
    QTest::newRow("faults two bits")
        << QStringList{"faults", "--json"} << QByteArray(R"({"answers": {"0F": "00", "10": "0C"}})")
        << 3 << QStringList{"\"fault_set\": true", "\"10\": \"0C\""} << "";
    // An immobiliser state the ECU leaves unanswered is said to be so; the rest still prints.
    QTest::newRow("faults immobiliser silent")
        << QStringList{"faults"} << QByteArray(R"({"silent": ["71"]})") << 3
        << QStringList{"immobiliser: no answer\n", "immobiliser 2: unknow or not recognised code\n",
                       "fault bytes 0F=80 10=08 11=41: a fault is stored\n"}
        << "";
    QTest::newRow("faults silent") << QStringList{"faults"} << QByteArray(R"({"silent": ["10"]})")
                                   << 1 << QStringList{} << "no answer to the fault readout on sim";
    // A babbling line: what was read is printed as read, and said to be worthless.
    QTest::newRow("faults babbling")
        << QStringList{"faults", "--ecu", "p8"} << QByteArray(R"({"babble": "12 34"})") << 1
        << QStringList{"fault bytes 0F="}
        << "not trustworthy: the line on sim carried bytes nobody asked for while the faults";
    QTest::newRow("info babbling")
        << QStringList{"info", "--json"} << QByteArray(R"({"babble": "FF"})") << 1
        << QStringList{"\"trusted\": false"}
        << "klinediag-cli: Bytes nobody asked for on sim (about ";
    QTest::newRow("test by name") << QStringList{"test", "fuel"} << none << 0
                                  << QStringList{"\n80\n", "test 80 fuel pump: OK\n"} << "";
    QTest::newRow("test error") << QStringList{"test", "81"}
                                << QByteArray(R"({"tests": {"81": {"verdict": "EE"}}})") << 3
                                << QStringList{"test 81 Coil H: Erreur\n"} << "";
    QTest::newRow("test no verdict")
        << QStringList{"test", "80"} << QByteArray(R"({"tests": {"80": {"verdict": null}}})") << 1
        << QStringList{"test 80 fuel pump: no verdict\n"} << "no verdict from the ECU on sim";
    QTest::newRow("test ambiguous")
        << QStringList{"test", "coil"} << none << 2 << QStringList{}
        << "'coil' names several tests (tests: 80 fuel pump, 81 Coil H, 82 Coil V";
    QTest::newRow("test unknown") << QStringList{"test", "99", "--ecu", "16m"} << none << 2
                                  << QStringList{} << "no test '99' (tests: 80 fuel pump, 81 H Inj";
    QTest::newRow("live lost") << QStringList{"live", "--count", "1000"}
                               << QByteArray(R"({"lost_after_ms": 3000})") << 1 << QStringList{}
                               << "klinediag-cli: Port sim lost";
    QTest::newRow("version") << QStringList{"--version"} << none << 0
                             << QStringList{"klinediag-cli " KLINE_VERSION "\n"} << "";
    QTest::newRow("help") << QStringList{"live", "--help"} << none << 0
                          << QStringList{"--count", "--format", "--virtual-time", "Exit codes"}
                          << "";
    QTest::newRow("ports") << QStringList{"ports"} << none << 0
                           << QStringList{"PORT", "sim", "Simulated ECU\n"} << "";
    QTest::newRow("check sim") << QStringList{"check-adapter", "--port", "sim"} << none << 2
                               << QStringList{} << "check-adapter needs a serial device";
    QTest::newRow("check missing")
        << QStringList{"check-adapter", "--port", "/dev/kline-none"} << none << 1 << QStringList{}
        << "cannot open port /dev/kline-none: no such device\n";
    QTest::newRow("missing device")
        << QStringList{"info", "--port", "/dev/kline-none"} << none << 1 << QStringList{}
        << "cannot open port /dev/kline-none: no such device\n";
  }
  void subcommandsOnTheSimulatedEcu() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, sim);
    QFETCH(int, rc);
    QFETCH(QStringList, out);
    QFETCH(QString, err);
    if (!args.contains("--port") && args[0] != "ports" && !args.startsWith("--version"))
      args << "--port"
           << "sim"
           << "--virtual-time";
    if (args[0] != "ports" && args[0] != "check-adapter" && args[0] != "--version")
      args << "--settings" << dir_.filePath(QString(QTest::currentDataTag()) + ".ini") << "--sim"
           << simFile("s.json", sim);
    Run r = cli(args);
    QVERIFY2(r.rc == rc, (r.out + r.err).c_str());
    // Nothing reaches the terminal that could take it over.
    QVERIFY(r.out.find('\x1B') == std::string::npos && r.err.find('\x1B') == std::string::npos);
    for (const auto& s : out)
      QVERIFY2(r.out.find(s.toStdString()) != std::string::npos, r.out.c_str());
    QVERIFY2(r.err.find(err.toStdString()) != std::string::npos, r.err.c_str());
    if (err.isEmpty()) QCOMPARE(r.err, std::string());
  }

  void liveTableStaysAlignedAndJsonHasEveryShownChannel() {
    const QStringList common{"--port", "sim", "--virtual-time", "--settings",
                             dir_.filePath("l.ini")};
    // Without --count a run on virtual time stops after 10 cycles, long before the port goes.
    Run t = cli(QStringList{"live", "--sim", simFile("l.json", R"({"lost_after_ms": 120000})")} +
                common);
    QVERIFY2(t.rc == 0, t.err.c_str());
    std::istringstream in(t.out);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    QCOMPARE(lines.size(), std::size_t{11});
    QVERIFY(lines[0].find("rpm tr/m") != std::string::npos);
    QVERIFY(lines[0].find("ign advance \xC2\xB0") != std::string::npos);
    for (const auto& l : lines) QCOMPARE(columns(l), columns(lines[0]));
    Run j = cli(QStringList{"live", "--count", "1", "--json", "--ecu", "p8"} + common);
    QCOMPARE(j.rc, 0);
    auto row = nlohmann::json::parse(j.out);
    // P8 shows the channels it polls: the others are unticked at connect.
    std::vector<std::string> names;
    for (const auto& c : row["channels"]) names.push_back(c["name"]);
    QCOMPARE(names, (std::vector<std::string>{"throttle", "battery"}));
    QCOMPARE(row["channels"][1]["unit"], "V");
  }

  void liveCsvIsARecordingThatReplayReads() {
    Run r = cli({"live", "--count", "3", "--format", "csv", "--port", "sim", "--virtual-time",
                 "--settings", dir_.filePath("csv.ini")});
    QCOMPARE(r.rc, 0);
    const QString path = dir_.filePath("live.csv");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromStdString(r.out));
    f.close();

    const kline::Recording rec = kline::ReadRecording(path.toStdString());
    QCOMPARE(rec.error, std::string());
    QCOMPARE(rec.skipped, std::size_t{0});
    QCOMPARE(rec.timesMs.size(), std::size_t{3});
    QCOMPARE(rec.channels.size(), std::size_t{10});
    QCOMPARE(rec.channels[0].name + " [" + rec.channels[0].unit + "]", std::string("rpm [tr/m]"));
    for (float rpm : rec.channels[0].values) QVERIFY(rpm > 0);
    // The 15m shows no throttle voltage: its column is empty.
    for (float v : rec.channels[9].values) QVERIFY(std::isnan(v));

    // On virtual time the wall clock moves with the line's time.
    QStringList rows = QString::fromStdString(r.out).split('\n', Qt::SkipEmptyParts);
    auto wall = [&](int row) {
      return QDateTime::fromString(rows[row].section(',', 1, 1), Qt::ISODateWithMs);
    };
    QVERIFY(wall(1).isValid());
    QCOMPARE(wall(1).msecsTo(wall(3)), qint64{rec.timesMs[2] - rec.timesMs[0]});

    Run replay = cli({"--replay", path});
    QCOMPARE(replay.rc, 0);
    QVERIFY2(replay.out.starts_with("rpm [tr/m]: 3 of 3 rows, min "), replay.out.c_str());
  }

 private:
  QString simFile(const char* name, const QByteArray& text) {
    QFile f(dir_.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) qFatal("cannot write");
    return f.fileName();
  }
  QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestSubcommands)
#include "tst_subcommands.moc"
