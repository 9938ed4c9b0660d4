#pragma once

#include <QString>
#include <QStringList>
#include <QTextEdit>

class QFontMetrics;

// A read-only text area for findings that name paths and commands: its lines are wrapped at
// spaces only, so a path, a command or a hyphenated word is never split (the usual line breaking
// also breaks after "/" and "-"); a word wider than the area scrolls sideways instead. A copy
// gives the lines as they were, without the breaks the wrapping made. The rows that go on a line
// are indented under its first. GUI thread only.
class SpaceWrapView : public QTextEdit {
  Q_OBJECT

 public:
  explicit SpaceWrapView(QWidget* parent = nullptr);

  void setLines(const QStringList& lines);
  const QStringList& lines() const { return lines_; }
  // The lines as shown, one entry per row on screen.
  QStringList shownRows() const;

  // `line` cut at spaces into pieces no wider than `width` pixels in `fm` (each break takes the
  // place of one space); a word wider than that is a piece of its own, whole.
  static QStringList WrapAtSpaces(const QString& line, int width, const QFontMetrics& fm);

 protected:
  void resizeEvent(QResizeEvent* e) override;
  QMimeData* createMimeDataFromSelection() const override;

 private:
  void rewrap();
  QStringList lines_;
  int wrappedFor_ = -1;
};
