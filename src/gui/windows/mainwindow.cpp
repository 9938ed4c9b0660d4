#include "gui/windows/mainwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <utility>

#include "connection/ecutypes.h"
#include "gui/dialogs/actionasker.h"
#include "gui/dialogs/connectchecklistdialog.h"
#include "gui/dialogs/dialogfolder.h"
#include "gui/dialogs/logsaver.h"
#include "gui/dialogs/reportwriter.h"
#include "gui/dialogs/supportbundlesaver.h"
#include "gui/session/session.h"
#include "gui/widgets/faultpanel.h"
#include "gui/widgets/lampwidget.h"
#include "gui/widgets/linkstateview.h"
#include "gui/widgets/numberfield.h"
#include "gui/widgets/portchooser.h"
#include "gui/widgets/portlock.h"
#include "gui/widgets/rpmbarwidget.h"
#include "gui/widgets/spacewrapview.h"
#include "gui/widgets/statusnote.h"
#include "gui/widgets/widgetbinder.h"
#include "gui/windows/chartwindow.h"
#include "gui/windows/controlhelp.h"
#include "gui/windows/form1window.h"
#include "gui/windows/form3window.h"
#include "gui/windows/recordsmenu.h"
#include "gui/windows/recordswindow.h"
#include "platform/programabout.h"
#include "records/recordstore.h"
#include "records/visitreport.h"
#include "session/sessionreport.h"
#include "ui/eventsink.h"

namespace {

const char* const kForm2 = "Form2";

QString indexed(const char* base, int i) {
  return QStringLiteral("%1(%2)").arg(base).arg(i);
}

// Texts of the logic end lines with CR LF; the widgets want LF.

}  // namespace

MainWindow::MainWindow(Session& session, QWidget* parent)
    : QMainWindow(parent),
      session_(session),
      binder_(new WidgetBinder(session, QString::fromLatin1(kForm2), this)) {
  setWindowTitle(QStringLiteral("klinediag"));
  buildUi();
  connect(&session_, &Session::controlSet, this, &MainWindow::applySet);
  connect(&session_, &Session::logLine, this, &MainWindow::appendLog);
  // A remark about the port passes; the link's own line stays underneath.
  connect(&session_, &Session::notice, this,
          [this](const QString& text) { statusnote::show(statusBar(), text); });
  connect(&session_, &Session::clipboardRequested, this, [](const QString& text) {
    QClipboard* cb = QGuiApplication::clipboard();
    cb->clear();
    cb->setText(text);
  });
  buildLinkView();
  buildRecorder();
  buildFaultsAndReport();
  records_ = new RecordsMenu(session_, menuBar(), statusBar(), faults_, this);
  connect(records_->window(), &RecordsWindow::closeAnswered, this, [this](bool closed) {
    if (std::exchange(closeAfterRecords_, false) && closed)
      QTimer::singleShot(0, this, &QWidget::close);
  });
  buildShortcuts();
  buildHelp();
  addWindow(std::make_unique<Form1Window>(session_, this));
  addWindow(std::make_unique<Form3Window>(session_, this));
  asker_ = new ActionAsker(*this, session_);
  new PortLock(session_,
               {{chooser_, tr("Disconnect first: the port of a running session cannot change")},
                {findChild<QPushButton*>(QStringLiteral("checkAdapter")),
                 tr("Disconnect first: the adapter is checked on a port no session holds")}},
               this);
}

MainWindow::~MainWindow() = default;

LogSaver* MainWindow::logSaver(const QString& win) const {
  if (win == QLatin1String(kForm2)) return logSaver_;
  auto it = windows_.find(win);
  return it == windows_.end() ? nullptr : it->second->logSaver();
}

void MainWindow::addWindow(std::unique_ptr<ModelWindow> w) {
  QString name = w->windowName();
  connect(w->logSaver(), &LogSaver::failed, this, [this](const QString& why) {
    statusnote::show(statusBar(), why, statusnote::Kind::Error);
  });
  windows_[name] = std::move(w);
}

void MainWindow::setGate(const QString& ctl, WidgetBinder::Gate gate, const QString& win) {
  if (win == binder_->window()) {
    binder_->setGate(ctl, std::move(gate));
    return;
  }
  auto it = windows_.find(win);
  if (it != windows_.end()) it->second->setGate(ctl, std::move(gate));
}

QWidget* MainWindow::modelWindow(const QString& name) const {
  if (name == QLatin1String(kForm2)) return const_cast<MainWindow*>(this);
  auto it = windows_.find(name);
  return it == windows_.end() ? nullptr : it->second.get();
}

void MainWindow::bind(const QString& name, QWidget* w) {
  binder_->bind(name, w);
}

void MainWindow::bindAction(const QString& name, QAction* a) {
  binder_->bindAction(name, a);
}

QWidget* MainWindow::control(const QString& name, const QString& win) const {
  return win == binder_->window() ? binder_->control(name) : nullptr;
}

QAction* MainWindow::menuAction(const QString& name, const QString& win) const {
  return win == binder_->window() ? binder_->action(name) : nullptr;
}

QWidget* MainWindow::textField(const QString& name, bool readOnly) {
  return binder_->textField(name, readOnly);
}

