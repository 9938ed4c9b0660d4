#include "gui/windows/recordswindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimeZone>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/dialogs/dialogfolder.h"
#include "gui/dialogs/reportwriter.h"
#include "livedata/conversions.h"
#include "records/visitreport.h"

namespace records = kline::records;

namespace {

QString plain(const std::string& s, bool multiLine = false) {
  return RecordsWindow::plain(s, multiLine);
}

QString dateOf(const kline::WallTime& t, bool seconds = false) {
  if (t.msSinceEpoch == 0) return {};
  const std::string s = records::FormatWallTime(t);
  return QString::fromStdString(seconds ? s : s.substr(0, 16));
}

QDateTime qtTime(const kline::WallTime& t) {
  return QDateTime::fromMSecsSinceEpoch(t.msSinceEpoch, QTimeZone(t.utcOffsetMinutes * 60));
}

QString channelName(const std::string& name, const std::string& unit) {
  return unit.empty() ? plain(name) : QObject::tr("%1 (%2)").arg(plain(name), plain(unit));
}

QString faultsText(int faults) {
  return faults < 0 ? QObject::tr("not read") : QString::number(faults);
}

QString kindTitle(kline::ReadoutKind k, uint8_t code) {
  switch (k) {
    case kline::ReadoutKind::Faults:
      return QObject::tr("Fault readout");
    case kline::ReadoutKind::Immobiliser:
      return QObject::tr("Immobiliser state");
    case kline::ReadoutKind::Immobiliser2:
      return QObject::tr("Immobiliser state 2");
    case kline::ReadoutKind::Diag:
      return QObject::tr("Diag %1").arg(code, 2, 16, QLatin1Char('0')).toUpper();
  }
  return {};
}

QString verdictText(const records::TestRecord& t) {
  if (t.verdict == kline::ev::Verdict::Cancelled) return QObject::tr("stopped by Back");
  if (!t.shown.empty()) return plain(t.shown);
  return QString::fromLatin1(kline::ev::VerdictName(t.verdict));
}

QTableWidgetItem* cell(const QString& text, qint64 id = 0) {
  auto* it = new QTableWidgetItem(text);
  if (id) it->setData(Qt::UserRole, id);
  return it;
}

// Each column as wide as its texts, the last one taking the rest.
void fitColumns(QTableWidget* t) {
  for (int c = 0; c + 1 < t->columnCount(); ++c) t->resizeColumnToContents(c);
}

QTreeWidgetItem* node(QTreeWidgetItem* parent, const QStringList& texts) {
  return new QTreeWidgetItem(parent, texts);
}

QTreeWidgetItem* section(QTreeWidget* tree, const QString& title) {
  auto* it = new QTreeWidgetItem(tree, {title});
  QFont bold = it->font(0);
  bold.setBold(true);
  it->setFont(0, bold);
  it->setExpanded(true);
  return it;
}

void markFault(QTreeWidgetItem* it, bool fault, bool trusted, const QStyle* style) {
  it->setData(0, RecordsWindow::kFaultRole, fault);
  const QStyle::StandardPixmap icon = fault     ? QStyle::SP_MessageBoxWarning
                                      : trusted ? QStyle::SP_DialogApplyButton
                                                : QStyle::SP_MessageBoxQuestion;
  it->setIcon(0, style->standardIcon(icon));
  if (fault)
    for (int c = 0; c < it->columnCount(); ++c) it->setForeground(c, QColor(150, 0, 0));
}

QTreeWidget* tree(const char* name, const QStringList& headers) {
  auto* t = new QTreeWidget;
  t->setObjectName(QString::fromLatin1(name));
  t->setHeaderLabels(headers);
  t->setUniformRowHeights(true);
  t->setWordWrap(false);
  return t;
}

QTableWidget* table(const char* name, const QStringList& headers) {
  auto* t = new QTableWidget(0, static_cast<int>(headers.size()));
  t->setObjectName(QString::fromLatin1(name));
  t->setHorizontalHeaderLabels(headers);
  t->verticalHeader()->hide();
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->setSelectionMode(QAbstractItemView::SingleSelection);
  t->setWordWrap(false);
  t->horizontalHeader()->setStretchLastSection(true);
  return t;
}

}  // namespace

