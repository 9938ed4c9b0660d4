#include "gui/widgets/rpmbarwidget.h"

#include <QPainter>

#include "ui/controlmodel.h"

RpmBarWidget::RpmBarWidget(QWidget* parent) : QWidget(parent) {
  for (int i = 0; i < kSegments; ++i)
    colours_[static_cast<std::size_t>(i)] = i % 10 == 0 ? kline::kSysScrollBars : kline::kSysUnlit;
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RpmBarWidget::setSegmentColour(int index, uint32_t colour) {
  if (index < 0 || index >= kSegments) return;
  colours_[static_cast<std::size_t>(index)] = colour;
  update();
}

void RpmBarWidget::clearReading() {
  for (uint32_t& c : colours_)
    if (c == kline::kSysLit) c = kline::kSysUnlit;
  update();
}

void RpmBarWidget::setStale(bool stale) {
  if (stale == stale_) return;
  stale_ = stale;
  update();
}

int RpmBarWidget::litSegments() const {
  int n = 0;
  for (uint32_t c : colours_) n += c == kline::kSysLit ? 1 : 0;
  return n;
}

QColor RpmBarWidget::resolve(uint32_t colour) const {
  switch (colour) {
    case kline::kSysLit:
      // Stale: still readable, but plainly not the live black.
      return palette().color(stale_ ? QPalette::Dark : QPalette::WindowText);
    case kline::kSysUnlit:
      return palette().color(QPalette::Midlight);
    case kline::kSysScrollBars:
      return palette().color(QPalette::Mid);
    default:
      return QColor((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
  }
}

void RpmBarWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const double step = (width() - 4) / static_cast<double>(kSegments);
  const int h = height() - 2;
  for (int i = 0; i < kSegments; ++i) {
    // Thousands are long and thick, half thousands a little longer than the rest.
    const bool thousand = i % 10 == 9;
    const bool half = i % 10 == 4;
    const int len = thousand ? h : half ? h * 4 / 5 : h * 2 / 3;
    const double w = std::max(1.0, step * (thousand ? 0.8 : 0.45));
    QRectF r(2 + i * step, 1 + (h - len), w, len);
    p.fillRect(r, resolve(colours_[static_cast<std::size_t>(i)]));
  }
}