QWidget* MainWindow::numberField(const QString& name, int min, int max, const QString& what) {
  NumberField* guard = binder_->numberField(name, min, max, what);
  connect(guard, &NumberField::refused, this, [this](const QString& why) {
    statusnote::show(statusBar(), why, statusnote::Kind::Error);
  });
  return guard->edit();
}

QWidget* MainWindow::checkBox(const QString& name) {
  return binder_->checkBox(name);
}

QWidget* MainWindow::option(const QString& name) {
  QRadioButton* r = binder_->option(name);
  // As wide as its caption: a click beside it would land on nothing.
  r->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
  return r;
}

QWidget* MainWindow::button(const QString& name, bool checkable) {
  return binder_->button(name, checkable);
}

QLabel* MainWindow::label(const QString& name) {
  return binder_->label(name);
}

void MainWindow::buildMenus() {
  // Menus: top-level entries that act when clicked.
  bindAction(QStringLiteral("test"), menuBar()->addAction(QString()));
  bindAction(QStringLiteral("Diag"), menuBar()->addAction(QString()));
  bindAction(QStringLiteral("debug"), menuBar()->addAction(QString()));
  chart_ = std::make_unique<ChartWindow>(&session_);
  connect(menuBar()->addAction(tr("Chart")), &QAction::triggered, this, [this] {
    chart_->show();
    chart_->raise();
    chart_->activateWindow();
  });
}

QGroupBox* MainWindow::connectionBox() {
  // Connection: port, the connect toggle, the lamp and the status caption.
  auto* connBox = new QGroupBox(tr("Connection"));
  auto* connGrid = new QGridLayout(connBox);
  auto* comLabel = new QLabel(tr("Com"));
  QWidget* com = textField(QStringLiteral("Text6"));
  com->setMinimumWidth(com->fontMetrics().horizontalAdvance(QStringLiteral("/dev/ttyUSB0")) + 12);
  comLabel->setBuddy(com);
  QWidget* connect = button(QStringLiteral("Check2"), true);
  connect->setMinimumWidth(100);
  auto* lamp = new LampWidget;
  bind(QStringLiteral("Shape1"), lamp);
  chooser_ = new PortChooser(qobject_cast<QLineEdit*>(com));
  QObject::connect(chooser_, &PortChooser::chosen, this,
                   [this](const QString& text) { binder_->typed(QStringLiteral("Text6"), text); });
  auto* check = new QPushButton(tr("Check adapter"));
  check->setObjectName(QStringLiteral("checkAdapter"));
  QObject::connect(check, &QPushButton::clicked, this, [this, com] {
    statusnote::show(statusBar(), tr("Checking the adapter\u2026"));
    session_.checkAdapter(qobject_cast<QLineEdit*>(com)->text());
  });
  // The checklist's own check shows its findings there.
  checklist_ = new ConnectChecklistDialog(session_, this);
  QObject::connect(checklist_, &ConnectChecklistDialog::closedByAnswer, this, [this] {
    statusnote::show(statusBar(), tr("The ECU answers: the checklist is closed"));
  });
  QObject::connect(&session_, &Session::adapterChecked, this,
                   [this](bool ok, const QStringList& lines) {
                     if (!checklist_->takeAdapterCheck(ok, lines)) showAdapterCheck(ok, lines);
                   });
  auto* comRow = new QHBoxLayout;
  comRow->setSpacing(2);
  comRow->addWidget(com, 1);
  comRow->addWidget(chooser_);

  connGrid->addWidget(comLabel, 0, 0);
  connGrid->addLayout(comRow, 0, 1);
  connGrid->addWidget(connect, 0, 2);
  connGrid->addWidget(lamp, 0, 3);
  QLabel* status = label(QStringLiteral("Label4"));
  status->setMinimumWidth(160);
  // What to do first, until the first Connect: where the link's caption will be, which is
  // empty until then.
  firstHint_ = new QLabel(tr("Press Connect (F5)"));
  firstHint_->setObjectName(QStringLiteral("firstConnectHint"));
  firstHint_->setStyleSheet(QStringLiteral("font-weight: bold"));
  connGrid->addWidget(status, 1, 0, 1, 2);
  connGrid->addWidget(firstHint_, 1, 0, 1, 2);
  connGrid->addWidget(check, 1, 2, 1, 2);
  connGrid->setColumnStretch(1, 1);

  return connBox;
}

QGroupBox* MainWindow::ecuTypeBox() {
  // ECU type.
  auto* typeBox = new QGroupBox;
  bind(QStringLiteral("Frame1"), typeBox);
  auto* typeGrid = new QGridLayout(typeBox);
  const auto types = kline::EcuTypes();
  for (int i = 0; i < static_cast<int>(types.size()); ++i)
    typeGrid->addWidget(option(QString::fromLatin1(types[static_cast<std::size_t>(i)].option)),
                        i / 3, i % 3);

  return typeBox;
}

QGroupBox* MainWindow::readoutBox() {
  // Readouts.
  auto* readBox = new QGroupBox(tr("Readout"));
  auto* readGrid = new QGridLayout(readBox);
  readGrid->addWidget(checkBox(QStringLiteral("Check3")), 0, 0);
  readGrid->addWidget(button(QStringLiteral("Command6")), 0, 1);
  readGrid->addWidget(checkBox(QStringLiteral("Check4")), 1, 0);
  readGrid->addWidget(button(QStringLiteral("Command7")), 1, 1);

  return readBox;
}