QString RecordsWindow::plain(const std::string& s, bool multiLine) {
  QString q = QString::fromStdString(s);
  for (QChar& c : q) {
    const char16_t u = c.unicode();
    if (u < 0x20 && !(multiLine && (u == '\n' || u == '\t')))
      c = QChar(static_cast<char16_t>(0x2400 + u));
    else if (u == 0x7f)
      c = QChar(0x2421);
  }
  return q;
}

QGroupBox* RecordsWindow::bikeBox() {
  // The chosen bike: what the user adds to it.
  auto* box = new QGroupBox(tr("Bike"));
  auto* form = new QFormLayout;
  name_ = new QLineEdit;
  registration_ = new QLineEdit;
  owner_ = new QLineEdit;
  notes_ = new QPlainTextEdit;
  notes_->setMaximumHeight(notes_->fontMetrics().height() * 4 + 12);
  name_->setObjectName(QStringLiteral("bikeName"));
  registration_->setObjectName(QStringLiteral("bikeRegistration"));
  owner_->setObjectName(QStringLiteral("bikeOwner"));
  notes_->setObjectName(QStringLiteral("bikeNotes"));
  name_->setToolTip(tr("The bike's name, as you call it"));
  registration_->setToolTip(tr("The registration or frame number"));
  owner_->setToolTip(tr("Whose bike it is"));
  notes_->setToolTip(tr("Anything worth keeping about this bike"));
  form->addRow(tr("Name"), name_);
  form->addRow(tr("Registration"), registration_);
  form->addRow(tr("Owner"), owner_);
  form->addRow(tr("Notes"), notes_);
  save_ = new QPushButton(tr("Save"));
  save_->setObjectName(QStringLiteral("bikeSave"));
  save_->setToolTip(tr("Keep the name, registration, owner and notes in the records"));
  merge_ = new QPushButton(tr("Same bike as\u2026"));
  merge_->setObjectName(QStringLiteral("bikeMerge"));
  merge_->setToolTip(
      tr("This bike is one already in the records (another ECU fitted, say): "
         "its visits move to that one"));
  forget_ = new QPushButton(tr("Forget this bike\u2026"));
  forget_->setObjectName(QStringLiteral("bikeForget"));
  forget_->setToolTip(tr("Delete the bike and all its visits from the records"));
  for (QLineEdit* e : {name_, registration_, owner_})
    connect(e, &QLineEdit::textEdited, save_, [this] { save_->setEnabled(true); });
  connect(notes_, &QPlainTextEdit::textChanged, save_, [this] { save_->setEnabled(true); });
  connect(save_, &QPushButton::clicked, this, &RecordsWindow::saveDetails);
  connect(merge_, &QPushButton::clicked, this, &RecordsWindow::sameBike);
  connect(forget_, &QPushButton::clicked, this, &RecordsWindow::forget);
  auto* bikeButtons = new QHBoxLayout;
  bikeButtons->addWidget(save_);
  bikeButtons->addStretch(1);
  bikeButtons->addWidget(merge_);
  bikeButtons->addWidget(forget_);
  auto* bikeLayout = new QVBoxLayout(box);
  bikeLayout->addLayout(form);
  bikeLayout->addLayout(bikeButtons);

  return box;
}

