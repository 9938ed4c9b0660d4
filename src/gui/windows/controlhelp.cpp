#include "gui/windows/controlhelp.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QWidget>
#include <iterator>
#include <string>
#include <vector>

#include "connection/ecutypes.h"

namespace controlhelp {

namespace {

// The main window, top left to bottom right: the controls above the ECU type options, the options
// (from the ECU type table) and the controls below them.
const Entry kMainAbove[] = {
    {"Text6", "Com",
     "The adapter's serial port: a number (7 for COM7), a device (/dev/ttyUSB0), or sim for the "
     "simulated ECU. Saved at Connect"},
    {"portChooser", "(port list)", "Choose a serial port, or the simulated ECU"},
    {"Check2", "Connect",
     "Opens the port at 1200 baud (7812 for P8), waits for the ignition, then reads the ECU over "
     "and over. Pressed again (Disconnect) it closes the port and empties the values (F5)"},
    {"Shape1", "(lamp)", "Lamp: green while the port is open, red once it is closed or lost"},
    {"Label4", "(status)", "Where the connection stands, e.g. waiting for the ignition"},
    {"checkAdapter", "Check adapter",
     "Check the cable before blaming the bike: writes a short pattern at 1200 and 7812 baud and "
     "reads the echo back (never a request an ECU acts on)"},
    {"Frame1", "ECU Type",
     "The ECU on the bike: it chooses the live cycle, the test list and the line speed. Choose "
     "it before Connect"},
};

const Entry kMainBelow[] = {
    {"Check3", "Ecu data",
     "Ticked (as it starts): the ECU's identification is read once after each Connect. "
     "Unticked: it is not read, and \"ecu info\" reads nothing"},
    {"Command6", "ecu info",
     "Reads the ECU's identification now, into the pane on the right. Reads nothing while "
     "\"Ecu data\" is unticked (F7)"},
    {"Check4", "Calibration",
     "Ticked: the calibration record is read once after each Connect. It starts unticked, and "
     "then nothing is read"},
    {"Command7", "calibration",
     "Reads the calibration record now, into the pane on the right. Reads nothing while "
     "\"Calibration\" is unticked, as it starts (F8)"},
    {"Text5", "pause", "Pause before each live cycle and before each sensor's request"},
    {"Text2", "refresh time", "Time from one live cycle to the next"},
    {"Text11", "inter byte delay", "Delay between the two bytes of a request (16m only)"},
    {"Text7", "timeout", "How long a sensor-by-sensor request waits for its answer (P8)"},
    {"Check1(0)", "rpm", "Ticked: the engine speed is read in each cycle; unticked: not read"},
    {"Text1(0)", "(rpm value)", "Engine speed, as last read"},
    {"Label3(0)", "tr/m", "Unit: revolutions per minute"},
    {"Check1(1)", "inj duration",
     "Ticked: the injection time is read in each cycle; unticked: not read"},
    {"Text1(1)", "(inj duration value)", "Injection time, as last read"},
    {"Label3(1)", "ms", "Unit: milliseconds"},
    {"Check1(2)", "ign advance",
     "Ticked: the ignition advance is read in each cycle; unticked: not read"},
    {"Text1(2)", "(ign advance value)", "Ignition advance, as last read"},
    {"Label3(2)", "\xC2\xB0", "Unit: degrees before top dead centre"},
    {"Check1(3)", "manifold pressure",
     "Ticked: the intake manifold pressure is read in each cycle; unticked: not read"},
    {"Text1(3)", "(manifold pressure value)", "Intake manifold pressure, as last read"},
    {"Label3(3)", "mBar", "Unit: millibar"},
    {"Check1(4)", "air temp",
     "Ticked: the air temperature is read in each cycle; unticked: not read"},
    {"Text1(4)", "(air temp value)", "Air temperature, as last read"},
    {"Label3(4)", "\xC2\xB0", "Unit: degrees Celsius"},
    {"Check1(5)", "water temp",
     "Ticked: the coolant temperature is read in each cycle; unticked: not read"},
    {"Text1(5)", "(water temp value)", "Coolant temperature, as last read"},
    {"Label3(5)", "\xC2\xB0", "Unit: degrees Celsius"},
    {"Check1(6)", "throttle",
     "Ticked: the throttle opening is read in each cycle. Ticked again by itself when every "
     "channel is unticked"},
    {"Text1(6)", "(throttle value)", "Throttle opening, as last read, in the scale chosen below"},
    {"Label3(6)", "\xC2\xB0", "Unit: degrees"},
    {"Check1(7)", "battery",
     "Ticked: the battery voltage is read in each cycle; unticked: not read"},
    {"Text1(7)", "(battery value)", "Battery voltage, as last read"},
    {"Label3(7)", "V", "Unit: volts"},
    {"Check1(8)", "trimmer value",
     "Ticked: the CO trimmer is read in each cycle; unticked: not read"},
    {"Text1(8)", "(trimmer value)", "CO trimmer, as last read"},
    {"Label3(8)", "(trimmer unit)", "The CO trimmer has no unit"},
    {"Text1(9)", "(voltage beside throttle)",
     "Throttle sensor's voltage, read and shown on the 15Rc only"},
    {"Label9", "V", "Unit: volts"},
    {"Text3", "weight",
     "Bytes the ticked channels take in one cycle (8 for rpm and injection, "
     "4 for each other channel)"},
    {"Frame5", "Scale", "How the throttle opening is worked out from the ECU's byte"},
    {"Option3", "1", "Throttle in degrees, first scale"},
    {"Option4", "2", "Throttle, second scale"},
    {"Frame6", "Scale", "Which request reads the CO trimmer"},
    {"Option6", "1", "Trimmer read with request 0B (the 15m and 15Rc always use 0F)"},
    {"Option5", "2", "Trimmer read with request 0F"},
    {"record", "Record\xE2\x80\xA6", "Record the live values to a CSV file, one row per cycle"},
    {"Command10", "Command10",
     "Reads every ticked channel once, as the 15m and 15Rc cycle does (single step)"},
    {"Command5", "Command5", "Reads the air temperature once, as the sensor-by-sensor cycle does"},
    {"Label25", "0   1    2   3 \xE2\x80\xA6", "Engine speed scale, in thousands of tr/m"},
    {"Line1", "(rpm bar)", "Engine speed bar"},
    {"Label26", "(large rpm)", "Engine speed, as last read"},
    {"Text4", "(ECU info pane)", "The ECU's identification and calibration, as read"},
    {"Command1", "copy to clipoard", "Copies the whole log pane to the clipboard"},
    {"Command11", "DTC",
     "Reads the stored fault codes; usable once the ECU answers (F6). They show in the log and "
     "in the faults panel"},
    {"Command2", "Virgin?",
     "Reads the immobiliser's status byte (request 71): virgin ECU, key codes received"},
    {"Command3", "Virign2", "Reads the immobiliser's second status byte (request 72)"},
    {"Frame2", "Test", "Actuator tests of the chosen ECU type"},
    {"List1", "(test list)",
     "Click an entry, or choose it with the arrows and press Enter, to run its test: the ECU goes "
     "into diagnostic mode, gets the test code (the entry's number) and the verdict is awaited"},
    {"Label6", "Click", "Click an entry of the list on the left to run its test"},
    {"Label5", "(verdict)", "Verdict of the last test from the list: OK or Erreur (failed)"},
    {"Pg1", "(progress bar)", "Seconds waited so far for the running test's verdict"},
    {"saveLog", "Save log\xE2\x80\xA6", "Write the log pane to a text file, as it holds it"},
    {"report", "Report\xE2\x80\xA6",
     "Write a one-page report of the session as PDF, and as HTML beside it"},
    {"test", "Tests",
     "Opens the Test window (actuators, CO trimmer); usable once the ECU answers (Ctrl+T)"},
    {"Diag", "Diag",
     "Opens the Diag window, which reads the ECU's fault memories and engine state (Ctrl+G)"},
};

// The Test window.
const Entry kTest[] = {
    {"Command1", "Fuel pump", "Runs the fuel pump"},
    {"Command2", "Injector 1", "Fires injector 1"},
    {"Command3", "Injector 2", "Fires injector 2"},
    {"Command4", "Rev counter", "Moves the rev counter's needle"},
    {"Command5", "Coil 1", "Fires ignition coil 1"},
    {"Command6", "Coil 2", "Fires ignition coil 2"},
    {"Command7", "Clear DTC errors", "Erases the stored fault codes"},
    {"Command9", "Reset TPS 15RC", "Resets the throttle position sensor (15Rc ECU)"},
    {"Command8", "Custom code", "Sends the test code typed in the field beside it"},
    {"Text1", "(code beside Custom code)",
     "Test code for \"Custom code\": one or two hexadecimal digits"},
    {"Frame1", "Co Regulation (not debugged yet)",
     "Sets the CO trimmer by hand. While it is on, the tests above are disabled"},
    {"Option1", "On", "Enters CO regulation: the trimmer slider and \"Ok\" become usable"},
    {"Option2", "Off", "Leaves CO regulation; once the ECU confirms, goes back to the main window"},
    {"Slider1", "(trimmer slider)", "CO trimmer, -127 to 127; only sent with \"Ok\""},
    {"Text2", "(trimmer field)", "Trimmer value sent, 0 to 254 (the slider plus 127)"},
    {"Command10", "Ok", "Sends the trimmer value to the ECU"},
    {"Pg1", "(progress bar)", "Seconds waited so far for the running test's verdict"},
    {"saveLog", "Save log\xE2\x80\xA6", "Write the log pane to a text file, as it holds it"},
    {"back", "Back", "Leaves diagnostic mode and goes back to the main window"},
};

// The Diag window: each button reads one byte of the ECU and lists the bits set in it.
const Entry kDiag[] = {
    {"Command4", "Uniram1", "Reads the faults present now, first byte (RAM, request 0F)"},
    {"Command5", "Uniram2", "Reads the faults present now, second byte (RAM, request 10)"},
    {"Command6", "Uniram3", "Reads the kind of the faults present now (RAM, request 11)"},
    {"Command7", "Cuneep1", "Reads the stored faults, first byte (EEPROM, request 16)"},
    {"Command3", "Cuneep2", "Reads the stored faults, second byte (EEPROM, request 17)"},
    {"Command2", "Cuneep3", "Reads the kind of the stored faults (EEPROM, request 18)"},
    {"Command10", "Unieep1A",
     "Reads the second stored fault memory, first byte (EEPROM, request 1D)"},
    {"Command9", "Unieep2A",
     "Reads the second stored fault memory, second byte (EEPROM, request 1E)"},
    {"Command8", "Unieep3A",
     "Reads the kind of faults of the second stored memory (EEPROM, request 1F)"},
    {"Command1", "Unirams", "Reads the engine's state now (RAM, request 15)"},
    {"saveLog", "Save log\xE2\x80\xA6", "Write the log pane to a text file, as it holds it"},
    {"back", "Back", "Goes back to the main window; this one stays open behind it"},
};

QString tr(const char* s) {
  return QCoreApplication::translate("controlhelp", s);
}

// The main window's table, built once: each ECU type option says "<caption> ECU" and what it does.
std::span<const Entry> mainEntries() {
  static const std::vector<std::string> optionTexts = [] {
    std::vector<std::string> texts;
    for (const kline::EcuTypeInfo& t : kline::EcuTypes())
      texts.push_back(std::string(t.caption) + " ECU" + t.help);
    return texts;
  }();
  static const std::vector<Entry> rows = [] {
    std::vector<Entry> out(std::begin(kMainAbove), std::end(kMainAbove));
    const auto types = kline::EcuTypes();
    for (std::size_t i = 0; i < types.size(); ++i)
      out.push_back({types[i].option, types[i].caption, optionTexts[i].c_str()});
    out.insert(out.end(), std::begin(kMainBelow), std::end(kMainBelow));
    return out;
  }();
  return rows;
}

}  // namespace

std::span<const Entry> entries(const QString& win) {
  if (win == QLatin1String("Form2")) return mainEntries();
  if (win == QLatin1String("Form1")) return kTest;
  if (win == QLatin1String("Form3")) return kDiag;
  return {};
}

QString what(const QString& win, const QString& name) {
  for (const Entry& e : entries(win))
    if (name == QLatin1String(e.name)) return tr(e.what);
  return {};
}

void apply(const QString& win, QObject* root) {
  for (const Entry& e : entries(win)) {
    const QString name = QString::fromLatin1(e.name);
    const QString text = tr(e.what);
    if (auto* w = root->findChild<QWidget*>(name)) {
      w->setWhatsThis(text);
      if (w->toolTip().isEmpty()) w->setToolTip(text);
    } else if (auto* a = root->findChild<QAction*>(name)) {
      a->setWhatsThis(text);
      a->setToolTip(text);
      a->setStatusTip(text);
    }
  }
}

QString testEntryToolTip(const QString& entry) {
  const QString item = entry.simplified();
  const QString code = item.section(QLatin1Char(' '), 0, 0);
  const QString name = item.section(QLatin1Char(' '), 1).toLower();
  QString does;
  if (name == QLatin1String("fuel pump"))
    does = tr("Runs the fuel pump");
  else if (name.contains(QLatin1String("inj")))
    does = tr("Fires an injector");
  else if (name.startsWith(QLatin1String("coil")))
    does = tr("Fires an ignition coil");
  else if (name == QLatin1String("clear dtc"))
    does = tr("Erases the stored fault codes");
  else if (name == QLatin1String("rev counter"))
    does = tr("Moves the rev counter's needle");
  else
    does = tr("What this test drives on this ECU type is not known");
  return tr("%1. Sends test code %2 in diagnostic mode and waits for the verdict").arg(does, code);
}

QDialog* showDialog(const QString& win, QWidget* parent) {
  auto* dialog = new QDialog(parent);
  dialog->setObjectName(QStringLiteral("controlHelp"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  const QString title = parent ? parent->windowTitle() : win;
  dialog->setWindowTitle(tr("%1: the controls").arg(title));
  auto* intro =
      new QLabel(tr("What each control of this window does. Point at a control to see "
                    "the same text, or press Shift+F1 and click it."));
  intro->setWordWrap(true);
  const std::span<const Entry> rows = entries(win);
  auto* table = new QTableWidget(static_cast<int>(rows.size()), 2);
  table->setObjectName(QStringLiteral("controlHelpTable"));
  table->setHorizontalHeaderLabels({tr("Control"), tr("What it does")});
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setWordWrap(true);
  int row = 0;
  for (const Entry& e : rows) {
    // Table items hold plain text.
    const QString caption = QString::fromUtf8(e.caption);
    table->setItem(row, 0, new QTableWidgetItem(caption));
    table->setItem(row, 1, new QTableWidgetItem(tr(e.what)));
    ++row;
  }
  table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  table->resizeRowsToContents();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(intro);
  layout->addWidget(table, 1);
  layout->addWidget(buttons);
  dialog->resize(720, 560);
  dialog->show();
  return dialog;
}

}  // namespace controlhelp
