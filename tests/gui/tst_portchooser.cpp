// The port chooser beside the port field, with a port list of the test's own.
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

#include "gui/widgets/portchooser.h"
#include "platform/qtserialportadapter.h"

using kline::PortRecord;

namespace {

PortRecord port(const char* device, const char* description, std::optional<uint16_t> vid = {},
                std::optional<uint16_t> pid = {}) {
  PortRecord p;
  p.device = device;
  p.name = QString::fromLatin1(device).section(QLatin1Char('/'), -1).toStdString();
  p.description = description;
  p.vendorId = vid;
  p.productId = pid;
  return p;
}

}  // namespace

class TestPortChooser : public QObject {
  Q_OBJECT

 private slots:
  void likelyCablesComeFirstMarkedAndTheSimulatedEcuLast() {
    QLineEdit field(QStringLiteral("1"));
    PortChooser chooser(&field, [] {
      return std::vector<PortRecord>{port("/dev/ttyS0", "<b>built-in</b> &amp;"),
                                     port("/dev/ttyACM0", "board", 0x2341, 0x0043),
                                     port("/dev/ttyUSB1", "USB serial", 0x0403, 0x6001)};
    });
    chooser.refresh();
    const QList<QAction*> entries = chooser.list()->actions();
    QCOMPARE(entries.size(), 4);
    QVERIFY2(entries[0]->text().contains(QStringLiteral("/dev/ttyUSB1")),
             qPrintable(entries[0]->text()));
    QVERIFY(entries[0]->text().endsWith(QStringLiteral("likely K-line cable")));
    QVERIFY(entries[0]->text().contains(QStringLiteral("0403:6001")));
    QVERIFY(entries[0]->font().bold());
    QVERIFY(!entries[1]->text().contains(QStringLiteral("likely")));
    // A description is the system's text: an "&" in it is shown, not taken as a shortcut.
    QVERIFY2(entries[2]->text().endsWith(QStringLiteral("<b>built-in</b> &&amp;")),
             qPrintable(entries[2]->text()));
    QCOMPARE(entries[3]->data().toString(), QStringLiteral("sim"));

    // Choosing fills the field as typing would; the list is made afresh at every opening.
    QSignalSpy chosen(&chooser, &PortChooser::chosen);
    entries[0]->trigger();
    QCOMPARE(field.text(), QStringLiteral("/dev/ttyUSB1"));
    QCOMPARE(chosen.size(), 1);
    emit chooser.list()->aboutToShow();
    QCOMPARE(chooser.list()->actions().size(), 4);
  }

  void theNumberAnEntryShowsOpensThatEntrysPort() {
    // USB adapters and ports without USB ids, as the system lists them, in no order.
    const std::vector<PortRecord> scanned = {
        port("/dev/ttyS1", "built-in"), port("/dev/ttyUSB1", "USB serial", 0x0403, 0x6001),
        port("/dev/ttyS0", "built-in"), port("/dev/ttyACM0", "board", 0x2341, 0x0043),
        port("/dev/ttyUSB0", "cable", 0x1a86, 0x7523)};
    QLineEdit field;
    PortChooser chooser(&field, [&] { return scanned; });
    chooser.refresh();
    // What `--port N` and the port field's N open.
    QStringList devices;
    for (const std::string& d : kline::PortList::NumberedDevices(scanned))
      devices << QString::fromStdString(d);
    QStringList shown;
    for (const QAction* a : chooser.list()->actions()) {
      const QString device = a->data().toString();
      if (device == QStringLiteral("sim")) continue;
      const QString number = a->text().section(QStringLiteral(": "), 0, 0);
      QVERIFY2(a->text().startsWith(number + QStringLiteral(": ") + device), qPrintable(a->text()));
      QString why;
      QCOMPARE(kline::QtSerialPortAdapter::ResolveDevice(number, devices, &why), device);
      shown << number + QStringLiteral(" ") + device;
    }
    // USB adapters are counted first, then by name; likely cables are listed first.
    QCOMPARE(shown, (QStringList{"2 /dev/ttyUSB0", "3 /dev/ttyUSB1", "1 /dev/ttyACM0",
                                 "4 /dev/ttyS0", "5 /dev/ttyS1"}));
  }

  void anEntryNamesItsChipAndItsTooltipTellsTheNotesAndTheTimersCost() {
    PortRecord ftdi = port("/dev/ttyUSB0", "USB <i>serial</i>", 0x0403, 0x6001);
    ftdi.latencyTimerMs = 16;
    ftdi.driver = "ftdi_sio";
    ftdi.product = "FT232R <b>UART</b>";
    PortRecord pl = port("/dev/ttyUSB1", "", 0x067b, 0x2303);
    pl.latencyTimerMs = 1;
    const auto list = kline::PortList::Ordered({ftdi, pl});
    QCOMPARE(
        PortChooser::EntryText(list[0]),
        QStringLiteral("1: /dev/ttyUSB0 \u2014 USB <i>serial</i> (0403:6001) \u2014 FTDI FT232R "
                       "or FT232B (latency timer 16 ms: slow) \u2014 likely K-line cable"));
    // A timer of 1 ms is not worth a word in the entry.
    QCOMPARE(PortChooser::EntryText(list[1]),
             QStringLiteral("2: /dev/ttyUSB1 \u2014 (067b:2303) \u2014 PL2303 \u2014 likely K-line "
                            "cable"));
    const QString tip = PortChooser::ToolTipText(list[0]);
    for (const char* s : {"FTDI FT232R or FT232B", "FT232R &lt;b&gt;UART&lt;/b&gt;",
                          "driver: ftdi_sio", "16 ms by default", "latency timer: 16 ms",
                          "lose up to ~192 ms", "--port /dev/ttyUSB0 --fix"})
      QVERIFY2(tip.contains(QLatin1String(s)), qPrintable(tip));
    QVERIFY(PortChooser::ToolTipText(list[1]).contains(QStringLiteral("(Code 10)")));
    QVERIFY(!PortChooser::ToolTipText(list[1]).contains(QStringLiteral("lose")));
    QVERIFY(PortChooser::ToolTipText(port("/dev/ttyS0", "built-in")).isEmpty());
  }
};

QTEST_MAIN(TestPortChooser)
#include "tst_portchooser.moc"