QLayout* RecordsWindow::visitArea() {
  // The chosen bike's visits and the chosen visit.
  visits_ =
      table("recordsVisits", {tr("Date"), tr("Port"), tr("Mileage"), tr("Faults"), tr("Tests")});
  visits_->setToolTip(tr("The bike's visits, the latest first"));
  connect(visits_, &QTableWidget::itemSelectionChanged, this, &RecordsWindow::visitChosen);
  compare_ = new QPushButton(tr("Compare with the visit before"));
  compare_->setObjectName(QStringLiteral("visitCompare"));
  compare_->setToolTip(
      tr("Faults that appeared, cleared or stayed, the trimmer and the "
         "channels' means against the bike's visit before this one"));
  connect(compare_, &QPushButton::clicked, this, &RecordsWindow::compareWithPrevious);
  report_ = new QPushButton(tr("Write its report\u2026"));
  report_->setObjectName(QStringLiteral("visitReport"));
  report_->setToolTip(tr("Write this visit's report again, as PDF and HTML"));
  chooseReportPath_ = [this] {
    QString name = QStringLiteral("klinediag-report-visit-%1.pdf").arg(selectedVisit());
    return QFileDialog::getSaveFileName(this, tr("Visit report"), InDialogFolder(name),
                                        tr("PDF files (*.pdf);;All files (*)"));
  };
  connect(report_, &QPushButton::clicked, this, [this] {
    QString path = chooseReportPath_ ? chooseReportPath_() : QString();
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pdf");
    writeReport(path);
  });
  details_ = tree("visitDetails", {tr("Visit"), tr("")});
  comparison_ = tree("visitComparison", {tr("What"), tr("Visit before"), tr("This visit")});
  tabs_ = new QTabWidget;
  tabs_->addTab(details_, tr("Details"));
  tabs_->addTab(comparison_, tr("Compared with the visit before"));
  auto* visitButtons = new QHBoxLayout;
  visitButtons->addWidget(compare_);
  visitButtons->addWidget(report_);
  visitButtons->addStretch(1);

  return visitButtons;
}

RecordsWindow::RecordsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("recordsWindow"));
  setWindowTitle(tr("klinediag \u2013 Bike records"));

  search_ = new QLineEdit;
  search_->setObjectName(QStringLiteral("recordsSearch"));
  search_->setPlaceholderText(tr("Search name, registration, owner, notes, identification"));
  search_->setClearButtonEnabled(true);
  search_->setToolTip(
      tr("Shows the bikes whose name, registration, owner, notes, "
         "identification or calibration contain the text (any case)"));
  connect(search_, &QLineEdit::textChanged, this, &RecordsWindow::refresh);

  bikes_ = table("recordsBikes", {tr("Name"), tr("Registration"), tr("Identification"), tr("ECU"),
                                  tr("Visits"), tr("Last visit"), tr("Faults then")});
  bikes_->setToolTip(tr("The bikes of the records, the most recently seen first"));
  connect(bikes_, &QTableWidget::itemSelectionChanged, this, &RecordsWindow::bikeChosen);

  auto* left = new QWidget;
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  leftLayout->addWidget(search_);
  leftLayout->addWidget(bikes_, 1);
  leftLayout->addWidget(bikeBox());

  QLayout* visitButtons = visitArea();
  auto* right = new QWidget;
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  rightLayout->addWidget(visits_, 1);
  rightLayout->addLayout(visitButtons);
  rightLayout->addWidget(tabs_, 3);

  auto* split = new QSplitter(Qt::Horizontal);
  split->addWidget(left);
  split->addWidget(right);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("recordsStatus"));
  status_->setTextFormat(Qt::PlainText);
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(split, 1);
  outer->addWidget(status_);

  confirm_ = [this](const QString& question) {
    QMessageBox box(QMessageBox::Question, windowTitle(), question,
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Yes;
  };
  chooseSameBike_ = [this](const std::vector<records::Bike>& others) -> std::optional<qint64> {
    QStringList items;
    for (const records::Bike& b : others)
      items << tr("%1 \u2013 %2 %3 (%4)")
                   .arg(plain(b.details.name.empty() ? b.details.registration : b.details.name),
                        plain(b.key.ecu), plain(b.key.identification),
                        b.visits == 1 ? tr("1 visit") : tr("%1 visits").arg(b.visits));
    bool ok = false;
    const QString chosen = QInputDialog::getItem(this, tr("Same bike as"),
                                                 tr("The bike this one is:"), items, 0, false, &ok);
    if (!ok) return std::nullopt;
    const auto i = items.indexOf(chosen);
    return i < 0 ? std::nullopt : std::optional<qint64>(others[static_cast<std::size_t>(i)].id);
  };
  fitTo(QSize(1366, 768));
  bikeChosen();
}

