#include "gui/windows/chartwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRubberBand>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "gui/dialogs/dialogfolder.h"
#include "gui/session/session.h"
#include "livedata/numbers.h"
#include "livedata/recording.h"

namespace {

constexpr int kRedrawMs = 100;    // at most ten frames a second
constexpr int kMaxSegments = 64;  // curve pieces between gaps per strip; later ones join the last
constexpr double kMinSpanMs = 1000;

const std::array<QColor, 9> kColors = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
    QColor(0x94, 0x67, 0xbd), QColor(0xff, 0x7f, 0x0e), QColor(0x8c, 0x56, 0x4b),
    QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf), QColor(0x7f, 0x7f, 0x7f)};

struct SpanChoice {
  const char* text;
  int seconds;
};
constexpr SpanChoice kSpans[] = {{"10 s", 10},   {"30 s", 30},   {"1 min", 60},
                                 {"2 min", 120}, {"5 min", 300}, {"10 min", 600}};

}  // namespace

// A strip's chart view: the mouse zooms, pans and moves the cursor of the whole window.
class ChartWindow::StripView : public QChartView {
 public:
  StripView(ChartWindow* owner, QChart* chart) : QChartView(chart), owner_(owner) {
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setRubberBand(QChartView::NoRubberBand);
    setFocusPolicy(Qt::ClickFocus);
  }
  double timeAt(double px) const { return chart()->mapToValue(QPointF(px, 0)).x() * 1000.0; }
  // The same plot area left and right in every strip, so that their times line up; room for
  // the time axis' labels under the lowest one.
  void setTimeLabels(bool on) {
    bottom_ = on ? 52 : 10;
    setMinimumHeight(on ? 104 : 52);
    placePlot();
  }
  void placePlot() {
    const QSizeF size = chart()->size();
    chart()->setPlotArea(QRectF(kLeft, 10, std::max(10.0, size.width() - kLeft - kRight),
                                std::max(10.0, size.height() - 10 - bottom_)));
    // The axes and their grid follow only a new layout.
    chart()->layout()->invalidate();
  }

 protected:
  void resizeEvent(QResizeEvent* e) override {
    QChartView::resizeEvent(e);
    placePlot();
  }
  void wheelEvent(QWheelEvent* e) override {
    const double notches = e->angleDelta().y() / 120.0;
    if (notches == 0) return;
    owner_->zoomAround(timeAt(e->position().x()), std::pow(0.8, notches));
    e->accept();
  }
  void mousePressEvent(QMouseEvent* e) override {
    const double x = e->position().x();
    if (e->button() == Qt::LeftButton) {
      bandStart_ = static_cast<int>(x);
      if (!band_) band_ = new QRubberBand(QRubberBand::Rectangle, viewport());
      const QRectF plot = chart()->plotArea();
      band_->setGeometry(
          QRect(bandStart_, static_cast<int>(plot.top()), 0, static_cast<int>(plot.height())));
      band_->show();
    } else if (e->button() == Qt::RightButton && owner_->isPaused()) {
      panFrom_ = x;
      panning_ = true;
    }
    e->accept();
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    const double x = e->position().x();
    if (band_ && band_->isVisible()) {
      const QRectF plot = chart()->plotArea();
      const int a = std::min(bandStart_, static_cast<int>(x));
      band_->setGeometry(QRect(a, static_cast<int>(plot.top()),
                               std::abs(static_cast<int>(x) - bandStart_),
                               static_cast<int>(plot.height())));
    } else if (panning_) {
      owner_->panBy(timeAt(panFrom_) - timeAt(x));
      panFrom_ = x;
    }
    if (chart()->plotArea().contains(QPointF(x, chart()->plotArea().center().y())))
      owner_->showCursor(timeAt(x));
    else
      owner_->hideCursor();
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && band_ && band_->isVisible()) {
      band_->hide();
      const double a = timeAt(bandStart_), b = timeAt(e->position().x());
      if (std::abs(e->position().x() - bandStart_) >= 4)
        owner_->setView(std::min(a, b), std::max(a, b), false);
    }
    panning_ = false;
    e->accept();
  }
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    owner_->resetView();
    e->accept();
  }
  void leaveEvent(QEvent* e) override {
    owner_->hideCursor();
    QChartView::leaveEvent(e);
  }

 private:
  static constexpr double kLeft = 64;   // the value axis' labels
  static constexpr double kRight = 20;  // half the time axis' last label
  ChartWindow* owner_;
  double bottom_ = 10;
  QRubberBand* band_ = nullptr;
  int bandStart_ = 0;
  double panFrom_ = 0;
  bool panning_ = false;
};

