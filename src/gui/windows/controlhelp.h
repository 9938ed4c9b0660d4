#pragma once

#include <QString>
#include <span>

class QDialog;
class QObject;
class QWidget;

// What each control of a window does, in plain words: one table per window ("Form2", "Form1",
// "Form3"), keyed by the control's name (the logic's design name, or the object name of a
// control the window adds itself). The same table gives the tooltips, the "What's this" texts
// and the window's help dialog, so they always say the same.
namespace controlhelp {

struct Entry {
  const char* name;     // design name or object name
  const char* caption;  // as shown at start; in brackets what an uncaptioned control is
  const char* what;
};

// The window's table in the order its controls are laid out; empty for another name.
std::span<const Entry> entries(const QString& win);
// The text of one control; empty when the table has none.
QString what(const QString& win, const QString& name);

// Gives every control of the table found under `root` (a widget or an action, by object name)
// its "What's this" text, and its tooltip unless it has one already.
void apply(const QString& win, QObject* root);

// The tooltip of an entry of the main window's test list ("85  ???").
QString testEntryToolTip(const QString& entry);

// Opens (non-modal) the dialog that lists the window's controls: caption and what it does.
QDialog* showDialog(const QString& win, QWidget* parent);

}  // namespace controlhelp