RecordsWindow::~RecordsWindow() = default;

void RecordsWindow::fitTo(const QSize& available) {
  resize(QSize(1280, 720).boundedTo(available - QSize(40, 110)));
}

void RecordsWindow::setPath(const QString& path) {
  if (path == path_) return;
  path_ = path;
  store_.reset();
  openedPath_.clear();
  refresh();
}

void RecordsWindow::say(const QString& text, bool error) {
  status_->setText(text);
  status_->setStyleSheet(error ? QStringLiteral("color: #b00000") : QString());
}

bool RecordsWindow::open() {
  if (store_ && openedPath_ == path_) return true;
  store_.reset();
  if (path_.isEmpty()) {
    say(tr("Records are off: Records \u2192 Records file\u2026 turns them on"));
    return false;
  }
  std::string why;
  store_ =
      records::RecordStore::Open(path_.toStdString(), records::RecordStore::Mode::ReadWrite, why);
  if (!store_) {
    say(tr("The records in %1 cannot be read: %2")
            .arg(QDir::toNativeSeparators(path_), QString::fromStdString(why)),
        true);
    return false;
  }
  openedPath_ = path_;
  say(store_->notice().empty() ? tr("Records in %1").arg(QDir::toNativeSeparators(path_))
                               : QString::fromStdString(store_->notice()));
  return true;
}

void RecordsWindow::refresh() {
  const qint64 bike = selectedBike(), visit = selectedVisit();
  fillBikes();
  if (!selectBike(bike) && bikes_->rowCount() > 0) bikes_->selectRow(0);
  if (bikes_->rowCount() == 0) bikeChosen();
  if (visit && selectedBike() == bike) selectVisit(visit);
}

void RecordsWindow::fillBikes() {
  QSignalBlocker quiet(bikes_);
  bikes_->setRowCount(0);
  if (!open()) {
    bikeChosen();
    return;
  }
  const std::vector<records::Bike> list = store_->bikes(search_->text().toStdString());
  bikes_->setRowCount(static_cast<int>(list.size()));
  for (int r = 0; r < bikes_->rowCount(); ++r) {
    const records::Bike& b = list[static_cast<std::size_t>(r)];
    bikes_->setItem(r, 0, cell(plain(b.details.name), b.id));
    bikes_->setItem(r, 1, cell(plain(b.details.registration)));
    bikes_->setItem(r, 2, cell(plain(b.key.identification)));
    bikes_->setItem(r, 3, cell(plain(b.key.ecu)));
    bikes_->setItem(r, 4, cell(QString::number(b.visits)));
    bikes_->setItem(r, 5, cell(dateOf(b.lastStart)));
    bikes_->setItem(r, 6, cell(b.lastVisit ? faultsText(b.lastFaults) : QString()));
  }
  fitColumns(bikes_);
  bikes_->clearSelection();
}

qint64 RecordsWindow::selectedBike() const {
  const int row = bikes_->currentRow();
  const QTableWidgetItem* it =
      row >= 0 && bikes_->selectionModel()->isRowSelected(row, {}) ? bikes_->item(row, 0) : nullptr;
  return it ? it->data(Qt::UserRole).toLongLong() : 0;
}

qint64 RecordsWindow::selectedVisit() const {
  const int row = visits_->currentRow();
  const QTableWidgetItem* it = row >= 0 && visits_->selectionModel()->isRowSelected(row, {})
                                   ? visits_->item(row, 0)
                                   : nullptr;
  return it ? it->data(Qt::UserRole).toLongLong() : 0;
}

bool RecordsWindow::selectBike(qint64 id) {
  for (int r = 0; id && r < bikes_->rowCount(); ++r)
    if (bikes_->item(r, 0)->data(Qt::UserRole).toLongLong() == id) {
      bikes_->selectRow(r);
      return true;
    }
  return false;
}

