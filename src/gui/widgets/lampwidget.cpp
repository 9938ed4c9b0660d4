#include "gui/widgets/lampwidget.h"

#include <QPainter>

LampWidget::LampWidget(QWidget* parent) : QWidget(parent), colour_(Qt::gray) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LampWidget::setRgb(int rgb) {
  colour_ = QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
  set_ = true;
  update();
}

void LampWidget::clearColour() {
  colour_ = Qt::gray;
  set_ = false;
  update();
}

void LampWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  int d = qMin(width(), height()) - 2;
  QRectF r((width() - d) / 2.0, (height() - d) / 2.0, d, d);
  p.setPen(QPen(palette().color(QPalette::WindowText), 1));
  p.setBrush(colour_);
  p.drawEllipse(r);
}