QGroupBox* MainWindow::timingBox() {
  // Timing fields.
  auto* timingBox = new QGroupBox(tr("Timing (ms)"));
  auto* timing = new QGridLayout(timingBox);
  // Ranges outside which a value can only be a slip of the keyboard.
  const struct {
    const char* name;
    const char* caption;
    int min;
    int max;
  } fields[] = {{"Text5", "pause", 0, 1000},
                {"Text2", "refresh time", 1, 32767},
                {"Text11", "inter byte delay", 0, 1000},
                {"Text7", "timeout", 0, 10000}};
  // Two to a row, to keep the column short.
  int at = 0;
  for (const auto& f : fields) {
    const QString name = QString::fromLatin1(f.name);
    QWidget* w =
        numberField(name, f.min, f.max, controlhelp::what(QString::fromLatin1(kForm2), name));
    w->setMaximumWidth(60);
    auto* caption = new QLabel(tr(f.caption));
    caption->setBuddy(w);
    timing->addWidget(caption, at / 2, (at % 2) * 2);
    timing->addWidget(w, at / 2, (at % 2) * 2 + 1);
    ++at;
  }

  return timingBox;
}

QGroupBox* MainWindow::liveBox() {
  // Live channels: toggle, value, unit.
  auto* liveBox = new QGroupBox(tr("Live data"));
  auto* liveGrid = new QGridLayout(liveBox);
  liveGrid->setVerticalSpacing(2);
  for (int i = 0; i < 9; ++i) {
    liveGrid->addWidget(checkBox(indexed("Check1", i)), i, 0);
    auto* v = qobject_cast<QLineEdit*>(textField(indexed("Text1", i), true));
    v->setAlignment(Qt::AlignRight);
    v->setMaximumWidth(90);
    liveGrid->addWidget(v, i, 1);
    liveGrid->addWidget(label(indexed("Label3", i)), i, 2);
  }
  auto* sensor = qobject_cast<QLineEdit*>(textField(QStringLiteral("Text1(9)"), true));
  sensor->setAlignment(Qt::AlignRight);
  sensor->setMaximumWidth(90);
  // The 15Rc's throttle sensor voltage has no box of its own: a caption says what it is, seen
  // when the field is.
  sensorCaption_ = new QLabel(tr("throttle sensor"));
  sensorCaption_->setObjectName(QStringLiteral("throttleSensorCaption"));
  sensorCaption_->setBuddy(sensor);
  sensorCaption_->setVisible(!sensor->isHidden());
  sensorField_ = sensor;
  sensor->installEventFilter(this);
  liveGrid->addWidget(sensorCaption_, 9, 0);
  liveGrid->addWidget(sensor, 9, 1);
  liveGrid->addWidget(label(QStringLiteral("Label9")), 9, 2);
  liveGrid->addWidget(new QLabel(tr("weight")), 10, 0);
  auto* weight = qobject_cast<QLineEdit*>(textField(QStringLiteral("Text3"), true));
  weight->setAlignment(Qt::AlignRight);
  weight->setMaximumWidth(90);
  liveGrid->addWidget(weight, 10, 1);
  liveGrid->setColumnStretch(2, 1);

  // Scales of the throttle and trimmer readings, and the single-step buttons.
  auto* scales = new QHBoxLayout;
  const struct {
    const char* frame;
    const char* a;
    const char* b;
  } scaleFrames[] = {{"Frame5", "Option3", "Option4"}, {"Frame6", "Option6", "Option5"}};
  for (const auto& sf : scaleFrames) {
    auto* box = new QGroupBox;
    bind(QString::fromLatin1(sf.frame), box);
    auto* row = new QHBoxLayout(box);
    row->addWidget(option(QString::fromLatin1(sf.a)));
    row->addWidget(option(QString::fromLatin1(sf.b)));
    scales->addWidget(box);
  }
  liveGrid->addLayout(scales, 11, 0, 1, 3);
  auto* steps = new QHBoxLayout;
  steps->addWidget(record_ = new QPushButton(tr("Record\u2026")));
  QWidget* cycle = button(QStringLiteral("Command10"));
  QWidget* sensor1 = button(QStringLiteral("Command5"));
  steps->addWidget(cycle);
  steps->addWidget(sensor1);
  steps->addStretch(1);
  liveGrid->addLayout(steps, 12, 0, 1, 3);
  liveGrid->setRowStretch(13, 1);

  return liveBox;
}

