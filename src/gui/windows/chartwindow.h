#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "gui/session/session.h"
#include "livedata/chartmodel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;
class Session;

// The live chart: a strip per channel that has a value (stacked, one time axis), its name and
// unit, the latest value beside it. It observes the session's completed cycles and sends
// nothing. The history is kept whole in a ChartModel and drawn decimated to the strips' width
// at most ten times a second. It scrolls through the last 60 s by default (10 s to 10 min);
// pause freezes the view while the cycles still come in. The wheel zooms around the mouse, a
// left drag zooms to the dragged stretch, a right drag pans while paused, a double click goes
// back to the whole window. "Open recording…" shows a CSV recording in the same strips, with a
// cursor that reads every channel at the time under the mouse; a recording with more channels
// than ChartModel::kMaxRecordingChannels shows the first ones and the status line says how many
// were left out. Names from a file are shown as plain text, never as markup. Each Connect starts
// the live history afresh: another ECU (or another bike) may be on the line.
class ChartWindow : public QWidget {
  Q_OBJECT

 public:
  // With a session, its completed cycles feed the chart.
  explicit ChartWindow(Session* session = nullptr, QWidget* parent = nullptr);
  ~ChartWindow() override;
  // Takes the size it opens at on a screen with this much room (the primary one's at start).
  void fitTo(const QSize& available);

  // The model on screen: the live one, or the recording's while one is open.
  const kline::ChartModel& model() const;
  const kline::ChartModel& liveModel() const { return live_; }
  // Feeds the live model directly (benchmarks).
  kline::ChartModel& liveModelForFeeding() { return live_; }
  bool showingRecording() const { return recording_ != nullptr; }

  // The strip of the channel on screen (built on first use) and its check box.
  QWidget* strip(int channel);
  QCheckBox* channelBox(int channel);
  QLabel* valueLabel(int channel);
  QLabel* statusLine() const { return status_; }
  QWidget* plotArea() const { return plots_; }
  // The visible stretch in ms of the model's time.
  double viewStart() const { return view0_; }
  double viewEnd() const { return view1_; }
  bool isPaused() const;
  // How many frames the strips have drawn.
  int framesDrawn() const { return frames_; }

  // Where "Open recording…" and "Export PNG…" ask for their file; file dialogs unless replaced.
  // An empty answer cancels.
  void setPathChooser(std::function<QString(bool save)> chooser) {
    choosePath_ = std::move(chooser);
  }

 public slots:
  // One completed live cycle: the ms since connect and the nine values.
  void addCycle(quint32 ms, const kline::LiveValues& values);
  // Shows a recording instead of the live values; false (and the reason in the status line)
  // when it cannot be read.
  bool openRecording(const QString& path);
  // Back to the live values.
  void showLive();
  // A new connection starts: the live values of the one before go (a recording on screen stays).
  void startConnection();
  void setPaused(bool paused);
  // The whole history at once (paused while live).
  void showAll();
  // The visible span when scrolling live, in seconds.
  void setSpanSeconds(int seconds);
  bool exportPng(const QString& path);
  // Draws now from the model (the timer calls it when something changed).
  void redraw();

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  class StripView;
  struct Strip;
  friend class StripView;

  void buildStrips();
  void updateVisibility();
  void setView(double t0, double t1, bool follow);
  void zoomAround(double t, double factor);
  void panBy(double dt);
  void resetView();
  void showCursor(double t);
  void hideCursor();
  void setStatus(const QString& text);
  QString valueText(std::size_t channel, float v) const;

  kline::ChartModel live_;
  std::unique_ptr<kline::ChartModel> recording_;
  QString recordingName_;
  uint32_t liveOffset_ = 0;  // keeps live time rising across reconnections

  std::vector<std::unique_ptr<Strip>> strips_;
  std::vector<QCheckBox*> boxes_;
  QWidget* plots_ = nullptr;
  QVBoxLayout* plotLayout_ = nullptr;
  QWidget* boxPanel_ = nullptr;
  QVBoxLayout* boxLayout_ = nullptr;
  QComboBox* span_ = nullptr;
  QPushButton* pause_ = nullptr;
  QPushButton* liveButton_ = nullptr;
  QLabel* status_ = nullptr;
  QTimer* timer_ = nullptr;
  bool built_ = false;
  bool dirty_ = true;
  bool follow_ = true;  // the view ends at the newest point
  double spanMs_ = 60000;
  double view0_ = 0, view1_ = 60000;
  int frames_ = 0;
  bool cursorShown_ = false;
  std::function<QString(bool save)> choosePath_;
};
