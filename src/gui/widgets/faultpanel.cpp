#include "gui/widgets/faultpanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const char* const kTitles[3] = {"Faults", "Immobiliser", "Immobiliser 2"};

}  // namespace

FaultPanel::FaultPanel(QWidget* parent) : QGroupBox(tr("Faults"), parent) {
  setObjectName(QStringLiteral("faultPanel"));
  table_ = new QTableWidget(0, 2);
  table_->setObjectName(QStringLiteral("faultTable"));
  table_->setHorizontalHeaderLabels({tr("Readout"), tr("Line")});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setWordWrap(false);
  table_->setToolTip(
      tr("The latest fault and immobiliser readouts: a warning sign marks a line that reports a "
         "fault, a tick one that does not"));
  lastVisitBox_ = new QCheckBox(tr("Last visit"));
  lastVisitBox_->setObjectName(QStringLiteral("lastVisitFaults"));
  lastVisitBox_->setToolTip(
      tr("Show the fault readout of this bike's last visit below today's (from the records)"));
  lastVisitBox_->hide();
  connect(lastVisitBox_, &QCheckBox::toggled, this, &FaultPanel::rebuild);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lastVisitBox_);
  layout->addWidget(table_);
  rebuild();
}

void FaultPanel::showReadout(int kind, const QStringList& lines, const QList<bool>& faults,
                             bool stored, QDateTime when, bool trusted) {
  if (kind < 0 || kind > 2) return;
  shown_[static_cast<std::size_t>(kind)] =
      Shown{true,  lines,  faults, stored, when.isValid() ? when : QDateTime::currentDateTime(),
            false, trusted};
  rebuild();
}

void FaultPanel::startConnection() {
  for (Shown& s : shown_) s.earlier = s.valid;
  // Another bike may be on the line now.
  lastVisit_ = Shown{};
  lastVisitBox_->hide();
  rebuild();
}

void FaultPanel::setLastVisit(const QStringList& lines, const QList<bool>& faults, bool stored,
                              const QDateTime& when, bool trusted) {
  lastVisit_ = Shown{true, lines, faults, stored, when, false, trusted};
  lastVisitBox_->show();
  rebuild();
}

void FaultPanel::addRow(const QString& readout, const QString& text, bool fault, const Shown& s) {
  const int row = table_->rowCount();
  table_->insertRow(row);
  auto* first = new QTableWidgetItem(readout);
  first->setData(kFaultRole, fault);
  first->setData(kTrustedRole, s.trusted);
  // A line read off a babbling line proves nothing either way: no tick for it.
  const QStyle::StandardPixmap icon = fault       ? QStyle::SP_MessageBoxWarning
                                      : s.trusted ? QStyle::SP_DialogApplyButton
                                                  : QStyle::SP_MessageBoxQuestion;
  auto* line = new QTableWidgetItem(style()->standardIcon(icon), text);
  line->setToolTip(!s.trusted ? tr("Not trustworthy: read while the line carried bytes nobody "
                                   "asked for. Find what babbles on the K-line, then read again")
                   : fault    ? tr("Reports a fault")
                              : tr("No fault"));
  if (fault) {
    for (QTableWidgetItem* it : {first, line}) {
      it->setBackground(QColor(255, 215, 215));
      it->setForeground(QColor(150, 0, 0));
    }
    QFont bold = line->font();
    bold.setBold(true);
    line->setFont(bold);
  } else {
    // What is fine stays quiet beside what is not.
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    for (QTableWidgetItem* it : {first, line}) it->setForeground(grey);
  }
  table_->setItem(row, 0, first);
  table_->setItem(row, 1, line);
}

void FaultPanel::addReadout(const QString& readout, const Shown& s, bool faults) {
  // The lines that report a fault first, then the others, each in the logic's order.
  for (bool wanted : {true, false}) {
    for (int i = 0; i < s.lines.size(); ++i) {
      const bool fault = i < s.faults.size() && s.faults[i];
      if (fault == wanted) addRow(readout, s.lines[i].trimmed(), fault, s);
    }
    if (wanted && faults && s.stored && !s.faults.contains(true))
      addRow(readout, tr("The fault bytes name a fault that no line shows"), true, s);
  }
}

void FaultPanel::rebuild() {
  table_->setRowCount(0);
  bool any = false, earlier = false;
  // Today's readouts, the newest first.
  std::array<int, 3> order = {0, 1, 2};
  std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
    return shown_[static_cast<std::size_t>(a)].when > shown_[static_cast<std::size_t>(b)].when;
  });
  for (int k : order) {
    const Shown& s = shown_[static_cast<std::size_t>(k)];
    earlier = earlier || (s.valid && s.earlier);
    if (!s.valid || s.earlier) continue;
    any = true;
    QString readout = tr("%1, %2").arg(tr(kTitles[k]), s.when.toString(QStringLiteral("HH:mm:ss")));
    if (!s.trusted) readout = tr("%1 (not trustworthy: the line babbled)").arg(readout);
    addReadout(readout, s, k == 0);
    if (k > 0 && s.lines.isEmpty()) addRow(readout, tr("No state bit set"), false, s);
  }
  if (lastVisit_.valid && lastVisitBox_->isChecked()) {
    any = true;
    const Shown& s = lastVisit_;
    QString readout =
        tr("Faults, last visit %1").arg(s.when.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    if (!s.trusted) readout = tr("%1 (not trustworthy: the line babbled)").arg(readout);
    addReadout(readout, s, true);
  }
  if (!any) {
    table_->insertRow(0);
    auto* none = new QTableWidgetItem(
        earlier ? tr("No readout on this connection yet (those of the earlier connection are "
                     "cleared): press the fault or immobiliser button")
                : tr("No readout yet: press the fault or immobiliser button"));
    table_->setItem(0, 0, none);
    table_->setSpan(0, 0, 1, 2);
  }
  // The newest readout, its faults first, in view.
  table_->scrollToTop();
}