struct ChartWindow::Strip {
  QWidget* row = nullptr;
  StripView* view = nullptr;
  QChart* chart = nullptr;
  QValueAxis* x = nullptr;
  QValueAxis* y = nullptr;
  std::vector<QLineSeries*> series;
  QLabel* name = nullptr;
  QLabel* value = nullptr;
  QGraphicsLineItem* cursor = nullptr;
  QColor color;
  double rawLo = 0, rawHi = 0;
  int timeLabels = -1;  // whether the time axis' labels are under this strip (-1: not yet set)  //
                        // the value range before rounding to nice numbers
};

ChartWindow::ChartWindow(Session* session, QWidget* parent) : QWidget(parent) {
  setWindowTitle(tr("Chart"));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    fitTo(screen->availableGeometry().size());

  auto* top = new QHBoxLayout;
  span_ = new QComboBox;
  for (const auto& s : kSpans) span_->addItem(QString::fromUtf8(s.text), s.seconds);
  span_->setCurrentIndex(2);
  span_->setToolTip(tr("The stretch of time shown while the chart scrolls"));
  pause_ = new QPushButton(tr("Pause"));
  pause_->setCheckable(true);
  liveButton_ = new QPushButton(tr("Live"));
  liveButton_->setEnabled(false);
  liveButton_->setToolTip(tr("Back to the live values"));
  auto* open = new QPushButton(tr("Open recording…"));
  auto* png = new QPushButton(tr("Export PNG…"));
  top->addWidget(new QLabel(tr("Window")));
  top->addWidget(span_);
  top->addWidget(pause_);
  top->addWidget(liveButton_);
  top->addStretch(1);
  top->addWidget(open);
  top->addWidget(png);

  boxPanel_ = new QWidget;
  boxLayout_ = new QVBoxLayout(boxPanel_);
  boxLayout_->setContentsMargins(0, 0, 0, 0);
  plots_ = new QWidget;
  plotLayout_ = new QVBoxLayout(plots_);
  plotLayout_->setContentsMargins(0, 0, 0, 0);
  plotLayout_->setSpacing(0);
  // More strips than the window has room for scroll, each keeping a legible height.
  auto* plotArea = new QScrollArea;
  plotArea->setObjectName(QStringLiteral("plotArea"));
  plotArea->setWidget(plots_);
  plotArea->setWidgetResizable(true);
  plotArea->setFrameShape(QFrame::NoFrame);
  plotArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  auto* middle = new QHBoxLayout;
  middle->addWidget(boxPanel_, 0, Qt::AlignTop);
  middle->addWidget(plotArea, 1);

  // It shows file names and column names: as they are, never as markup.
  status_ = new QLabel;
  status_->setTextFormat(Qt::PlainText);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* outer = new QVBoxLayout(this);
  outer->addLayout(top);
  outer->addLayout(middle, 1);
  outer->addWidget(status_);

  connect(span_, &QComboBox::currentIndexChanged, this,
          [this](int i) { setSpanSeconds(span_->itemData(i).toInt()); });
  connect(pause_, &QPushButton::toggled, this, &ChartWindow::setPaused);
  connect(liveButton_, &QPushButton::clicked, this, &ChartWindow::showLive);
  connect(open, &QPushButton::clicked, this, [this] {
    const QString path =
        choosePath_ ? choosePath_(false)
                    : QFileDialog::getOpenFileName(this, tr("Open recording"), DialogFolder(),
                                                   tr("CSV recordings (*.csv)"));
    if (!path.isEmpty()) openRecording(path);
  });
  connect(png, &QPushButton::clicked, this, [this] {
    const QString path =
        choosePath_ ? choosePath_(true)
                    : QFileDialog::getSaveFileName(this, tr("Export PNG"),
                                                   InDialogFolder(QStringLiteral("chart.png")),
                                                   tr("PNG images (*.png)"));
    if (!path.isEmpty()) exportPng(path);
  });

  timer_ = new QTimer(this);
  timer_->setInterval(kRedrawMs);
  connect(timer_, &QTimer::timeout, this, [this] {
    if (dirty_) redraw();
  });
  if (session) {
    connect(session, &Session::liveCycle, this, &ChartWindow::addCycle);
    // No line is drawn across a time nothing was measured.
    connect(session, &Session::liveBreak, this, [this] { live_.appendGap(); });
    connect(session, &Session::sessionEvent, this, [this](const kline::SessionEvent& e) {
      if (std::holds_alternative<kline::ev::Connecting>(e)) startConnection();
    });
  }
  setStatus(tr("Waiting for live values"));
}