QGroupBox* MainWindow::rpmBox() {
  const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  // Engine speed: scale, bar of 120 segments, large readout.
  auto* rpmBox = new QGroupBox(tr("Engine speed (x1000 tr/m)"));
  // The scale over the bar, the large readout beside them.
  auto* rpmLayout = new QGridLayout(rpmBox);
  rpmLayout->setVerticalSpacing(0);
  QLabel* scale = label(QStringLiteral("Label25"));
  scale->setFont(mono);
  rpmLayout->addWidget(scale, 0, 0);
  auto* rpmBar = new RpmBarWidget;
  rpmBar->setObjectName(QStringLiteral("Line1"));
  for (int i = 0; i < RpmBarWidget::kSegments; ++i) binder_->bind(indexed("Line1", i), rpmBar, i);
  rpmLayout->addWidget(rpmBar, 1, 0);
  QLabel* readout = label(QStringLiteral("Label26"));
  QFont big = readout->font();
  big.setPointSizeF(big.pointSizeF() * 2.2);
  big.setBold(true);
  readout->setFont(big);
  readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  readout->setMinimumHeight(readout->fontMetrics().height() + 4);
  readout->setMinimumWidth(readout->fontMetrics().horizontalAdvance(QStringLiteral("00000")));
  rpmLayout->addWidget(readout, 0, 1, 2, 1);
  rpmLayout->setColumnStretch(0, 1);

  return rpmBox;
}

QGroupBox* MainWindow::infoBox() {
  const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  // ECU info pane with the buttons that act on the session's texts.
  auto* infoBox = new QGroupBox(tr("ECU info"));
  auto* infoLayout = new QVBoxLayout(infoBox);
  auto* info = new QPlainTextEdit;
  info->setReadOnly(true);
  info->setFont(mono);
  info->setLineWrapMode(QPlainTextEdit::NoWrap);
  info->setMinimumWidth(info->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 30);
  // The iso code, the identification and the calibration without scrolling.
  info->setMinimumHeight(info->fontMetrics().lineSpacing() * 5 +
                         static_cast<int>(info->document()->documentMargin()) * 2 +
                         info->frameWidth() * 2);
  bind(QStringLiteral("Text4"), info);
  info_ = info;
  infoLayout->addWidget(info);
  auto* infoButtons = new QHBoxLayout;
  infoButtons->addWidget(button(QStringLiteral("Command1")));
  infoButtons->addWidget(button(QStringLiteral("Command11")));
  infoButtons->addWidget(button(QStringLiteral("Command2")));
  infoButtons->addWidget(button(QStringLiteral("Command3")));
  infoButtons->addStretch(1);
  infoLayout->addLayout(infoButtons);

  return infoBox;
}

QGroupBox* MainWindow::testBox() {
  // Actuator tests: the list of the selected ECU type, the hint, the verdict and the seconds
  // waited.
  auto* testBox = new QGroupBox;
  bind(QStringLiteral("Frame2"), testBox);
  auto* testLayout = new QGridLayout(testBox);
  testLayout->addWidget(testList(), 0, 0, 3, 1);
  QLabel* hint = label(QStringLiteral("Label6"));
  hint->setAlignment(Qt::AlignCenter);
  testLayout->addWidget(hint, 0, 1);
  QLabel* verdict = label(QStringLiteral("Label5"));
  QFont verdictFont = verdict->font();
  verdictFont.setPointSizeF(verdictFont.pointSizeF() * 1.5);
  verdictFont.setBold(true);
  verdict->setFont(verdictFont);
  verdict->setAlignment(Qt::AlignCenter);
  verdict->setMinimumWidth(verdict->fontMetrics().horizontalAdvance(QStringLiteral("Erreur")) + 8);
  testLayout->addWidget(verdict, 1, 1);
  auto* progress = new QProgressBar;
  progress->setRange(0, 30);
  progress->setValue(0);
  progress->setTextVisible(false);
  bind(QStringLiteral("Pg1"), progress);
  testLayout->addWidget(progress, 3, 0, 1, 2);
  testLayout->setColumnStretch(0, 1);
  testLayout->setRowStretch(2, 1);

  return testBox;
}

QWidget* MainWindow::logArea() {
  const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  // The log pane takes the spare room.
  auto* logBox = new QGroupBox(tr("Log"));
  auto* logLayout = new QVBoxLayout(logBox);
  log_ = new QPlainTextEdit;
  log_->setReadOnly(true);
  log_->setFont(mono);
  log_->setLineWrapMode(QPlainTextEdit::NoWrap);
  log_->setObjectName(QStringLiteral("Rtb1"));
  logLayout->addWidget(log_);
  auto* logButtons = new QHBoxLayout;
  logButtons->addWidget(saveLog_ = new QPushButton(tr("Save log\u2026")));
  logButtons->addWidget(reportButton_ = new QPushButton(tr("Report\u2026")));
  logButtons->addStretch(1);
  logLayout->addLayout(logButtons);

  // The latest fault and immobiliser readouts beside the log.
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(logBox, 3);
  bottom->addWidget(faults_ = new FaultPanel, 2);

  auto* logs = new QWidget;
  logs->setLayout(bottom);
  bottom->setContentsMargins(0, 0, 0, 0);

  return logs;
}

