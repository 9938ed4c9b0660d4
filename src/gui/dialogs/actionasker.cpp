#include "gui/dialogs/actionasker.h"

#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

#include "actuators/form1.h"
#include "actuators/testlist.h"
#include "connection/ecutypes.h"
#include "gui/session/session.h"
#include "gui/windows/mainwindow.h"
#include "gui/windows/modelwindow.h"

ActionAsker::ActionAsker(MainWindow& window, Session& session) : QObject(&window), window_(window) {
  connect(&session, &Session::sessionEvent, this, [this](const kline::SessionEvent& e) {
    guard_.onEvent(e);
    // The connected type's set of test codes says which code clears the faults.
    if (const auto* c = std::get_if<kline::ev::Connecting>(&e)) {
      const kline::EcuTypeInfo* t = kline::FindEcuType(c->ecu);
      codesA_ = t && t->testCodes == kline::TestCodes::First;
    }
  });
  confirm_ = [this](const kline::ActionGuard::Question& q) { return askInDialog(q); };

  // The main window's list: the entry as the logic wrote it says what it does.
  auto* list = qobject_cast<QListWidget*>(window.control(QStringLiteral("List1")));
  window.setGate(QStringLiteral("List1"), [this, list](int row) {
    const QListWidgetItem* item = list ? list->item(row) : nullptr;
    if (!item) return true;
    const QString text = item->text();
    return allow(text.trimmed(), kline::TestListEntryClearsFaults(text.toStdString()));
  });

  // The "Test" window's buttons; the custom code clears when it is the clearing code.
  auto* test = qobject_cast<ModelWindow*>(window.modelWindow(QStringLiteral("Form1")));
  if (!test) return;
  const kline::ActuatorTest* tests = kline::ActuatorTests();
  for (int n = 1; n <= 9; ++n) {
    const QString button = QString::fromLatin1(tests[n - 1].button);
    const QString caption = QString::fromLatin1(tests[n - 1].caption);
    test->setGate(button, [this, test, n, caption](int) {
      auto* code = qobject_cast<QLineEdit*>(test->control(QStringLiteral("Text1")));
      const QString custom = code ? code->text() : QString();
      const QString name = n == 8 ? tr("%1 %2").arg(caption, custom.trimmed()) : caption;
      return allow(name, kline::TestButtonClearsFaults(n, codesA_, custom.toStdString()));
    });
  }
}

bool ActionAsker::allow(const QString& name, bool clearsFaults) {
  const kline::ActionGuard::Question q = guard_.check(name.toStdString(), clearsFaults);
  if (!q.ask) return true;
  for (;;) {
    switch (confirm_(q)) {
      case Answer::Go:
        return true;
      case Answer::Cancel:
        return false;
      case Answer::SaveReportFirst:
        // The window's own "Report…"; the question comes back afterwards.
        if (auto* report = window_.findChild<QPushButton*>(QStringLiteral("report")))
          report->click();
        break;
    }
  }
}

ActionAsker::Answer ActionAsker::askInDialog(const kline::ActionGuard::Question& q) {
  QMessageBox box(QMessageBox::Warning, QString::fromStdString(q.title),
                  QString::fromStdString(q.text), QMessageBox::NoButton, &window_);
  box.setObjectName(QStringLiteral("askBeforeActing"));
  box.setTextFormat(Qt::PlainText);
  // The faults are the ECU's lines: shown as text.
  if (!q.faults.empty())
    box.setInformativeText(Qt::convertFromPlainText(QString::fromStdString(q.faults)));
  QPushButton* go = box.addButton(QString::fromStdString(q.go), QMessageBox::AcceptRole);
  QPushButton* save = q.clearsFaults
                          ? box.addButton(tr("Save report first\u2026"), QMessageBox::ActionRole)
                          : nullptr;
  QPushButton* cancel = box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(cancel);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() == go) return Answer::Go;
  if (save && box.clickedButton() == save) return Answer::SaveReportFirst;
  return Answer::Cancel;
}