bool RecordsWindow::selectVisit(qint64 id) {
  for (int r = 0; id && r < visits_->rowCount(); ++r)
    if (visits_->item(r, 0)->data(Qt::UserRole).toLongLong() == id) {
      visits_->selectRow(r);
      return true;
    }
  return false;
}

void RecordsWindow::bikeChosen() {
  const qint64 id = selectedBike();
  // Details typed for the bike shown are not dropped when another one is chosen: they go to the
  // bike they were typed for, which the fields named, and the status line says so.
  if (id != shownBike_ && hasUnsavedEdits()) {
    const QString who = name_->text().isEmpty() ? tr("the bike shown before") : name_->text();
    const records::BikeDetails d{name_->text().toStdString(), registration_->text().toStdString(),
                                 owner_->text().toStdString(), notes_->toPlainText().toStdString()};
    if (store_ && store_->setDetails(shownBike_, d)) {
      say(tr("The details typed for %1 are saved").arg(who));
      // Its row in the list shows them too.
      for (int r = 0; r < bikes_->rowCount(); ++r)
        if (bikes_->item(r, 0)->data(Qt::UserRole).toLongLong() == shownBike_) {
          bikes_->item(r, 0)->setText(plain(d.name));
          bikes_->item(r, 1)->setText(plain(d.registration));
        }
    } else {
      say(tr("The details typed for %1 are not saved: %2")
              .arg(who, store_ ? QString::fromStdString(store_->error()) : QString()),
          true);
    }
    save_->setEnabled(false);
  }
  const std::optional<records::Bike> b = id && store_ ? store_->bike(id) : std::nullopt;
  // The same bike read again (a refresh while a visit goes on): what the user typed stays.
  const bool keepEdits = b && id == shownBike_ && hasUnsavedEdits();
  shownBike_ = b ? id : 0;
  {
    QSignalBlocker q1(notes_), q2(visits_);
    if (!keepEdits) {
      name_->setText(b ? plain(b->details.name) : QString());
      registration_->setText(b ? plain(b->details.registration) : QString());
      owner_->setText(b ? plain(b->details.owner) : QString());
      notes_->setPlainText(b ? plain(b->details.notes, true) : QString());
    }
    visits_->setRowCount(0);
    if (b) {
      const std::vector<records::VisitSummary> list = store_->visits(id);
      visits_->setRowCount(static_cast<int>(list.size()));
      for (int r = 0; r < visits_->rowCount(); ++r) {
        const records::VisitSummary& v = list[static_cast<std::size_t>(r)];
        visits_->setItem(r, 0, cell(dateOf(v.start), v.id));
        visits_->setItem(r, 1, cell(plain(v.port)));
        visits_->setItem(r, 2, cell(v.mileage ? tr("%1 km").arg(*v.mileage) : QString()));
        visits_->setItem(r, 3, cell(faultsText(v.faults)));
        visits_->setItem(r, 4, cell(QString::number(v.tests)));
      }
      fitColumns(visits_);
    }
  }
  for (QWidget* w : {static_cast<QWidget*>(name_), static_cast<QWidget*>(registration_),
                     static_cast<QWidget*>(owner_), static_cast<QWidget*>(notes_),
                     static_cast<QWidget*>(merge_), static_cast<QWidget*>(forget_)})
    w->setEnabled(b.has_value());
  save_->setEnabled(keepEdits);
  if (visits_->rowCount() > 0)
    visits_->selectRow(0);
  else
    visitChosen();
}

