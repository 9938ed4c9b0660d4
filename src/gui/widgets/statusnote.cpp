#include "gui/widgets/statusnote.h"

#include <QStatusBar>

namespace statusnote {

namespace {
constexpr int kInfoMs = 6000;
constexpr int kErrorMs = 10000;
int infoMs = kInfoMs;
int errorMs = kErrorMs;
}  // namespace

void show(QStatusBar* bar, const QString& text, Kind kind) {
  if (bar) bar->showMessage(text, duration(kind));
}

int duration(Kind kind) {
  return kind == Kind::Error ? errorMs : infoMs;
}

void setDurationsForTests(int info, int error) {
  infoMs = info > 0 ? info : kInfoMs;
  errorMs = error > 0 ? error : kErrorMs;
}

}  // namespace statusnote
