// The port chooser beside the port field, with a port list of the test's own.
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

#include "gui/portchooser.h"

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
};

QTEST_MAIN(TestPortChooser)
#include "tst_portchooser.moc"