void RecordsWindow::visitChosen() {
  details_->clear();
  comparison_->clear();
  tabs_->setCurrentWidget(details_);
  const qint64 id = selectedVisit();
  const std::optional<records::Visit> v = id && store_ ? store_->visit(id) : std::nullopt;
  compare_->setEnabled(v && store_->previousVisit(id) != 0);
  report_->setEnabled(v.has_value());
  if (!v) return;

  QTreeWidgetItem* about = section(details_, tr("Visit"));
  const auto fact = [about](const QString& k, const QString& value) { node(about, {k, value}); };
  fact(tr("Start"), dateOf(v->begun.start, true));
  fact(tr("End"), v->end.msSinceEpoch ? dateOf(v->end, true)
                                      : tr("not ended (still connected, or the program stopped)"));
  fact(tr("Port"), plain(v->begun.port));
  fact(tr("Adapter"), plain(v->begun.adapter));
  fact(tr("ECU type"), plain(v->begun.ecu));
  fact(tr("Iso code"), plain(v->key.isoCode));
  fact(tr("Identification"), plain(v->key.identification));
  fact(tr("Calibration"), plain(v->key.calibration));
  if (!v->begun.identityTrusted)
    fact(tr("Identification read"), tr("not trustworthy: the line carried bytes nobody asked for"));
  fact(tr("Program version"), plain(v->begun.version));
  fact(tr("Mileage"), v->mileage ? tr("%1 km").arg(*v->mileage) : tr("not given"));

  QTreeWidgetItem* reads = section(details_, tr("Readouts"));
  if (v->readouts.empty()) node(reads, {tr("None in this visit")});
  for (const records::ReadoutRecord& r : v->readouts) {
    QString title = tr("%1, %2").arg(kindTitle(r.readout.kind, r.readout.code),
                                     QString::fromStdString(records::FormatWallTime(r.at, false)));
    auto* head = node(
        reads, {title, r.readout.trusted ? QString()
                                         : tr("not trustworthy: the line babbled while it read")});
    head->setExpanded(true);
    for (std::size_t i = 0; i < r.readout.lines.size(); ++i) {
      const bool fault = i < r.readout.fault.size() && r.readout.fault[i];
      auto* line = node(head, {plain(r.readout.lines[i]), fault ? tr("fault") : QString()});
      markFault(line, fault, r.readout.trusted, style());
    }
    if (r.readout.kind == kline::ReadoutKind::Faults && r.readout.faultStored &&
        !r.readout.anyFaultLine())
      markFault(node(head, {tr("The fault bytes name a fault that no line shows"), tr("fault")}),
                true, r.readout.trusted, style());
  }

  QTreeWidgetItem* tests = section(details_, tr("Tests"));
  if (v->tests.empty()) node(tests, {tr("None in this visit")});
  for (const records::TestRecord& t : v->tests)
    node(tests, {plain(t.name), verdictText(t)})
        ->setForeground(
            1, t.verdict == kline::ev::Verdict::Passed ? QColor(0, 96, 0) : QColor(150, 0, 0));

  if (!v->changes.empty()) {
    QTreeWidgetItem* changes = section(details_, tr("Trimmer and CO regulation"));
    for (const records::ChangeRecord& c : v->changes) {
      const bool trimmer = c.setting == records::Setting::Trimmer;
      const auto value = [trimmer](int x) {
        return x < 0     ? tr("unknown")
               : trimmer ? QString::fromStdString(kline::TrimmerSetText(x))
               : x       ? tr("on")
                         : tr("off");
      };
      node(changes, {trimmer ? tr("Trimmer") : tr("CO regulation"),
                     tr("%1 \u2192 %2 at %3")
                         .arg(value(c.before), value(c.after),
                              QString::fromStdString(records::FormatWallTime(c.at, false)))});
    }
  }

  QTreeWidgetItem* channels = section(details_, tr("Live channels (min / max / mean)"));
  if (v->channels.empty()) node(channels, {tr("No completed live cycle")});
  for (const records::ChannelSummary& c : v->channels)
    node(channels, {channelName(c.name, c.unit),
                    tr("%1 / %2 / %3 over %4 cycles")
                        .arg(plain(c.minText), plain(c.maxText), plain(c.meanText))
                        .arg(c.count)});

  if (!v->files.empty()) {
    QTreeWidgetItem* files = section(details_, tr("Files"));
    for (const records::FileRecord& f : v->files)
      node(files, {f.kind == records::FileKind::Recording ? tr("Recording")
                   : f.kind == records::FileKind::Report  ? tr("Report")
                                                          : tr("Log"),
                   plain(f.path)});
  }
  details_->resizeColumnToContents(0);
}

