#pragma once

#include <QObject>
#include <QString>

class QLineEdit;

// Keeps a number field of a window to whole numbers within a range: a typed character that is
// neither a digit nor a leading sign is refused where it is typed (the field is marked and says
// why, and no other value takes its place), and an edit that leaves the field empty, signed or
// out of range is marked and not passed on until it is valid again. The range is told in the
// tooltip. GUI thread only.
class NumberField : public QObject {
  Q_OBJECT

 public:
  // `what` names the field; `kind` says what it holds ("whole milliseconds").
  NumberField(QLineEdit* edit, int min, int max, const QString& what,
              const QString& kind = QString());

  QLineEdit* edit() const { return edit_; }
  // Whether the field holds a value that can be passed on.
  bool valid() const { return valid_; }
  // Whether the field is marked: its text is not used, or a character typed was refused.
  bool marked() const { return !valid_ || refused_; }
  static bool acceptable(const QString& text, int min, int max);
  // Shows why the field's text is not used, where the field is.
  void explain();

 signals:
  // The user typed a valid value.
  void edited(const QString& text);
  // A typed character was refused; `why` says so and gives the range.
  void refused(const QString& why);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void check(const QString& text, bool typed);
  void refuse();
  void showMark();

  QLineEdit* edit_;
  int min_;
  int max_;
  QString tip_;
  QString refusal_;
  QString lastKey_;
  bool valid_ = true;
  bool refused_ = false;
};
