#include "gui/dialogs/connectchecklistdialog.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLayoutItem>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>

#include "connection/connectchecklist.h"
#include "connection/ecutypes.h"
#include "connection/portfield.h"
#include "connection/useractions.h"
#include "gui/session/session.h"
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
  // The list scrolls where the screen is shorter than it: every item stays whole and readable.
  scroll_ = new QScrollArea;
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* content = new QWidget;
  items_ = new QVBoxLayout(content);
  items_->setContentsMargins(0, 0, 0, 0);
  scroll_->setWidget(content);
  layout->addWidget(scroll_, 1);

  auto* explain = plainLabel(
      tr("\"Check the adapter\" disconnects, checks that the adapter echoes what it is sent at "
         "both rates (no ECU needed), then connects again."));
  layout->addWidget(explain);
  // What the check is doing and found, in an area of a fixed height: the buttons below stay
  // where they are however much it says, and a line naming a path is never broken (it scrolls
  // sideways).
  progress_ = plainLabel(QString());
  progress_->setObjectName(QStringLiteral("checklistProgress"));
  progress_->setWordWrap(false);
  progress_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* findings = new QScrollArea;
  findings->setObjectName(QStringLiteral("checklistFindings"));
  findings->setWidgetResizable(true);
  findings->setWidget(progress_);
  findings->setFixedHeight(progress_->fontMetrics().lineSpacing() * 6 + 2 * findings->frameWidth() +
                           8);
  layout->addWidget(findings);

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
          [this](int state, const QString&, bool, bool, bool heard) { onLink(state, heard); });
}

void ConnectChecklistDialog::offer(const QString& port, const QString& ecu) {
  const std::optional<kline::ConnectChecklist> found = kline::NoAnswerChecklist(
      {port.toStdString(), ecu.toStdString()},
      tr("The simulated ECU has no adapter: the check below says so and connects again.")
          .toStdString(),
      tr("\"Check the adapter\" below runs the adapter check from here.").toStdString());
  if (!found) return;
  port_ = port;
  const kline::ConnectChecklist& list = *found;

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
  items_->addStretch();
  // Over a list on screen the dialog only grows: its buttons stay under the pointer.
  const QSize before = size();
  const bool shown = isVisible();
  fitToScreen();
  if (shown && height() < before.height()) resize(before);
  show();
}

int ConnectChecklistDialog::listHeight(int width) const {
  // Summed by hand: labels just added to a dialog on screen are shown only once the event loop
  // runs, and until then the layout counts them as empty.
  int height = 0;
  for (int i = 0; i < items_->count(); ++i) {
    QWidget* w = items_->itemAt(i)->widget();
    if (!w) continue;
    // A label's own margins are in what it says it needs.
    height += (w->hasHeightForWidth() ? w->heightForWidth(width) : w->sizeHint().height()) +
              items_->spacing();
  }
  return height;
}

void ConnectChecklistDialog::fitToScreen() {
  const QRect room = (screen() ? screen() : QGuiApplication::primaryScreen())->availableGeometry();
  const int width = std::min(620, room.width() - 40);
  // What the list and the rest of the dialog need at that width (the list was just rebuilt:
  // nothing cached is of use).
  QLayout* outer = layout();
  const QMargins m = outer->contentsMargins();
  const int inner = width - m.left() - m.right();
  int height = m.top() + m.bottom();
  for (int i = 0; i < outer->count(); ++i) {
    QLayoutItem* item = outer->itemAt(i);
    if (item->widget() == scroll_)
      height += listHeight(inner);
    else
      height += item->hasHeightForWidth() ? item->heightForWidth(inner) : item->sizeHint().height();
    height += outer->spacing();
  }
  resize(width, std::clamp(height, 200, std::max(200, room.height() - 80)));
}

void ConnectChecklistDialog::startCheck() {
  if (step_ != Step::None || port_.isEmpty() || ask_) return;
  if (!ecuHeard_) {
    runCheck();
    return;
  }
  // The ECU answers by now: the session is not dropped without asking.
  auto* box = new QMessageBox(
      QMessageBox::Question, tr("Check the adapter"),
      tr("The ECU answers on %1 now. Disconnect it to check the adapter?").arg(port_),
      QMessageBox::NoButton, isVisible() ? static_cast<QWidget*>(this) : parentWidget());
  box->setObjectName(QStringLiteral("checklistAskDisconnect"));
  box->setTextFormat(Qt::PlainText);
  QPushButton* go = box->addButton(tr("Disconnect and check"), QMessageBox::AcceptRole);
  QPushButton* keep = box->addButton(tr("Stay connected"), QMessageBox::RejectRole);
  box->setDefaultButton(keep);
  box->setEscapeButton(keep);
  box->setAttribute(Qt::WA_DeleteOnClose);
  ask_ = box;
  connect(box, &QMessageBox::finished, this, [this, box, go] {
    ask_ = nullptr;
    if (box->clickedButton() == go) runCheck();
  });
  box->open();
}

void ConnectChecklistDialog::runCheck() {
  if (step_ != Step::None) return;
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

void ConnectChecklistDialog::onLink(int state, bool ecuHeard) {
  linkState_ = state;
  ecuHeard_ = ecuHeard;
  // "No answer from the ECU" is no longer true: the list goes, unless its own check is under way.
  if (ecuHeard && step_ == Step::None && isVisible()) {
    close();
    emit closedByAnswer();
  }
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