ChartWindow::~ChartWindow() = default;

void ChartWindow::fitTo(const QSize& available) {
  // As tall as ten strips want, but never more than the screen has room for.
  resize(QSize(1000, 860).boundedTo(available - QSize(40, 110)));
}

const kline::ChartModel& ChartWindow::model() const {
  return recording_ ? *recording_ : live_;
}

bool ChartWindow::isPaused() const {
  return recording_ || pause_->isChecked();
}

void ChartWindow::addCycle(quint32 ms, const kline::LiveValues& values) {
  // A new connection counts from zero again: its time continues after the last one's.
  if (!live_.empty() && ms + liveOffset_ < live_.lastTime())
    liveOffset_ = live_.lastTime() + 1000 - ms;
  std::array<float, kline::ChartModel::kLiveChannels> v;
  for (std::size_t i = 0; i < v.size(); ++i)
    v[i] = values[i] ? static_cast<float>(*values[i]) : std::numeric_limits<float>::quiet_NaN();
  live_.appendValues(ms + liveOffset_, v);
  if (!recording_) dirty_ = true;
}

void ChartWindow::buildStrips() {
  for (auto& s : strips_) delete s->row;
  for (auto* b : boxes_) delete b;
  strips_.clear();
  boxes_.clear();
  const kline::ChartModel& m = model();
  for (std::size_t ch = 0; ch < m.channelCount(); ++ch) {
    auto s = std::make_unique<Strip>();
    s->color = kColors[ch % kColors.size()];
    s->chart = new QChart;
    s->chart->legend()->hide();
    s->chart->setBackgroundVisible(false);
    s->chart->setPlotAreaBackgroundBrush(Qt::white);
    s->chart->setPlotAreaBackgroundVisible(true);
    s->chart->setMargins(QMargins(0, 0, 0, 0));
    s->chart->layout()->setContentsMargins(0, 0, 0, 0);
    s->x = new QValueAxis;
    s->y = new QValueAxis;
    s->x->setLabelFormat(QStringLiteral("%.5g"));
    s->x->setTickType(QValueAxis::TicksDynamic);
    s->x->setTickAnchor(0);
    s->y->setLabelFormat(QStringLiteral("%.4g"));
    s->y->setTickCount(3);
    // A short strip keeps its numbers whole rather than "…".
    s->x->setTruncateLabels(false);
    s->y->setTruncateLabels(false);
    s->chart->addAxis(s->x, Qt::AlignBottom);
    s->chart->addAxis(s->y, Qt::AlignLeft);
    s->view = new StripView(this, s->chart);
    s->view->setMinimumHeight(60);
    s->view->setBackgroundBrush(palette().window());
    s->cursor = new QGraphicsLineItem(s->chart);
    s->cursor->setPen(QPen(QColor(40, 40, 40), 1, Qt::DashLine));
    s->cursor->setZValue(100);
    s->cursor->hide();
    // The name and unit above the latest value, beside the strip.
    // Names come from the file: shown as they are, never as markup.
    s->name = new QLabel(QString::fromStdString(m.channel(ch).title()));
    s->name->setTextFormat(Qt::PlainText);
    s->value = new QLabel;
    s->value->setTextFormat(Qt::PlainText);
    s->value->setFixedWidth(180);
    s->name->setFixedWidth(180);
    s->value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    s->name->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    QFont vf = s->value->font();
    vf.setPointSizeF(vf.pointSizeF() * 1.3);
    vf.setBold(true);
    s->value->setFont(vf);
    QPalette pal = s->value->palette();
    pal.setColor(QPalette::WindowText, s->color.darker(130));
    s->value->setPalette(pal);
    s->name->setPalette(pal);
    s->row = new QWidget;
    auto* h = new QHBoxLayout(s->row);
    h->setContentsMargins(0, 0, 6, 0);
    h->addWidget(s->view, 1);
    auto* side = new QVBoxLayout;
    side->setSpacing(0);
    side->addStretch(1);
    side->addWidget(s->name);
    side->addWidget(s->value);
    side->addStretch(1);
    h->addLayout(side);
    plotLayout_->addWidget(s->row, 1);

    // A check box takes '&' for the mark of its shortcut key; doubled, it is shown as it is.
    auto* box = new QCheckBox(QString::fromStdString(m.channel(ch).title())
                                  .replace(QLatin1Char('&'), QStringLiteral("&&")));
    box->setChecked(true);
    connect(box, &QCheckBox::toggled, this, [this] {
      updateVisibility();
      redraw();
    });
    boxLayout_->addWidget(box);
    boxes_.push_back(box);
    strips_.push_back(std::move(s));
  }
  built_ = true;
  updateVisibility();
}