void MainWindow::buildUi() {
  buildMenus();
  auto* left = new QVBoxLayout;
  left->addWidget(connectionBox());
  left->addWidget(ecuTypeBox());
  left->addWidget(readoutBox());
  left->addWidget(timingBox());
  left->addStretch(1);

  // Made in the order of the keyboard's focus.
  QGroupBox* live = liveBox();
  QGroupBox* rpm = rpmBox();
  QGroupBox* info = infoBox();
  QGroupBox* tests = testBox();
  auto* middle = new QVBoxLayout;
  middle->addWidget(live, 1);

  auto* right = new QVBoxLayout;
  right->addWidget(info, 2);
  right->addWidget(rpm);
  right->addWidget(tests, 1);

  auto* controls = new QWidget;
  auto* columns = new QHBoxLayout(controls);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->addLayout(left);
  columns->addLayout(middle);
  columns->addLayout(right, 1);
  QWidget* logs = logArea();

  // The controls above, the log and the faults below, the border between them movable. On a
  // small screen (or a large scale factor) the controls scroll rather than leave the window.
  controlsArea_ = new QScrollArea;
  controlsArea_->setObjectName(QStringLiteral("controlsArea"));
  controlsArea_->setWidget(controls);
  controlsArea_->setWidgetResizable(true);
  controlsArea_->setFrameShape(QFrame::NoFrame);
  splitter_ = new QSplitter(Qt::Vertical);
  splitter_->setObjectName(QStringLiteral("mainSplitter"));
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(controlsArea_);
  splitter_->addWidget(logs);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  logs->setMinimumHeight(90);
  QObject::connect(splitter_, &QSplitter::splitterMoved, this, [this] { splitterMoved_ = true; });
  // The controls' height changes as their texts and fonts arrive, the room with the window.
  controls->installEventFilter(this);
  splitter_->installEventFilter(this);

  auto* central = new QWidget;
  auto* outer = new QVBoxLayout(central);
  outer->addWidget(splitter_);
  setCentralWidget(central);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    fitTo(screen->availableGeometry().size());
}

void MainWindow::fitTo(const QSize& available) {
  // Wide enough for the three columns, tall enough for a log of a dozen lines; never more
  // than the screen has room for, frame and panel included.
  QWidget* controls = controlsArea_->widget();
  const QSize want(std::max(1160, controls->sizeHint().width() + 40),
                   controls->minimumSizeHint().height() + 320);
  resize(want.boundedTo(available - QSize(40, 110)));
}

void MainWindow::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  placeSplitter();
}

void MainWindow::placeSplitter() {
  // The controls get what they need, the log pane the rest, but at least a few lines: below
  // that the controls scroll. Once the user has moved the border, it stays where they put it.
  if (splitterMoved_) return;
  const int room = splitter_->height() - splitter_->handleWidth();
  const int need = controlsArea_->widget()->minimumSizeHint().height();
  const int top = std::clamp(room - 120, std::min(need, room / 2), need);
  QSignalBlocker quiet(splitter_);
  splitter_->setSizes({top, room - top});
}

void MainWindow::applySet(const QString& win, const QString& ctl, int prop, const QVariant& value) {
  // The control named like the window is the window itself: the logic hides this one while
  // another stands in for it.
  if (win == QLatin1String(kForm2) && ctl == QLatin1String(kForm2)) {
    if (static_cast<kline::Prop>(prop) == kline::Prop::Visible) setVisible(value.toBool());
    return;
  }
  if (win != binder_->window()) return;
  using kline::Prop;
  const auto p = static_cast<Prop>(prop);
  if (p == Prop::Colour) {
    QWidget* w = binder_->control(ctl);
    if (auto* lamp = qobject_cast<LampWidget*>(w))
      lamp->setRgb(value.toInt());
    else if (auto* bar = qobject_cast<RpmBarWidget*>(w))
      bar->setSegmentColour(binder_->index(ctl), static_cast<uint32_t>(value.toInt()));
    return;
  }
  if (p == Prop::Enabled && (ctl == QLatin1String("test") || ctl == QLatin1String("Diag"))) {
    logicEnables_[ctl] = value.toBool();
    applyMenuLink(ctl);
    return;
  }
  binder_->apply(ctl, p, value);
  if (p == Prop::Items && ctl == QLatin1String("List1")) {
    auto* list = qobject_cast<QListWidget*>(binder_->control(ctl));
    for (int i = 0; i < list->count(); ++i)
      list->item(i)->setToolTip(controlhelp::testEntryToolTip(list->item(i)->text()));
  }
}

void MainWindow::applyMenuLink(const QString& ctl) {
  // The logic enables the menus at every tick once the link was made; a lost port makes them
  // useless (their windows talk to nothing), so they wait for Disconnect, then Connect.
  const bool lost =
      link_ && static_cast<kline::LinkState>(link_->state()) == kline::LinkState::Lost;
  binder_->apply(ctl, kline::Prop::Enabled, logicEnables_.value(ctl) && !lost);
}

void MainWindow::appendLog(const QString& win, const QString& line) {
  if (win != QLatin1String(kForm2)) return;
  ControlRenderer::appendLogLine(log_, line);
}

QWidget* MainWindow::testList() {
  auto* list = new QListWidget;
  bind(QStringLiteral("List1"), list);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  // Seven entries without a scroll bar.
  const int rows = 7;
  list->setMinimumHeight(list->fontMetrics().height() * rows + 2 * list->frameWidth() + 10);
  list->setMinimumWidth(list->fontMetrics().horizontalAdvance(QStringLiteral("86 rev Counter")) +
                        24);
  // A click on an entry runs its test, also on the entry already selected.
  connect(list, &QListWidget::itemClicked, this, [this, list](QListWidgetItem* item) {
    binder_->choose(list->objectName(), list->row(item));
  });
  return list;
}

