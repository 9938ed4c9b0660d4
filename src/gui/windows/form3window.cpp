#include "gui/windows/form3window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/session/session.h"

Form3Window::Form3Window(Session& session, QWidget* owner)
    : ModelWindow(session, QStringLiteral("Form3")), owner_(owner) {
  setWindowTitle(QStringLiteral("Diag"));
  // The three groups read the same three tables in the same order; rows line them up.
  const struct {
    const char* title;
    const char* buttons[3];
  } groups[] = {{"Uniram", {"Command4", "Command5", "Command6"}},
                {"Cuneep", {"Command7", "Command3", "Command2"}},
                {"Unieep", {"Command10", "Command9", "Command8"}}};
  auto* row = new QHBoxLayout;
  for (const auto& g : groups) {
    auto* box = new QGroupBox(QString::fromLatin1(g.title));
    box->setObjectName(QString::fromLatin1(g.title));
    auto* col = new QVBoxLayout(box);
    for (const char* b : g.buttons) col->addWidget(button(QString::fromLatin1(b)));
    row->addWidget(box);
  }
  auto* stateBox = new QGroupBox(tr("State"));
  stateBox->setObjectName(QStringLiteral("Unirams"));
  auto* stateCol = new QVBoxLayout(stateBox);
  stateCol->addWidget(button(QStringLiteral("Command1")));
  stateCol->addStretch(1);
  row->addWidget(stateBox);

  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(saveLogButton());
  bottom->addWidget(button(QStringLiteral("back")));
  bottom->addWidget(helpButton());

  // The pane holds only what the logic writes: what it shows is said above it.
  auto* heading = new QLabel(
      tr("What the ECU answered to each read: one line per fault or state that is set in the "
         "byte read"));
  heading->setObjectName(QStringLiteral("outputHeading"));
  heading->setWordWrap(true);

  auto* outer = new QVBoxLayout(this);
  outer->addLayout(row);
  outer->addWidget(heading);
  outer->addWidget(logPane(), 1);
  outer->addLayout(bottom);
  outer->addWidget(linkLine());
  explainControls();
  resize(640, 480);
}

// Closing this window while the main one is hidden would leave nothing on screen (and end the
// program): it goes back instead, as the "Back" button does, and stays open as "Back" leaves it.
void Form3Window::closeEvent(QCloseEvent* e) {
  if (owner_ && !owner_->isVisible()) {
    e->ignore();
    session().click(QStringLiteral("back"), windowName());
    return;
  }
  ModelWindow::closeEvent(e);
}