void ChartWindow::updateVisibility() {
  const kline::ChartModel& m = model();
  for (std::size_t ch = 0; ch < strips_.size(); ++ch) {
    const bool show = boxes_[ch]->isChecked() && m.hasValue(ch);
    // A new row is shown later by its layout unless told otherwise: tell it always.
    QWidget* row = strips_[ch]->row;
    if (row->isHidden() == show || !row->testAttribute(Qt::WA_WState_ExplicitShowHide))
      row->setVisible(show);
  }
  // The time axis' labels under the lowest strip only.
  int last = -1;
  for (std::size_t ch = 0; ch < strips_.size(); ++ch)
    if (!strips_[ch]->row->isHidden()) last = static_cast<int>(ch);
  for (std::size_t ch = 0; ch < strips_.size(); ++ch) {
    const bool labels = static_cast<int>(ch) == last;
    if (strips_[ch]->timeLabels != static_cast<int>(labels)) {
      strips_[ch]->timeLabels = labels;
      strips_[ch]->x->setLabelsVisible(labels);
      strips_[ch]->x->setTitleText(labels ? tr("time [s]") : QString());
      strips_[ch]->view->setTimeLabels(labels);
    }
  }
}

QWidget* ChartWindow::strip(int channel) {
  if (!built_) buildStrips();
  return channel >= 0 && channel < static_cast<int>(strips_.size()) ? strips_[channel]->row
                                                                    : nullptr;
}

QCheckBox* ChartWindow::channelBox(int channel) {
  if (!built_) buildStrips();
  return channel >= 0 && channel < static_cast<int>(boxes_.size()) ? boxes_[channel] : nullptr;
}