void RecordsWindow::compareWithPrevious() {
  const qint64 id = selectedVisit();
  if (!id || !store_) return;
  const int64_t before = store_->previousVisit(id);
  const std::optional<records::Visit> newer = store_->visit(id);
  const std::optional<records::Visit> older = before ? store_->visit(before) : std::nullopt;
  if (!newer || !older) {
    say(tr("This is the bike's first visit: nothing to compare with"));
    return;
  }
  showComparison(records::Compare(*older, *newer), *older, *newer);
}

void RecordsWindow::showComparison(const records::Comparison& c, const records::Visit& older,
                                   const records::Visit& newer) {
  comparison_->clear();
  auto* when = new QTreeWidgetItem(
      comparison_, {tr("Date"), dateOf(older.begun.start), dateOf(newer.begun.start)});
  QFont bold = when->font(0);
  bold.setBold(true);
  when->setFont(0, bold);
  QTreeWidgetItem* faults = section(comparison_, tr("Faults"));
  if (!c.faultsReadBoth) node(faults, {tr("The faults were not read on both visits")});
  const auto lines = [&](const std::vector<std::string>& list, const QString& was,
                         const QString& is, bool faultNow) {
    for (const std::string& l : list) {
      auto* it = node(faults, {plain(l), was, is});
      markFault(it, faultNow, true, style());
    }
  };
  lines(c.appeared, tr("\u2013"), tr("appeared"), true);
  lines(c.cleared, tr("fault"), tr("cleared"), false);
  lines(c.stayed, tr("fault"), tr("stayed"), true);
  if (c.faultsReadBoth && c.appeared.empty() && c.cleared.empty() && c.stayed.empty())
    node(faults, {tr("No fault on either visit")});

  QTreeWidgetItem* trimmer = section(comparison_, tr("Trimmer"));
  const auto value = [](int x) {
    return x < 0 ? tr("not set") : QString::fromStdString(kline::TrimmerSetText(x));
  };
  // A visit that set no trimmer says nothing of where it stood: only two settings make a move.
  const bool both = c.trimmerOlder >= 0 && c.trimmerNewer >= 0;
  node(trimmer, {!both                              ? tr("set in one visit")
                 : c.trimmerOlder == c.trimmerNewer ? tr("not moved")
                                                    : tr("moved"),
                 value(c.trimmerOlder), value(c.trimmerNewer)});

  QTreeWidgetItem* channels = section(comparison_, tr("Channel means"));
  if (c.channels.empty()) node(channels, {tr("No live values on either visit")});
  const auto mean = [](const std::optional<double>& m) {
    return m ? QString::fromStdString(records::NumberText(*m)) : tr("\u2013");
  };
  for (const records::Comparison::Channel& ch : c.channels)
    node(channels, {channelName(ch.name, ch.unit), mean(ch.older), mean(ch.newer)});
  // The last column takes the rest of the width.
  for (int c = 0; c + 1 < comparison_->columnCount(); ++c) comparison_->resizeColumnToContents(c);
  tabs_->setCurrentWidget(comparison_);
}

bool RecordsWindow::writeReport(const QString& pdfPath) {
  const qint64 id = selectedVisit();
  const std::optional<records::Visit> v = id && store_ ? store_->visit(id) : std::nullopt;
  if (!v) return false;
  kline::SessionReport report;
  records::FillReport(*v, report, store_->bike(v->bike));
  const QString why = WriteSessionReport(report, pdfPath, qtTime(v->begun.start));
  if (!why.isEmpty()) {
    say(why, true);
    return false;
  }
  say(tr("Report written to %1 and %2")
          .arg(QDir::toNativeSeparators(pdfPath),
               QDir::toNativeSeparators(ReportHtmlPath(pdfPath))));
  return true;
}

bool RecordsWindow::hasUnsavedEdits() const {
  return shownBike_ != 0 && save_->isEnabled();
}

