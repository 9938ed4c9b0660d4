#include "gui/widgets/portchooser.h"

#include <QLineEdit>
#include <QMenu>

#include "gui/windows/controlrenderer.h"
#include "platform/adaptercheck.h"

PortChooser::PortChooser(QLineEdit* field, Source source, QWidget* parent)
    : QToolButton(parent), field_(field), source_(std::move(source)), menu_(new QMenu(this)) {
  if (!source_) source_ = [] { return kline::PortList::Scan(); };
  setObjectName(QStringLiteral("portChooser"));
  setText(tr("Ports"));
  setToolTip(tr("Choose a serial port, or the simulated ECU"));
  setPopupMode(QToolButton::InstantPopup);
  setMenu(menu_);
  menu_->setToolTipsVisible(true);
  // Adapters come and go: the list is made when it opens.
  connect(menu_, &QMenu::aboutToShow, this, &PortChooser::refresh);
}

QString PortChooser::EntryText(const kline::PortRecord& p) {
  if (p.sim) return tr("sim \u2014 Simulated ECU");
  QStringList about;
  if (!p.description.empty()) about << QString::fromStdString(p.description);
  QStringList ids;
  if (!p.usbId().empty()) ids << QString::fromStdString(p.usbId());
  if (!p.manufacturer.empty()) ids << QString::fromStdString(p.manufacturer);
  if (!p.serialNumber.empty()) ids << tr("serial %1").arg(QString::fromStdString(p.serialNumber));
  if (!ids.isEmpty()) about << QStringLiteral("(%1)").arg(ids.join(QStringLiteral(", ")));
  QString text = QString::fromStdString(p.device);
  if (p.number > 0) text = QStringLiteral("%1: %2").arg(p.number).arg(text);
  if (!about.isEmpty()) text += QStringLiteral(" \u2014 ") + about.join(QLatin1Char(' '));
  if (p.chip) {
    text += QStringLiteral(" \u2014 ") + QString::fromUtf8(p.chip->name);
    if (p.latencyTimerMs && *p.latencyTimerMs > 4)
      text += tr(" (latency timer %1 ms: slow)").arg(*p.latencyTimerMs);
  }
  if (p.likelyKLine) text += tr(" \u2014 likely K-line cable");
  return text;
}

QString PortChooser::ToolTipText(const kline::PortRecord& p) {
  if (!p.chip && p.driver.empty() && !p.latencyTimerMs) return {};
  QStringList lines;
  if (p.chip) lines << QString::fromUtf8(p.chip->name).toHtmlEscaped();
  if (!p.product.empty())
    lines << tr("USB product: %1").arg(QString::fromStdString(p.product).toHtmlEscaped());
  if (!p.driver.empty())
    lines << tr("driver: %1").arg(QString::fromStdString(p.driver).toHtmlEscaped());
  if (p.chip)
    for (std::string_view n : p.chip->notes)
      lines << QStringLiteral("\u2022 ") +
                   QString::fromUtf8(n.data(), static_cast<qsizetype>(n.size())).toHtmlEscaped();
  if (p.latencyTimerMs) {
    const int ms = *p.latencyTimerMs;
    lines << tr("latency timer: %1 ms").arg(ms);
    if (ms > 4)
      lines << tr("It may hold each answer back up to %1 ms: a live cycle of ~%2 exchanges may "
                  "lose up to ~%3 ms. Check adapter measures it; <i>klinediag-cli check-adapter "
                  "--port %4 --fix</i>, or the package's udev rule, sets it to 1 ms.")
                   .arg(ms)
                   .arg(kline::kExchangesPerCycle)
                   .arg(ms * kline::kExchangesPerCycle)
                   .arg(QString::fromStdString(p.device).toHtmlEscaped());
  }
  return QStringLiteral("<p>%1</p>").arg(lines.join(QStringLiteral("<br>")));
}

void PortChooser::refresh() {
  menu_->clear();
  // Numbered as a port number opens them (QtSerialPortAdapter::AvailablePorts).
  for (const kline::PortRecord& p : kline::PortList::Numbered(source_())) {
    // A port's name and description are the system's: an "&" in them is shown, not a shortcut.
    QAction* a = menu_->addAction(ControlRenderer::escapeMnemonic(EntryText(p)));
    a->setToolTip(ToolTipText(p));
    QFont f = a->font();
    f.setBold(p.likelyKLine);
    a->setFont(f);
    const QString device = QString::fromStdString(p.device);
    a->setData(device);
    connect(a, &QAction::triggered, this, [this, device] {
      field_->setText(device);
      emit chosen(device);
    });
  }
}