QLabel* ChartWindow::valueLabel(int channel) {
  if (!built_) buildStrips();
  return channel >= 0 && channel < static_cast<int>(strips_.size()) ? strips_[channel]->value
                                                                    : nullptr;
}

void ChartWindow::setPaused(bool paused) {
  if (pause_->isChecked() != paused) pause_->setChecked(paused);  // comes back here
  pause_->setText(paused ? tr("Resume") : tr("Pause"));
  if (!paused && !recording_) {
    follow_ = true;
  }
  dirty_ = true;
  redraw();
}

void ChartWindow::setSpanSeconds(int seconds) {
  spanMs_ = std::clamp(seconds, 10, 600) * 1000.0;
  for (int i = 0; i < span_->count(); ++i)
    if (span_->itemData(i).toInt() == seconds && span_->currentIndex() != i)
      span_->setCurrentIndex(i);
  if (follow_) {
    dirty_ = true;
    redraw();
  } else {
    const double mid = (view0_ + view1_) / 2;
    setView(mid - spanMs_ / 2, mid + spanMs_ / 2, false);
  }
}

void ChartWindow::setView(double t0, double t1, bool follow) {
  if (t1 - t0 < kMinSpanMs) {
    const double mid = (t0 + t1) / 2;
    t0 = mid - kMinSpanMs / 2;
    t1 = mid + kMinSpanMs / 2;
  }
  view0_ = t0;
  view1_ = t1;
  follow_ = follow;
  // A chosen stretch of the live values holds still: the chart is paused.
  if (!follow && !recording_ && !pause_->isChecked()) {
    pause_->blockSignals(true);
    pause_->setChecked(true);
    pause_->setText(tr("Resume"));
    pause_->blockSignals(false);
  }
  dirty_ = true;
  redraw();
}

void ChartWindow::zoomAround(double t, double factor) {
  if (follow_ && !isPaused()) {
    // Scrolling live: the wheel changes the span, the newest value stays at the right edge.
    spanMs_ = std::clamp(spanMs_ * factor, kMinSpanMs, 600000.0 * 6);
    dirty_ = true;
    redraw();
    return;
  }
  setView(t - (t - view0_) * factor, t + (view1_ - t) * factor, false);
}

void ChartWindow::panBy(double dt) {
  setView(view0_ + dt, view1_ + dt, false);
}

void ChartWindow::resetView() {
  if (recording_) {
    showAll();
    return;
  }
  spanMs_ = span_->currentData().toInt() * 1000.0;
  setPaused(false);
}

void ChartWindow::showAll() {
  const kline::ChartModel& m = model();
  setView(m.firstTime(), std::max<double>(m.lastTime(), m.firstTime() + kMinSpanMs), false);
}

void ChartWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!built_) buildStrips();
  timer_->start();
  dirty_ = true;
  QTimer::singleShot(0, this, &ChartWindow::redraw);
}

void ChartWindow::hideEvent(QHideEvent* e) {
  timer_->stop();
  QWidget::hideEvent(e);
}

void ChartWindow::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  dirty_ = true;
}

QString ChartWindow::valueText(std::size_t channel, float v) const {
  (void)channel;
  if (std::isnan(v)) return QStringLiteral("----");
  QString s = QString::number(static_cast<double>(v), 'g', 6);
  const char sep = kline::DecimalSeparator();
  if (sep != '.') s.replace(QLatin1Char('.'), QLatin1Char(sep));
  return s;
}