void MainWindow::showAdapterCheck(bool ok, const QStringList& lines) {
  statusBar()->clearMessage();
  auto* box = new QDialog(this);
  box->setObjectName(QStringLiteral("adapterCheckResult"));
  box->setWindowTitle(tr("Adapter check"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(box);
  auto* verdict = new QLabel(ok ? tr("The adapter echoes at both rates.")
                                : tr("The adapter did not pass the check."));
  QFont bold = verdict->font();
  bold.setBold(true);
  verdict->setFont(bold);
  layout->addWidget(verdict);
  // The lines name ports, files and commands: shown as text in a fixed-width font, wrapped at
  // spaces only, so that a path or a command is never cut in two.
  auto* view = new SpaceWrapView;
  view->setObjectName(QStringLiteral("adapterCheckLines"));
  view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view->setLines(lines);
  layout->addWidget(view, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, box, &QDialog::close);
  layout->addWidget(buttons);
  // Ninety columns where the screen has them; the lines' height, at most the screen's.
  const QRect room = (screen() ? screen() : QGuiApplication::primaryScreen())->availableGeometry();
  const QFontMetrics fm(view->font());
  const int width = std::min(fm.horizontalAdvance(QLatin1Char('M')) * 90 + 60, room.width() - 40);
  const int height = std::min(fm.lineSpacing() * (static_cast<int>(lines.size()) * 2 + 2) + 120,
                              room.height() - 80);
  box->resize(width, std::max(height, 200));
  box->open();
}

void MainWindow::buildShortcuts() {
  // The captions are the logic's and stay as they are: the keys are told in the tooltips
  // (controlhelp.cpp).
  const struct {
    const char* name;
    QKeySequence key;
  } keys[] = {{"Check2", QKeySequence(Qt::Key_F5)},
              {"Command11", QKeySequence(Qt::Key_F6)},
              {"Command6", QKeySequence(Qt::Key_F7)},
              {"Command7", QKeySequence(Qt::Key_F8)}};
  // Function keys: the text fields keep every Ctrl key they use for editing.
  for (const auto& k : keys) {
    auto* b = qobject_cast<QAbstractButton*>(control(QString::fromLatin1(k.name)));
    if (!b) continue;
    // A shortcut of its own: the button's would be replaced whenever its caption is set.
    auto* s = new QShortcut(k.key, this);
    QObject::connect(s, &QShortcut::activated, b, [this, b] {
      if (b->isEnabled() && b->isVisible()) b->animateClick();
      if (b->objectName() != QLatin1String("Check2")) explainIfLost();
    });
    if (b->objectName() != QLatin1String("Check2"))
      connect(b, &QAbstractButton::clicked, this, &MainWindow::explainIfLost);
  }
  const struct {
    const char* name;
    QKeySequence key;
  } menus[] = {{"test", QKeySequence(Qt::CTRL | Qt::Key_T)},
               {"Diag", QKeySequence(Qt::CTRL | Qt::Key_G)}};
  for (const auto& m : menus) {
    QAction* a = menuAction(QString::fromLatin1(m.name));
    a->setShortcut(m.key);
    connect(a, &QAction::triggered, this, &MainWindow::explainIfLost);
  }

  // The test list: Tab reaches it, the arrows choose, Enter runs the chosen test.
  auto* list = qobject_cast<QListWidget*>(control(QStringLiteral("List1")));
  list->setFocusPolicy(Qt::StrongFocus);
  for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
    auto* enter = new QShortcut(QKeySequence(key), list, nullptr, nullptr, Qt::WidgetShortcut);
    connect(enter, &QShortcut::activated, this, [this, list] {
      if (list->currentRow() >= 0) binder_->choose(list->objectName(), list->currentRow());
    });
  }
}

void MainWindow::buildHelp() {
  // Every control says what it does: one table gives the tooltips and the help's list.
  controlhelp::apply(QString::fromLatin1(kForm2), this);
  QMenu* help = menuBar()->addMenu(tr("Help"));
  QAction* controls = help->addAction(tr("Controls of this window\u2026"));
  controls->setObjectName(QStringLiteral("helpControls"));
  controls->setShortcut(QKeySequence(Qt::Key_F1));
  connect(controls, &QAction::triggered, this,
          [this] { controlhelp::showDialog(QString::fromLatin1(kForm2), this); });
  help->addAction(QWhatsThis::createAction(this));
  help->addSeparator();
  // The program's version and what it runs on, for a report of a problem.
  QAction* about = help->addAction(tr("About klinediag\u2026"));
  about->setObjectName(QStringLiteral("helpAbout"));
  about->setStatusTip(tr("The program's version, build and the system it runs on"));
  connect(about, &QAction::triggered, this, &MainWindow::showAbout);
  // What the program saw, in one archive for whoever helps the user.
  bundleSaver_ = new SupportBundleSaver(session_, this);
  QAction* bundle = help->addAction(tr("Save support bundle\u2026"));
  bundle->setObjectName(QStringLiteral("saveSupportBundle"));
  bundle->setToolTip(
      tr("One zip archive of the version, system, ports, last adapter check, "
         "settings, the three logs and the last ten minutes of events"));
  connect(bundle, &QAction::triggered, bundleSaver_, &SupportBundleSaver::save);
  connect(bundleSaver_, &SupportBundleSaver::saved, this, [this](const QString& path) {
    statusnote::show(statusBar(),
                     tr("Support bundle saved to %1").arg(QDir::toNativeSeparators(path)));
  });
  connect(bundleSaver_, &SupportBundleSaver::failed, this, [this](const QString& why) {
    auto* box =
        new QMessageBox(QMessageBox::Warning, tr("Support bundle"), why, QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  });
}

void MainWindow::showAbout() {
  if (auto* open = findChild<QMessageBox*>(QStringLiteral("aboutBox"))) {
    open->raise();
    return;
  }
  auto* box =
      new QMessageBox(QMessageBox::Information, tr("About klinediag"),
                      tr("klinediag %1").arg(QStringLiteral(KLINE_VERSION)), QMessageBox::Ok, this);
  box->setObjectName(QStringLiteral("aboutBox"));
  box->setTextFormat(Qt::PlainText);
  // One fact a line, as a support bundle has them; selectable for a message.
  box->setInformativeText(QString::fromStdString(kline::ProgramAbout("klinediag"))
                              .section(QLatin1Char('\n'), 1)
                              .trimmed());
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

QStringList MainWindow::controlNames() const {
  return binder_->names();
}

void MainWindow::explainIfLost() {
  if (static_cast<kline::LinkState>(link_->state()) != kline::LinkState::Lost) return;
  statusnote::show(
      statusBar(),
      tr("Nothing reaches the ECU: %1. Press Disconnect, then Connect.").arg(link_->text()),
      statusnote::Kind::Error);
}

void MainWindow::closeEvent(QCloseEvent* e) {
  // The other windows belong to this one: closing it ends the session and closes them all. The
  // records window first asks about edits not saved; cancelled there, nothing closes, and once
  // it has closed after the question this one closes too.
  if (records_ && !records_->window()->close()) {
    closeAfterRecords_ = true;
    e->ignore();
    return;
  }
  if (chart_) chart_->close();
  for (auto& [name, w] : windows_) w->hide();
  QMainWindow::closeEvent(e);
}

void MainWindow::buildLinkView() {
  LinkStateView::Widgets w;
  w.statusBar = statusBar();
  w.lamp = qobject_cast<LampWidget*>(control(QStringLiteral("Shape1")));
  w.status = qobject_cast<QLabel*>(control(QStringLiteral("Label4")));
  w.readout = qobject_cast<QLabel*>(control(QStringLiteral("Label26")));
  w.bar = findChild<RpmBarWidget*>(QStringLiteral("Line1"));
  for (int i = 0; i < 10; ++i) w.values << control(indexed("Text1", i));
  link_ = new LinkStateView(session_, w, this);
  connect(&session_, &Session::linkChanged, this, [this] {
    for (const QString& menu : {QStringLiteral("test"), QStringLiteral("Diag")})
      applyMenuLink(menu);
  });
}

void MainWindow::buildRecorder() {
  record_->setObjectName(QStringLiteral("record"));
  record_->setCheckable(true);
  recordStatus_ = new QLabel;
  recordStatus_->setTextFormat(Qt::PlainText);
  recordStatus_->setObjectName(QStringLiteral("recordStatus"));
  statusBar()->addPermanentWidget(recordStatus_);
  chooseRecordPath_ = [this] {
    return QFileDialog::getSaveFileName(this, tr("Record live values"), suggestedRecordPath(),
                                        tr("CSV files (*.csv);;All files (*)"));
  };
  connect(record_, &QPushButton::toggled, this, &MainWindow::recordToggled);
  connect(&session_, &Session::recordingStarted, this, [this](const QString& path) {
    recordName_ = QFileInfo(path).fileName();
    recordStatus_->setText(tr("Recording to %1: 0 rows").arg(recordName_));
  });
  connect(&session_, &Session::recordingRows, this, [this](int rows) {
    recordStatus_->setText(tr("Recording to %1: %2 rows").arg(recordName_).arg(rows));
  });
  connect(&session_, &Session::recordingStopped, this, [this](const QString& path, int rows) {
    recordStatus_->setText(tr("Recorded %1 rows to %2")
                               .arg(rows)
                               .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())));
  });
  connect(&session_, &Session::recordingFailed, this, [this](const QString& why) {
    const QString text = tr("Recording failed: %1").arg(why);
    recordStatus_->setText(text);
    statusnote::show(statusBar(), text, statusnote::Kind::Error);
    QSignalBlocker block(record_);
    record_->setChecked(false);
  });
}

QString MainWindow::suggestedRecordPath() const {
  QString ecu = QString::fromLatin1(kline::DefaultEcuType().label);
  for (const kline::EcuTypeInfo& t : kline::EcuTypes()) {
    auto* option = qobject_cast<QRadioButton*>(control(QString::fromLatin1(t.option)));
    if (option && option->isChecked()) ecu = QString::fromLatin1(t.label);
  }
  const QString name =
      QStringLiteral("klinediag-%1-%2.csv")
          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")), ecu);
  return InDialogFolder(name);
}

void MainWindow::recordToggled(bool on) {
  if (!on) {
    session_.stopRecording();
    return;
  }
  QString path = chooseRecordPath_ ? chooseRecordPath_() : QString();
  if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".csv");
  if (path.isEmpty()) {
    QSignalBlocker block(record_);
    record_->setChecked(false);
    return;
  }
  recordStatus_->setText(tr("Opening %1\u2026").arg(QFileInfo(path).fileName()));
  session_.startRecording(path);
}

