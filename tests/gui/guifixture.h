#pragma once

// The main window on its own session thread with a scratch settings file and the built-in
// simulated ECU, shared by the window tests.
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "gui/mainwindow.h"
#include "gui/session.h"
#include "sim/simconfig.h"

struct GuiFixture {
  explicit GuiFixture(const char* simJson = "{}", int ignitionMs = 100) {
    auto cfg = std::make_shared<kline::SimConfig>(
        kline::SimConfig::FromJson(simJson, kline::EcuType::E15m));
    cfg->ignitionMs = ignitionMs;
    session = std::make_unique<Session>(dir.filePath(QStringLiteral("klinediag.ini")), cfg);
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