void ChartWindow::redraw() {
  if (!built_) return;
  dirty_ = false;
  const kline::ChartModel& m = model();
  if (follow_ && !isPaused()) {
    const double end = std::max<double>(m.lastTime(), spanMs_);
    view0_ = end - spanMs_;
    view1_ = end;
  }
  updateVisibility();
  const double t0 = view0_, t1 = view1_;
  const auto from = static_cast<uint32_t>(std::clamp(std::floor(t0), 0.0, 4294967295.0));
  const auto to = static_cast<uint32_t>(std::clamp(std::ceil(t1), 0.0, 4294967295.0));
  // Time ticks a round number of seconds apart, about six across.
  double timeStep = 1;
  for (double step : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0,
                      900.0, 1800.0, 3600.0, 7200.0, 14400.0}) {
    timeStep = step;
    if ((t1 - t0) / 1000.0 / step <= 7) break;
  }
  for (std::size_t ch = 0; ch < strips_.size(); ++ch) {
    Strip& s = *strips_[ch];
    if (s.row->isHidden()) continue;
    if (s.x->min() != t0 / 1000.0 || s.x->max() != t1 / 1000.0) {
      s.x->setRange(t0 / 1000.0, t1 / 1000.0);
      s.x->setTickInterval(timeStep);
    }
    const int columns = std::max(1, static_cast<int>(s.chart->plotArea().width()));
    const auto cols = m.decimate(ch, from, to, columns);
    std::vector<QList<QPointF>> pieces(1);
    float lo = INFINITY, hi = -INFINITY;
    const double step = (static_cast<double>(to) - from + 1) / columns;
    auto breakHere = [&] {
      if (!pieces.back().isEmpty() && static_cast<int>(pieces.size()) < kMaxSegments)
        pieces.emplace_back();
    };
    for (int c = 0; c < columns; ++c) {
      const auto& col = cols[static_cast<std::size_t>(c)];
      if (col.gapBefore) breakHere();
      if (col.hasValue()) {
        const double x = (from + (c + 0.5) * step) / 1000.0;
        auto& piece = pieces.back();
        // The extreme nearer the curve so far first, the other after it.
        const bool downFirst = !piece.isEmpty() && std::abs(piece.back().y() - col.max) <
                                                       std::abs(piece.back().y() - col.min);
        piece.append(QPointF(x, downFirst ? col.max : col.min));
        if (col.max != col.min) piece.append(QPointF(x, downFirst ? col.min : col.max));
        lo = std::min(lo, col.min);
        hi = std::max(hi, col.max);
      }
      if (col.gapAfter) breakHere();
    }
    if (pieces.back().isEmpty() && pieces.size() > 1) pieces.pop_back();
    while (s.series.size() < pieces.size()) {
      auto* series = new QLineSeries;
      series->setPen(QPen(s.color, 1.5));
      s.chart->addSeries(series);
      series->attachAxis(s.x);
      series->attachAxis(s.y);
      s.series.push_back(series);
    }
    for (std::size_t i = 0; i < s.series.size(); ++i) {
      if (i < pieces.size())
        s.series[i]->replace(pieces[i]);
      else if (s.series[i]->count() > 0)
        s.series[i]->clear();
    }
    if (lo <= hi) {
      double pad = (hi - lo) * 0.08;
      if (pad == 0) pad = std::max(1.0, std::abs(static_cast<double>(hi)) * 0.05);
      const double ylo = lo - pad, yhi = hi + pad;
      if (s.rawLo != ylo || s.rawHi != yhi) {
        s.rawLo = ylo;
        s.rawHi = yhi;
        // Three ticks a round step apart (1, 2, 2.5 or 5 times a power of ten): more do not
        // fit a strip's height.
        const double mag = std::pow(10.0, std::floor(std::log10((yhi - ylo) / 2)));
        double step = mag;
        for (int k = 0; k < 12; ++k) {
          static constexpr double kSteps[] = {1, 2, 2.5, 5};
          step = kSteps[k % 4] * mag * std::pow(10.0, k / 4);
          if (std::floor(ylo / step) * step + 2 * step >= yhi) break;
        }
        const double nlo = std::floor(ylo / step) * step;
        s.y->setRange(nlo, nlo + 2 * step);
      }
    }
    if (!cursorShown_) {
      QString text;
      if (!m.empty()) text = valueText(ch, m.points(ch).back().value);
      if (s.value->text() != text) s.value->setText(text);
    }
  }
  if (!recording_) {
    const QString text = m.empty() ? tr("Waiting for live values")
                                   : tr("%1 cycles, %2 s%3")
                                         .arg(m.size())
                                         .arg(m.lastTime() / 1000.0, 0, 'f', 1)
                                         .arg(isPaused() ? tr(" (paused)") : QString());
    if (!cursorShown_) setStatus(text);
  }
  ++frames_;
}

