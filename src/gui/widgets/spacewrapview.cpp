#include "gui/widgets/spacewrapview.h"

#include <QFontMetrics>
#include <QMimeData>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

SpaceWrapView::SpaceWrapView(QWidget* parent) : QTextEdit(parent) {
  setReadOnly(true);
  setAcceptRichText(false);
  // The wrapping is ours: a row ends only where a line separator stands for a space.
  setLineWrapMode(QTextEdit::NoWrap);
}

void SpaceWrapView::setLines(const QStringList& lines) {
  lines_ = lines;
  wrappedFor_ = -1;
  rewrap();
}

QStringList SpaceWrapView::shownRows() const {
  return document()->toPlainText().split(QLatin1Char('\n'));
}

QStringList SpaceWrapView::WrapAtSpaces(const QString& line, int width, const QFontMetrics& fm) {
  QStringList rows;
  QString row;
  const QStringList words = line.split(QLatin1Char(' '));
  for (int i = 0; i < words.size(); ++i) {
    if (i == 0) {
      row = words[i];
      continue;
    }
    const QString longer = row + QLatin1Char(' ') + words[i];
    if (fm.horizontalAdvance(longer) <= width || row.isEmpty()) {
      // An empty row stands for spaces in a row: they stay together with the next word.
      row = longer;
    } else {
      rows << row;
      row = words[i];
    }
  }
  rows << row;
  return rows;
}

void SpaceWrapView::resizeEvent(QResizeEvent* e) {
  QTextEdit::resizeEvent(e);
  rewrap();
}

void SpaceWrapView::rewrap() {
  // Room for the vertical scroll bar is kept even while it is hidden: the wrapping may bring it.
  int width = viewport()->width() - 2 * static_cast<int>(document()->documentMargin()) - 2;
  if (!verticalScrollBar()->isVisible()) width -= style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  if (width == wrappedFor_) return;
  wrappedFor_ = width;
  const QFontMetrics fm(font());
  // A hanging indent: the rows that go on a line stand under its first's text.
  const int indent = fm.horizontalAdvance(QStringLiteral("    "));
  QTextBlockFormat hanging;
  hanging.setLeftMargin(indent);
  hanging.setTextIndent(-indent);
  const int at = verticalScrollBar()->value();
  clear();
  QTextCursor c(document());
  for (int i = 0; i < lines_.size(); ++i) {
    if (i > 0) c.insertBlock();
    c.setBlockFormat(hanging);
    c.insertText(
        WrapAtSpaces(lines_[i], std::max(width - indent, 1), fm).join(QChar(QChar::LineSeparator)));
  }
  verticalScrollBar()->setValue(at);
}

QMimeData* SpaceWrapView::createMimeDataFromSelection() const {
  // The breaks of the wrapping were spaces; the lines' ends are line ends.
  QString text = textCursor().selectedText();
  text.replace(QChar(QChar::LineSeparator), QLatin1Char(' '));
  text.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
  auto* data = new QMimeData;
  data->setText(text);
  return data;
}