void MainWindow::buildFaultsAndReport() {
  // Save log: the logic's own text of the pane.
  saveLog_->setObjectName(QStringLiteral("saveLog"));
  logSaver_ = new LogSaver(session_, QString::fromLatin1(kForm2), this);
  connect(saveLog_, &QPushButton::clicked, logSaver_, &LogSaver::save);
  connect(logSaver_, &LogSaver::saved, this, [this](const QString& path) {
    statusnote::show(statusBar(), tr("Log saved to %1").arg(QDir::toNativeSeparators(path)));
  });
  connect(logSaver_, &LogSaver::failed, this, [this](const QString& why) {
    statusnote::show(statusBar(), why, statusnote::Kind::Error);
  });

  // The faults panel and the report observe what the session publishes; they never ask it.
  report_ = std::make_unique<kline::SessionReport>([] {
    return QDateTime::currentDateTime()
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        .toStdString();
  });
  connect(&session_, &Session::sessionEvent, this, [this](const kline::SessionEvent& e) {
    report_->onEvent(e);
    if (std::holds_alternative<kline::ev::Connecting>(e)) {
      // What the panel, the engine-speed readout and the verdict show belongs to the connection
      // before. The readout is the logic's, which writes it only with a new engine speed: until
      // then it is shown empty rather than with another ECU's.
      faults_->startConnection();
      if (auto* readout = qobject_cast<QLabel*>(control(QStringLiteral("Label26"))))
        readout->clear();
      if (auto* bar = findChild<RpmBarWidget*>(QStringLiteral("Line1"))) bar->clearReading();
      LinkStateView::setStale(control(QStringLiteral("Label5")), true);
      LinkStateView::setStale(info_, false);
      info_->setToolTip(controlhelp::what(QString::fromLatin1(kForm2), QStringLiteral("Text4")));
      firstHint_->hide();
    } else if (const auto* id = std::get_if<kline::ev::EcuIdentified>(&e); id && !id->trusted) {
      // The pane holds what the logic read; it is only shown as doubtful.
      LinkStateView::setStale(info_, true);
      info_->setToolTip(
          tr("Not trustworthy: read while the line carried bytes nobody asked for "
             "(another device on the K-line, or the wrong adapter or rate)"));
    } else if (const auto* t = std::get_if<kline::ev::TestStarted>(&e); t && t->window == "Form2") {
      LinkStateView::setStale(control(QStringLiteral("Label5")), false);
    }
  });
  connect(&session_, &Session::faultReadout, this,
          [this](int kind, const QStringList& lines, const QList<bool>& faults, bool stored,
                 bool trusted) {
            faults_->showReadout(kind, lines, faults, stored, QDateTime::currentDateTime(),
                                 trusted);
          });

  reportButton_->setObjectName(QStringLiteral("report"));
  chooseReportPath_ = [this] {
    const QString name =
        QStringLiteral("klinediag-report-%1.pdf")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    return QFileDialog::getSaveFileName(this, tr("Session report"), InDialogFolder(name),
                                        tr("PDF files (*.pdf);;All files (*)"));
  };
  connect(reportButton_, &QPushButton::clicked, this, [this] {
    QString path = chooseReportPath_ ? chooseReportPath_() : QString();
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pdf");
    writeReport(path);
  });
}

