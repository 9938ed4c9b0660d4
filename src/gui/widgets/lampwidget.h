#pragma once

#include <QColor>
#include <QWidget>

// The connection lamp: a small round indicator, grey until a colour is set.
class LampWidget : public QWidget {
  Q_OBJECT

 public:
  explicit LampWidget(QWidget* parent = nullptr);

  // 0xRRGGBB.
  void setRgb(int rgb);
  void clearColour();
  QColor colour() const { return colour_; }
  bool hasColour() const { return set_; }

  QSize sizeHint() const override { return {20, 20}; }
  QSize minimumSizeHint() const override { return {14, 14}; }

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  QColor colour_;
  bool set_ = false;
};
