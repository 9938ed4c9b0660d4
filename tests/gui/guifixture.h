#pragma once

// The main window on its own session thread with a scratch settings file and the built-in
// simulated ECU, shared by the window tests.
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "gui/session/session.h"
#include "gui/windows/controlhelp.h"
#include "gui/windows/mainwindow.h"
#include "sim/simconfig.h"

struct GuiFixture {
  // With a `records` path, the session keeps its bike records there; `settings` is the settings
  // file's text to start from (none: no file).
  explicit GuiFixture(const char* simJson = "{}", int ignitionMs = 100, QString records = {},
                      const QByteArray& settings = {}) {
    if (!settings.isEmpty()) {
      QFile ini(dir.filePath(QStringLiteral("klinediag.ini")));
      if (ini.open(QIODevice::WriteOnly)) ini.write(settings);
    }
    auto cfg = std::make_shared<kline::SimConfig>(
        kline::SimConfig::FromJson(simJson, kline::EcuType::E15m));
    cfg->ignitionMs = ignitionMs;
    session = std::make_unique<Session>(dir.filePath(QStringLiteral("klinediag.ini")), cfg);
    if (!records.isEmpty())
      session->setRecordsChoice({Session::RecordsChoice::From::File, records});
    window = std::make_unique<MainWindow>(*session);
    session->start();
    window->show();
  }
  ~GuiFixture() {
    window.reset();
    session.reset();
  }
  template <class W>
  W* main(const char* name) {
    return qobject_cast<W*>(window->control(QString::fromLatin1(name)));
  }
  // Once the window has loaded: selects `typeOption` (if given), types "sim" and presses
  // Connect. False if the window never loaded.
  bool pressConnect(const char* typeOption = nullptr) {
    if (!QTest::qWaitFor([this] { return session->isLoaded(); }, 5000)) return false;
    if (typeOption) session->click(QString::fromLatin1(typeOption));
    session->setText(QStringLiteral("Text6"), QStringLiteral("sim"));
    session->click(QStringLiteral("Check2"));
    return true;
  }

  QTemporaryDir dir;
  std::unique_ptr<Session> session;
  std::unique_ptr<MainWindow> window;
};

// Every control of `root` (the window of the logic's `win`, whose bound design names are
// `names`) says what it does: each bound control is in the window's help table and has a
// tooltip or, for a menu entry, a status tip; so has every button, field, slider and list a
// user can reach. `openHelp` opens the help, which must list every entry of the table.
inline void CheckEveryControlExplained(QWidget* root, const QString& win, const QStringList& names,
                                       const std::function<void()>& openHelp) {
  QVERIFY(!names.isEmpty());
  for (const QString& name : names) {
    auto* a = root->findChild<QAction*>(name);
    if (a && !a->isVisible()) continue;  // kept hidden by the logic
    QVERIFY2(!controlhelp::what(win, name).isEmpty(), qPrintable(win + ' ' + name));
    auto* w = root->findChild<QWidget*>(name);
    QVERIFY2(w || a, qPrintable(name));
    const QString tip = w ? w->toolTip() : a->statusTip();
    QVERIFY2(!tip.isEmpty(), qPrintable(win + ' ' + name));
  }
  const auto widgets = root->findChildren<QWidget*>();
  for (QWidget* w : widgets) {
    const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                         qobject_cast<QAbstractSlider*>(w) || qobject_cast<QListWidget*>(w);
    // Scroll bars and a table's corner belong to a control that says what it is.
    if (!control || qobject_cast<QScrollBar*>(w) ||
        qobject_cast<QAbstractItemView*>(w->parentWidget()) ||
        w->objectName().startsWith(QLatin1String("qt_")))
      continue;
    QVERIFY2(!w->toolTip().isEmpty(),
             qPrintable(win + ' ' + w->metaObject()->className() + ' ' + w->objectName()));
  }

  openHelp();
  QDialog* help = nullptr;
  QVERIFY(QTest::qWaitFor(
      [&] { return (help = root->findChild<QDialog*>(QStringLiteral("controlHelp"))); }, 2000));
  auto* table = help->findChild<QTableWidget*>(QStringLiteral("controlHelpTable"));
  QVERIFY(table);
  const auto entries = controlhelp::entries(win);
  QCOMPARE(table->rowCount(), static_cast<int>(entries.size()));
  QStringList listed;
  for (int r = 0; r < table->rowCount(); ++r)
    listed << table->item(r, 0)->text() + '|' + table->item(r, 1)->text();
  for (const auto& e : entries) {
    const QString row = QString::fromUtf8(e.caption) + '|' + controlhelp::what(win, e.name);
    QVERIFY2(listed.contains(row), qPrintable(row));
  }
  help->close();
}
