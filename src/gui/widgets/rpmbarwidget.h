#pragma once

#include <QWidget>
#include <array>
#include <cstdint>

// The engine-speed bar: 120 vertical segments of 100 tr/m each, coloured one by one by the logic.
// Segment colours are 0xRRGGBB or one of the system-colour roles, drawn from the palette.
class RpmBarWidget : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSegments = 120;
  explicit RpmBarWidget(QWidget* parent = nullptr);

  void setSegmentColour(int index, uint32_t colour);
  uint32_t segmentColour(int index) const { return colours_.at(static_cast<std::size_t>(index)); }
  // Segments drawn in the lit colour.
  int litSegments() const;
  // No reading to show (a new connection): every lit segment goes out. The logic lights them
  // again at its next engine speed.
  void clearReading();
  // A stale bar shows an engine speed that is no longer being read: its lit segments are greyed.
  void setStale(bool stale);
  bool isStale() const { return stale_; }

  QSize sizeHint() const override { return {kSegments * 3 + 4, 34}; }
  QSize minimumSizeHint() const override { return {kSegments * 2 + 4, 28}; }

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  QColor resolve(uint32_t colour) const;
  std::array<uint32_t, kSegments> colours_{};
  bool stale_ = false;
};
