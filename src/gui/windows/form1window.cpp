#include "gui/windows/form1window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "gui/session/session.h"
#include "gui/widgets/numberfield.h"

Form1Window::Form1Window(Session& session, QWidget* owner)
    : ModelWindow(session, QStringLiteral("Form1")), owner_(owner) {
  setWindowTitle(QStringLiteral("Test"));

  // The nine tests in three rows; the custom code field sits beside its button.
  auto* testBox = new QGroupBox(tr("Actuators"));
  testBox->setObjectName(QStringLiteral("tests"));
  auto* grid = new QGridLayout(testBox);
  const char* const order[] = {"Command1", "Command2", "Command3", "Command4",
                               "Command5", "Command6", "Command7", "Command9"};
  for (int i = 0; i < 8; ++i) grid->addWidget(button(QString::fromLatin1(order[i])), i / 3, i % 3);
  for (int c = 0; c < 3; ++c) grid->setColumnStretch(c, 1);
  auto* custom = new QHBoxLayout;
  custom->addWidget(button(QStringLiteral("Command8")));
  QLineEdit* code = textField(QStringLiteral("Text1"));
  code->setMaxLength(2);
  code->setMaximumWidth(code->fontMetrics().horizontalAdvance(QStringLiteral("MMMM")));
  custom->addWidget(code);
  grid->addLayout(custom, 2, 2);

  // CO regulation: on/off, the trimmer slider, its value and "Ok".
  QGroupBox* co = frame(QStringLiteral("Frame1"));
  auto* coLayout = new QGridLayout(co);
  coLayout->addWidget(option(QStringLiteral("Option1")), 0, 0);
  coLayout->addWidget(option(QStringLiteral("Option2")), 0, 1);
  QSlider* trim = slider(QStringLiteral("Slider1"));
  trim->setMinimumWidth(200);
  trim->setTickPosition(QSlider::TicksBelow);
  trim->setTickInterval(127);
  coLayout->addWidget(trim, 1, 0, 1, 3);
  // The trimmer's value: a refused character never moves the slider, and "Ok" sends nothing
  // while the field is marked (the logic would send the last value that reached it).
  NumberField* trimmer =
      numberField(QStringLiteral("Text2"), 0, 254, tr("Trimmer value (the slider plus 127)"),
                  tr("a whole number"));
  setGate(QStringLiteral("Command10"), [trimmer](int) {
    if (trimmer->valid()) return true;
    trimmer->explain();
    return false;
  });
  QLineEdit* value = trimmer->edit();
  value->setMaximumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("MMMMM")));
  coLayout->addWidget(value, 1, 3);
  coLayout->addWidget(button(QStringLiteral("Command10")), 1, 4);
  coLayout->setColumnStretch(2, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(progressBar(QStringLiteral("Pg1")), 1);
  bottom->addWidget(saveLogButton());
  bottom->addWidget(button(QStringLiteral("back")));
  bottom->addWidget(helpButton());

  auto* outer = new QVBoxLayout(this);
  outer->addWidget(testBox);
  outer->addWidget(co);
  outer->addWidget(logPane(), 1);
  outer->addLayout(bottom);
  outer->addWidget(linkLine());
  explainControls();
  resize(560, 520);
}

// Closing this window while the main one is hidden would leave nothing on screen (and end the
// program): it goes back instead, as the "Back" button does.
void Form1Window::closeEvent(QCloseEvent* e) {
  if (owner_ && !owner_->isVisible()) {
    e->ignore();
    session().click(QStringLiteral("back"), windowName());
    return;
  }
  ModelWindow::closeEvent(e);
}
