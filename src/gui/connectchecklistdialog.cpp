#include "gui/connectchecklistdialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLayoutItem>
#include <QPushButton>
#include <QVBoxLayout>

#include "connection/connectchecklist.h"
#include "connection/ecutypes.h"
#include "connection/portfield.h"
#include "connection/useractions.h"
#include "gui/session.h"
#include "platform/seenports.h"
#include "ui/sessionevents.h"

namespace {

QLabel* plainLabel(const QString& text) {
  auto* l = new QLabel(text);
  // Port names and descriptions come from the system and the user: never markup.
  l->setTextFormat(Qt::PlainText);
  l->setWordWrap(true);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return l;
}

bool isSim(const QString& port) {
  return kline::ParsePortField(port.toStdString()).kind == kline::PortField::Kind::Sim;
}

}  // namespace

ConnectChecklistDialog::ConnectChecklistDialog(Session& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setObjectName(QStringLiteral("connectChecklist"));
  setWindowTitle(tr("No answer from the ECU"));
  setModal(false);
  // The main window keeps the keyboard (F5 still disconnects) when the list comes up.
  setAttribute(Qt::WA_ShowWithoutActivating);
  auto* layout = new QVBoxLayout(this);
  items_ = new QVBoxLayout;
  layout->addLayout(items_);

  auto* explain = plainLabel(
      tr("\"Check the adapter\" disconnects, checks that the adapter echoes what it is sent at "
         "both rates (no ECU needed), then connects again."));
  layout->addWidget(explain);
  progress_ = plainLabel(QString());
  progress_->setObjectName(QStringLiteral("checklistProgress"));
  layout->addWidget(progress_);

  auto* buttons = new QDialogButtonBox;
  check_ = buttons->addButton(tr("Check the adapter"), QDialogButtonBox::ActionRole);
  check_->setObjectName(QStringLiteral("checklistCheckAdapter"));
  check_->setToolTip(tr("Disconnect, check the adapter's echo on this port, connect again"));
  QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
  close->setToolTip(tr("Close the checklist; the session goes on"));
  layout->addWidget(buttons);
  connect(check_, &QPushButton::clicked, this, &ConnectChecklistDialog::startCheck);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

  connect(&session_, &Session::checklistOffered, this, &ConnectChecklistDialog::offer);
  connect(&session_, &Session::linkChanged, this,
          [this](int state, const QString&, bool, bool, bool) { onLink(state); });
}

void ConnectChecklistDialog::offer(const QString& port, const QString& ecu) {
  const kline::EcuTypeInfo* type = kline::FindEcuType(ecu.toStdString());
  if (!type) return;
  port_ = port;
  kline::ChecklistContext context{kline::SeenPorts(), {}};
  context.adapterCheck =
      isSim(port)
          ? tr("The simulated ECU has no adapter: the check below says so and connects "
               "again.")
                .toStdString()
          : tr("\"Check the adapter\" below runs the adapter check from here.").toStdString();
  const kline::ConnectChecklist list =
      kline::BuildConnectChecklist(*type, port.toStdString(), context);

  while (QLayoutItem* item = items_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  items_->addWidget(plainLabel(QString::fromStdString(list.heading)));
  int n = 0;
  for (const kline::ChecklistItem& item : list.items) {
    QLabel* title =
        plainLabel(QStringLiteral("%1. %2").arg(++n).arg(QString::fromStdString(item.title)));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    items_->addWidget(title);
    QStringList lines;
    for (const std::string& l : item.lines)
      if (!l.empty()) lines << QString::fromStdString(l);
    QLabel* body = plainLabel(lines.join(QLatin1Char('\n')));
    body->setContentsMargins(16, 0, 0, 4);
    items_->addWidget(body);
  }
  if (step_ == Step::None) progress_->clear();
  show();
}

void ConnectChecklistDialog::startCheck() {
  if (step_ != Step::None || port_.isEmpty()) return;
  check_->setEnabled(false);
  using kline::LinkState;
  const auto state = static_cast<LinkState>(linkState_);
  if (state == LinkState::Idle || state == LinkState::OpenFailed) {
    step_ = Step::Checking;
    progress_->setText(tr("Checking the adapter on %1\u2026").arg(port_));
    session_.checkAdapter(port_);
    return;
  }
  // Disconnect as the user would; the check runs once the port is closed.
  step_ = Step::Pausing;
  progress_->setText(tr("Disconnecting to check the adapter on %1\u2026").arg(port_));
  session_.play(static_cast<int>(kline::UserAction::Connect));
}

void ConnectChecklistDialog::onLink(int state) {
  linkState_ = state;
  if (step_ != Step::Pausing || static_cast<kline::LinkState>(state) != kline::LinkState::Idle)
    return;
  step_ = Step::Checking;
  progress_->setText(tr("Checking the adapter on %1\u2026").arg(port_));
  session_.checkAdapter(port_);
}

bool ConnectChecklistDialog::takeAdapterCheck(bool ok, const QStringList& lines) {
  if (step_ != Step::Checking) return false;
  step_ = Step::None;
  check_->setEnabled(true);
  const QString found = lines.join(QLatin1Char('\n'));
  QString verdict = isSim(port_) ? tr("Nothing was checked: %1").arg(found)
                    : ok         ? tr("The adapter echoes at both rates: %1").arg(found)
                                 : tr("The adapter did not pass the check: %1").arg(found);
  progress_->setText(verdict + QLatin1Char('\n') + tr("Connecting again\u2026"));
  // Connect again as the user would.
  session_.play(static_cast<int>(kline::UserAction::Connect));
  return true;
}