void ChartWindow::showCursor(double t) {
  const kline::ChartModel& m = model();
  cursorShown_ = true;
  const auto at = static_cast<uint32_t>(std::clamp(t, 0.0, 4294967295.0));
  for (std::size_t ch = 0; ch < strips_.size(); ++ch) {
    Strip& s = *strips_[ch];
    if (s.row->isHidden()) continue;
    const QRectF plot = s.chart->plotArea();
    const double x = s.chart->mapToPosition(QPointF(t / 1000.0, 0)).x();
    s.cursor->setLine(x, plot.top(), x, plot.bottom());
    s.cursor->show();
    s.value->setText(valueText(ch, m.valueAt(ch, at)));
  }
  setStatus(tr("cursor at %1 s").arg(t / 1000.0, 0, 'f', 2) +
            (recording_ ? QStringLiteral(" — ") + recordingName_ : QString()));
}

void ChartWindow::hideCursor() {
  if (!cursorShown_) return;
  cursorShown_ = false;
  for (auto& s : strips_) s->cursor->hide();
  if (recording_) setStatus(recordingName_);
  dirty_ = true;
  redraw();
}

void ChartWindow::setStatus(const QString& text) {
  if (status_->text() != text) status_->setText(text);
}

bool ChartWindow::openRecording(const QString& path) {
  const kline::Recording r = kline::ReadRecording(path.toStdString());
  if (!r.error.empty()) {
    setStatus(QFileInfo(path).fileName() + QStringLiteral(": ") + QString::fromStdString(r.error));
    return false;
  }
  recording_ = std::make_unique<kline::ChartModel>(kline::ChartModel::FromRecording(r));
  // The reader's skip line tells the rows and the first skipped one.
  recordingName_ =
      QFileInfo(path).fileName() + QStringLiteral(": ") +
      (r.skipped > 0 ? QString::fromStdString(r.skipLine()) : tr("%1 rows").arg(r.timesMs.size()));
  if (const std::size_t out = recording_->leftOut(); out > 0)
    recordingName_ +=
        (out == 1 ? tr("; 1 channel left out") : tr("; %1 channels left out").arg(out)) +
        tr(" (a chart shows the first %1)").arg(kline::ChartModel::kMaxRecordingChannels);
  liveButton_->setEnabled(true);
  pause_->setEnabled(false);
  span_->setEnabled(false);
  cursorShown_ = false;
  buildStrips();
  setStatus(recordingName_);
  resetView();
  return true;
}

void ChartWindow::showLive() {
  if (!recording_) return;
  recording_.reset();
  liveButton_->setEnabled(false);
  pause_->setEnabled(true);
  span_->setEnabled(true);
  cursorShown_ = false;
  buildStrips();
  follow_ = true;
  setPaused(false);
}

void ChartWindow::startConnection() {
  live_.clear();
  liveOffset_ = 0;
  if (recording_) return;
  cursorShown_ = false;
  follow_ = true;
  dirty_ = true;
  if (isVisible()) redraw();
}

bool ChartWindow::exportPng(const QString& path) {
  if (dirty_) redraw();
  const bool ok = plots_->grab().save(path, "PNG");
  setStatus(ok ? tr("Saved %1").arg(path) : tr("Could not save %1").arg(path));
  return ok;
}