bool MainWindow::writeReport(const QString& pdfPath) {
  // The bike as the records know it now (its name may have been typed since the visit began).
  report_->setBike(
      kline::records::ReportBikeOf(records_->path().toStdString(), records_->reportVisit()));
  const QString why = WriteSessionReport(*report_, pdfPath);
  if (!why.isEmpty()) {
    statusnote::show(statusBar(), why, statusnote::Kind::Error);
    return false;
  }
  session_.noteRecordsFile(static_cast<int>(kline::records::FileKind::Report), pdfPath);
  statusnote::show(statusBar(), tr("Report written to %1 and %2")
                                    .arg(QDir::toNativeSeparators(pdfPath),
                                         QDir::toNativeSeparators(ReportHtmlPath(pdfPath))));
  return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
  if (watched == sensorField_) {
    if (e->type() == QEvent::ShowToParent || e->type() == QEvent::HideToParent)
      sensorCaption_->setVisible(e->type() == QEvent::ShowToParent);
    return false;
  }
  const bool controlsChanged =
      watched == controlsArea_->widget() && e->type() == QEvent::LayoutRequest;
  const bool roomChanged = watched == splitter_ && e->type() == QEvent::Resize;
  if ((controlsChanged || roomChanged) && isVisible())
    QTimer::singleShot(0, this, &MainWindow::placeSplitter);
  return QMainWindow::eventFilter(watched, e);
}