bool RecordsWindow::saveDetails() {
  const qint64 id = shownBike_;
  if (!id || !store_) return false;
  const records::BikeDetails d{name_->text().toStdString(), registration_->text().toStdString(),
                               owner_->text().toStdString(), notes_->toPlainText().toStdString()};
  if (!store_->setDetails(id, d)) {
    say(tr("Not saved: %1").arg(QString::fromStdString(store_->error())), true);
    return false;
  }
  save_->setEnabled(false);
  say(tr("Saved"));
  refresh();
  return true;
}

void RecordsWindow::closeEvent(QCloseEvent* e) {
  if (closingAnswered_ || !isVisible() || !hasUnsavedEdits()) {
    closingAnswered_ = false;
    QWidget::closeEvent(e);
    return;
  }
  // Typed details are not dropped unasked. The window has a Save button, so a close does not
  // save on its own: the user may have typed into the wrong bike.
  e->ignore();
  askBeforeClosing();
}

void RecordsWindow::askBeforeClosing() {
  if (ask_) {
    ask_->raise();
    return;
  }
  const QString who = name_->text().isEmpty() ? tr("this bike") : name_->text();
  auto* box = new QMessageBox(QMessageBox::Question, windowTitle(),
                              tr("Save the details of %1 before closing?").arg(who),
                              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box->setObjectName(QStringLiteral("recordsUnsaved"));
  box->setTextFormat(Qt::PlainText);
  box->setInformativeText(tr("The name, registration, owner or notes were changed."));
  box->setDefaultButton(QMessageBox::Save);
  box->setEscapeButton(QMessageBox::Cancel);
  box->setAttribute(Qt::WA_DeleteOnClose);
  ask_ = box;
  connect(box, &QMessageBox::finished, this, [this, box] {
    ask_ = nullptr;
    const QMessageBox::StandardButton answer = box->standardButton(box->clickedButton());
    bool closed = false;
    if (answer == QMessageBox::Discard) {
      // The fields show the records again at the next opening.
      save_->setEnabled(false);
      bikeChosen();
      closed = true;
    } else if (answer == QMessageBox::Save) {
      closed = saveDetails();
    }
    if (closed) {
      closingAnswered_ = true;
      close();
    }
    emit closeAnswered(closed);
  });
  box->open();
}

void RecordsWindow::sameBike() {
  const qint64 id = selectedBike();
  if (!id || !store_) return;
  std::vector<records::Bike> others;
  for (records::Bike& b : store_->bikes())
    if (b.id != id) others.push_back(std::move(b));
  if (others.empty()) {
    say(tr("There is no other bike in the records"));
    return;
  }
  const std::optional<qint64> into = chooseSameBike_ ? chooseSameBike_(others) : std::nullopt;
  if (!into) return;
  const std::optional<records::Bike> target = store_->bike(*into);
  if (!target) return;
  const QString question =
      tr("Move every visit of \u201c%1\u201d to \u201c%2\u201d and remove \u201c%1\u201d from "
         "the records?")
          .arg(name_->text().isEmpty() ? bikes_->item(bikes_->currentRow(), 2)->text()
                                       : name_->text(),
               plain(target->details.name.empty() ? target->key.identification
                                                  : target->details.name));
  if (!confirm_ || !confirm_(question)) return;
  if (!store_->merge(id, *into)) {
    say(tr("Not merged: %1").arg(QString::fromStdString(store_->error())), true);
    return;
  }
  say(tr("Merged"));
  fillBikes();
  selectBike(*into);
}

void RecordsWindow::forget() {
  const qint64 id = selectedBike();
  if (!id || !store_) return;
  const QString who =
      name_->text().isEmpty() ? bikes_->item(bikes_->currentRow(), 2)->text() : name_->text();
  const QString question =
      tr("Delete \u201c%1\u201d and its %2 visits from the records? This cannot be undone.")
          .arg(who)
          .arg(visits_->rowCount());
  if (!confirm_ || !confirm_(question)) return;
  if (!store_->forget(id)) {
    say(tr("Not deleted: %1").arg(QString::fromStdString(store_->error())), true);
    return;
  }
  say(tr("Deleted %1 and its visits").arg(who));
  refresh();
}
