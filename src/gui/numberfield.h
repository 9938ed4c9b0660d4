#pragma once

#include <QObject>
#include <QString>

class QLineEdit;

// Keeps a number field of the window to whole numbers within a range: only digits can be typed,
// and an edit that leaves the field empty or out of range is marked and not passed on until it
// is valid again. The range is told in the tooltip. GUI thread only.
class NumberField : public QObject {
  Q_OBJECT

 public:
  NumberField(QLineEdit* edit, int min, int max, const QString& what);

  // Whether the field holds a value that can be passed on.
  bool valid() const { return valid_; }
  static bool acceptable(const QString& text, int min, int max);

 signals:
  // The user typed a valid value.
  void edited(const QString& text);

 private:
  void check(const QString& text, bool typed);

  QLineEdit* edit_;
  int min_;
  int max_;
  QString tip_;
  bool valid_ = true;
};
