#include "gui/windows/recordsmenu.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimeZone>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/dialogs/dialogfolder.h"
#include "gui/session/session.h"
#include "gui/widgets/faultpanel.h"
#include "gui/widgets/numberfield.h"
#include "gui/widgets/statusnote.h"
#include "gui/windows/recordswindow.h"
#include "records/recordstore.h"
#include "serial/text.h"

namespace {

// The keeper writes what happened at least once a second: the window reads a little later.
constexpr int kRefreshMs = 1500;
constexpr int kMaxKm = 999999;

}  // namespace

RecordsMenu::RecordsMenu(Session& session, QMenuBar* bar, QStatusBar* status, FaultPanel* faults,
                         QWidget* parent)
    : QObject(parent), session_(session), status_(status), faults_(faults), parent_(parent) {
  window_ = std::make_unique<RecordsWindow>();
  QMenu* menu = bar->addMenu(tr("Records"));
  menu->setObjectName(QStringLiteral("recordsMenu"));
  menu->setToolTipsVisible(true);
  bikes_ = menu->addAction(tr("Bikes\u2026"));
  bikes_->setObjectName(QStringLiteral("recordsBikes"));
  bikes_->setStatusTip(tr("The bikes seen here, their visits and what each visit found"));
  mileage_ = menu->addAction(tr("Mileage of this visit\u2026"));
  mileage_->setObjectName(QStringLiteral("recordsMileage"));
  mileage_->setStatusTip(tr("Keep the bike's mileage with the visit in progress"));
  mileage_->setEnabled(false);
  menu->addSeparator();
  file_ = menu->addAction(tr("Records file\u2026"));
  file_->setObjectName(QStringLiteral("recordsFile"));
  file_->setStatusTip(tr("Where the records are kept; another file, or no records"));
  connect(bikes_, &QAction::triggered, this, &RecordsMenu::showBikes);
  connect(mileage_, &QAction::triggered, this, &RecordsMenu::askMileage);
  connect(file_, &QAction::triggered, this, &RecordsMenu::showFileDialog);

  bike_ = new QLabel;
  bike_->setObjectName(QStringLiteral("recordsBike"));
  bike_->setTextFormat(Qt::PlainText);
  bike_->setToolTip(
      tr("The bike connected: its name in the records, else its ECU's identification"));
  status_->addPermanentWidget(bike_);

  refresh_ = new QTimer(this);
  refresh_->setSingleShot(true);
  refresh_->setInterval(kRefreshMs);
  connect(refresh_, &QTimer::timeout, window_.get(), &RecordsWindow::refresh);

  connect(&session_, &Session::recordsFile, this, [this](const QString& path, bool fromSettings) {
    path_ = path;
    fromSettings_ = fromSettings;
    window_->setPath(path);
  });
  connect(&session_, &Session::recordsProblem, this,
          [this](const QString& why) { statusnote::show(status_, why, statusnote::Kind::Error); });
  connect(&session_, &Session::recordsVisit, this, [this](qint64, qint64 visit) {
    visit_ = reportVisit_ = visit;
    mileage_->setEnabled(true);
    if (window_->isVisible()) window_->refresh();
  });
  connect(&session_, &Session::bikeNews, this, [this](const QString& text, const QString& bike) {
    statusnote::show(status_, RecordsWindow::plain(text.toStdString()));
    // The keeper tells a moment later: not once the user has disconnected.
    if (connected_) bike_->setText(RecordsWindow::plain(bike.toStdString()));
  });
  connect(
      &session_, &Session::knownBike, this,
      [this](const QString& text, qint64, qint64 previous, qint64) { knownBike(text, previous); });
  connect(&session_, &Session::sessionEvent, this, &RecordsMenu::onEvent);
}

RecordsMenu::~RecordsMenu() = default;

