#include "gui/windows/controlrenderer.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <climits>

QString ControlRenderer::escapeMnemonic(const QString& s) {
  QString out = s;
  out.replace(QLatin1Char('&'), QLatin1String("&&"));
  return out;
}

QString ControlRenderer::plainToolTip(const QString& s) {
  return s.isEmpty() ? s : Qt::convertFromPlainText(s, Qt::WhiteSpaceNormal);
}

void ControlRenderer::scrollToEnd(QPlainTextEdit* e) {
  e->verticalScrollBar()->setValue(e->verticalScrollBar()->maximum());
}

void ControlRenderer::appendLogLine(QPlainTextEdit* e, const QString& line, std::size_t limit) {
  const int max = static_cast<int>(std::min<std::size_t>(limit, INT_MAX));
  if (e->maximumBlockCount() != max) e->setMaximumBlockCount(max);
  // The pane follows the start of the lines unless the user has scrolled it sideways: a long
  // line must not leave the start of every later one hidden.
  QScrollBar* across = e->horizontalScrollBar();
  const bool atLeft = across->value() == across->minimum();
  const qulonglong n = e->property("appendedLines").toULongLong() + 1;
  e->setProperty("appendedLines", n);
  e->appendPlainText(line);
  if (n > static_cast<qulonglong>(max)) {
    // The widget has just dropped its first line; the new first line takes the count.
    QTextCursor c(e->document()->firstBlock());
    c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    c.insertText(QString::fromStdString(kline::LogPane::DroppedLine(n - (max - 1))));
  }
  scrollToEnd(e);
  if (!atLeft) return;
  // The pane's cursor goes to the start of the new line, not its end: the pane shows its cursor
  // when it is shown again (lines also come while a window is hidden), which would otherwise
  // scroll it to the end of a long line. A selection of the user's stays.
  QTextCursor at = e->textCursor();
  if (!at.hasSelection()) {
    at.movePosition(QTextCursor::End);
    at.movePosition(QTextCursor::StartOfBlock);
    e->setTextCursor(at);
  }
  across->setValue(across->minimum());
}

void ControlRenderer::apply(const QString& key, QWidget* w, kline::Prop prop,
                            const QVariant& value) {
  using kline::Prop;
  if (!w) return;
  switch (prop) {
    case Prop::Enabled:
      w->setEnabled(value.toBool());
      break;
    case Prop::Visible:
      w->setVisible(value.toBool());
      break;
    case Prop::Caption: {
      const QString text = value.toString();
      if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(escapeMnemonic(text));
      else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
      else if (auto* g = qobject_cast<QGroupBox*>(w))
        g->setTitle(escapeMnemonic(text));
      break;
    }
    case Prop::Text: {
      const QString text = value.toString();
      if (auto* e = qobject_cast<QLineEdit*>(w)) {
        QStringList& pending = pendingText_[key];
        QString& echoed = lastEcho_[key];
        if (!pending.isEmpty() && pending.front() == text) {
          echoed = pending.takeFirst();
          break;
        }
        // The logic may write back the text it has just taken (the trimmer's field does, through
        // its slider): that is no reason to undo what was typed since, passed on or not.
        if (!echoed.isNull() && text == echoed) break;
        pending.clear();
        echoed = QString();
        if (e->text() != text) e->setText(text);
      } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
        // The logic's panes end their lines with CR LF.
        QString shown = text;
        shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        if (p->toPlainText() != shown) {
          p->setPlainText(shown);
          scrollToEnd(p);
        }
      }
      break;
    }
    case Prop::Value:
      if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        QSignalBlocker block(b);
        b->setChecked(value.toInt() != 0);
      } else if (auto* bar = qobject_cast<QProgressBar*>(w)) {
        bar->setValue(value.toInt());
      } else if (auto* list = qobject_cast<QListWidget*>(w)) {
        QSignalBlocker block(list);
        list->setCurrentRow(value.toInt());
      } else if (auto* s = qobject_cast<QSlider*>(w)) {
        // Echoes of earlier positions would drag the handle back while the user moves it.
        if (s->isSliderDown()) break;
        QSignalBlocker block(s);
        s->setValue(value.toInt());
      }
      break;
    case Prop::Max:
      if (auto* bar = qobject_cast<QProgressBar*>(w)) {
        bar->setMaximum(value.toInt() > 0 ? value.toInt() : 100);
      } else if (auto* s = qobject_cast<QSlider*>(w)) {
        QSignalBlocker block(s);
        s->setRange(-value.toInt(), value.toInt());
      }
      break;
    case Prop::Items:
      if (auto* list = qobject_cast<QListWidget*>(w)) {
        QSignalBlocker block(list);
        const int row = list->currentRow();
        list->clear();
        list->addItems(value.toStringList());
        list->setCurrentRow(row);
      }
      break;
    case Prop::Colour:
      break;
  }
}
