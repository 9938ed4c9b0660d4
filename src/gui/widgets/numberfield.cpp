#include "gui/widgets/numberfield.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPalette>
#include <QRegularExpressionValidator>
#include <QToolTip>

#include "gui/windows/controlrenderer.h"

NumberField::NumberField(QLineEdit* edit, int min, int max, const QString& what,
                         const QString& kind)
    : QObject(edit), edit_(edit), min_(min), max_(max) {
  tip_ = tr("%1: %2 from %3 to %4")
             .arg(what, kind.isEmpty() ? tr("whole milliseconds") : kind)
             .arg(min)
             .arg(max);
  edit->setToolTip(tip_);
  // Digits only, the longest number of the range bounding their count. A leading sign is taken
  // and shown marked: dropping it would turn "-5" into 5.
  const int digits = static_cast<int>(QString::number(max).size());
  edit->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[-+]?[0-9]{0,%1}").arg(digits)), edit));
  edit->installEventFilter(this);
  connect(edit, &QLineEdit::inputRejected, this, &NumberField::refuse);
  connect(edit, &QLineEdit::textEdited, this, [this](const QString& t) { check(t, true); });
  // A value written by the window's logic is what it uses: it clears a mark.
  connect(edit, &QLineEdit::textChanged, this, [this](const QString& t) {
    if (marked() && acceptable(t, min_, max_) && !edit_->isModified()) check(t, false);
  });
}

bool NumberField::acceptable(const QString& text, int min, int max) {
  bool ok = false;
  const int v = text.toInt(&ok);
  return ok && !text.isEmpty() && text.front().isDigit() && v >= min && v <= max;
}

bool NumberField::eventFilter(QObject* watched, QEvent* event) {
  // The key whose character the validator may refuse next.
  if (watched == edit_ && event->type() == QEvent::KeyPress)
    lastKey_ = static_cast<QKeyEvent*>(event)->text();
  return false;
}

void NumberField::refuse() {
  // Only a printable character is named: it came from the keyboard and is shown as text.
  const bool printable = lastKey_.size() == 1 && lastKey_.front().isPrint();
  refusal_ = printable ? tr("\u201c%1\u201d is not taken here. %2").arg(lastKey_, tip_)
                       : tr("Not taken here. %1").arg(tip_);
  refused_ = true;
  showMark();
  explain();
  emit refused(refusal_);
}

void NumberField::check(const QString& text, bool typed) {
  valid_ = acceptable(text, min_, max_);
  // An accepted edit answers an earlier refusal.
  if (typed || valid_) refused_ = false;
  showMark();
  // A refusal's popup still up says what the field holds now, or goes once it is valid.
  if (typed && QToolTip::isVisible()) {
    if (marked())
      explain();
    else
      QToolTip::hideText();
  }
  if (valid_ && typed) emit edited(text);
}

void NumberField::showMark() {
  const bool on = marked();
  edit_->setProperty("invalid", !valid_);
  edit_->setProperty("refused", refused_);
  if (!on) {
    edit_->setPalette(QPalette());
    edit_->setToolTip(tip_);
    return;
  }
  QPalette p = edit_->palette();
  p.setColor(QPalette::Base, QColor(0xff, 0xd0, 0xd0));
  p.setColor(QPalette::Text, Qt::black);
  edit_->setPalette(p);
  // A refusal names the character typed: it is shown as text, whatever it is.
  edit_->setToolTip(refused_ ? ControlRenderer::plainToolTip(refusal_)
                             : tr("Not used until it is valid. %1").arg(tip_));
}

void NumberField::explain() {
  if (!edit_->isVisible()) return;
  QToolTip::showText(edit_->mapToGlobal(QPoint(0, edit_->height())), edit_->toolTip(), edit_);
}
