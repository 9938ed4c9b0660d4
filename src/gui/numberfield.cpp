#include "gui/numberfield.h"

#include <QLineEdit>
#include <QPalette>
#include <QRegularExpressionValidator>

NumberField::NumberField(QLineEdit* edit, int min, int max, const QString& what)
    : QObject(edit), edit_(edit), min_(min), max_(max) {
  tip_ = tr("%1: whole milliseconds from %2 to %3").arg(what).arg(min).arg(max);
  edit->setToolTip(tip_);
  // Digits only; the longest number of the range bounds the length.
  const int digits = static_cast<int>(QString::number(max).size());
  edit->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(digits)), edit));
  connect(edit, &QLineEdit::textEdited, this, [this](const QString& t) { check(t, true); });
  // A value written by the window's logic is what it uses: it clears a mark.
  connect(edit, &QLineEdit::textChanged, this, [this](const QString& t) {
    if (!valid_ && acceptable(t, min_, max_)) check(t, false);
  });
}

bool NumberField::acceptable(const QString& text, int min, int max) {
  bool ok = false;
  const int v = text.toInt(&ok);
  return ok && !text.isEmpty() && text.front().isDigit() && v >= min && v <= max;
}

void NumberField::check(const QString& text, bool typed) {
  const bool ok = acceptable(text, min_, max_);
  if (ok != valid_) {
    valid_ = ok;
    edit_->setProperty("invalid", !ok);
    if (ok) {
      edit_->setPalette(QPalette());
      edit_->setToolTip(tip_);
    } else {
      QPalette p = edit_->palette();
      p.setColor(QPalette::Base, QColor(0xff, 0xd0, 0xd0));
      p.setColor(QPalette::Text, Qt::black);
      edit_->setPalette(p);
      edit_->setToolTip(tr("Not used until it is valid. %1").arg(tip_));
    }
  }
  if (ok && typed) emit edited(text);
}