void RecordsMenu::showBikes() {
  window_->refresh();
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void RecordsMenu::refreshSoon() {
  if (window_->isVisible()) refresh_->start();
}

void RecordsMenu::onEvent(const kline::SessionEvent& e) {
  using namespace kline;
  if (std::holds_alternative<ev::Connecting>(e)) connected_ = true;
  if (std::holds_alternative<ev::Disconnected>(e)) {
    connected_ = false;
    bike_->clear();
  }
  // Without records the bike is still named, by its identification.
  if (const auto* id = std::get_if<ev::EcuIdentified>(&e);
      id && !id->identification.empty() && (path_.isEmpty() || bike_->text().isEmpty()))
    bike_->setText(RecordsWindow::plain(kline::Trim(id->identification)));
  if (std::holds_alternative<ev::Connecting>(e) || std::holds_alternative<ev::Disconnected>(e)) {
    // The visit ends with its connection; the next one starts once the ECU is identified.
    visit_ = 0;
    if (std::holds_alternative<ev::Connecting>(e)) reportVisit_ = 0;
    mileage_->setEnabled(false);
    refreshSoon();
  } else if (std::holds_alternative<ev::ReadoutDone>(e) ||
             std::holds_alternative<ev::TestEnded>(e) ||
             std::holds_alternative<ev::TrimmerSet>(e)) {
    refreshSoon();
  }
}

void RecordsMenu::knownBike(const QString& /*text*/, qint64 previousVisit) {
  // The faults panel offers the last visit's fault readout beside today's.
  std::string why;
  auto store = kline::records::RecordStore::Open(path_.toStdString(),
                                                 kline::records::RecordStore::Mode::ReadOnly, why);
  const auto visit = store ? store->visit(previousVisit) : std::nullopt;
  if (!visit) return;
  for (auto r = visit->readouts.rbegin(); r != visit->readouts.rend(); ++r) {
    if (r->readout.kind != kline::ReadoutKind::Faults) continue;
    QStringList lines;
    for (const std::string& l : r->readout.lines) lines << RecordsWindow::plain(l);
    faults_->setLastVisit(
        lines, QList<bool>(r->readout.fault.begin(), r->readout.fault.end()),
        r->readout.faultStored,
        QDateTime::fromMSecsSinceEpoch(r->at.msSinceEpoch, QTimeZone(r->at.utcOffsetMinutes * 60)),
        r->readout.trusted);
    return;
  }
}

void RecordsMenu::askMileage() {
  QDialog dialog(parent_);
  dialog.setObjectName(QStringLiteral("recordsMileageDialog"));
  dialog.setWindowTitle(tr("Mileage of this visit"));
  auto* edit = new QLineEdit;
  auto* field = new NumberField(edit, 0, kMaxKm, tr("Mileage"), tr("whole kilometres"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);
  connect(edit, &QLineEdit::textChanged, ok,
          [edit, ok] { ok->setEnabled(NumberField::acceptable(edit->text(), 0, kMaxKm)); });
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(tr("The bike's mileage, in km (0 to %1):").arg(kMaxKm)));
  layout->addWidget(edit);
  layout->addWidget(buttons);
  (void)field;
  if (dialog.exec() != QDialog::Accepted || !visit_) return;
  session_.setRecordsMileage(edit->text().toInt());
  statusnote::show(status_, tr("Mileage %1 km kept with this visit").arg(edit->text().toInt()));
}

void RecordsMenu::showFileDialog() {
  QDialog dialog(parent_);
  dialog.setObjectName(QStringLiteral("recordsFileDialog"));
  dialog.setWindowTitle(tr("Records file"));
  auto* where = new QLabel;
  where->setTextFormat(Qt::PlainText);
  where->setWordWrap(true);
  where->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QString text =
      path_.isEmpty()
          ? tr("Records are off: no visit is kept.")
          : tr("The bikes and their visits are kept in\n%1").arg(QDir::toNativeSeparators(path_));
  if (!fromSettings_)
    text +=
        tr("\n\nChosen on the command line for this run; a choice made here is kept in the "
           "settings for the next runs as well.");
  text +=
      tr("\n\nA change ends the visit in progress; the next connection is kept in the new "
         "place.");
  where->setText(text);
  auto* choose = new QPushButton(tr("Choose another file\u2026"));
  auto* standard = new QPushButton(tr("Use the default file"));
  standard->setToolTip(
      QDir::toNativeSeparators(QString::fromStdString(kline::records::DefaultRecordsPath())));
  auto* off = new QPushButton(tr("Turn records off"));
  off->setEnabled(!path_.isEmpty());
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(close, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  connect(choose, &QPushButton::clicked, &dialog, [this, &dialog] {
    const QString path = QFileDialog::getSaveFileName(
        &dialog, tr("Records file"),
        path_.isEmpty() ? InDialogFolder(QStringLiteral("records.sqlite")) : path_,
        tr("Records (*.sqlite);;All files (*)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) return;
    session_.chooseRecords(path, false);
    dialog.accept();
  });
  connect(standard, &QPushButton::clicked, &dialog, [this, &dialog] {
    session_.chooseRecords(QString(), false);
    dialog.accept();
  });
  connect(off, &QPushButton::clicked, &dialog, [this, &dialog] {
    session_.chooseRecords(QString(), true);
    dialog.accept();
  });
  auto* row = new QHBoxLayout;
  row->addWidget(choose);
  row->addWidget(standard);
  row->addWidget(off);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(where);
  layout->addLayout(row);
  layout->addWidget(close);
  dialog.exec();
}
