#pragma once

#include <QString>

class QStatusBar;

// A message of an action in a status bar ("Log saved to …", "Report not written: …"): it lasts
// a few seconds, errors a little longer, and then the bar shows the link's state again. GUI
// thread only.
namespace statusnote {

enum class Kind { Info, Error };

void show(QStatusBar* bar, const QString& text, Kind kind = Kind::Info);
// How long a kind of message stays, in ms.
int duration(Kind kind);
// Tests shorten the durations; 0 restores them.
void setDurationsForTests(int infoMs, int errorMs);

}  // namespace statusnote
