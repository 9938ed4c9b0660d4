#include <QCoreApplication>
#include <iostream>

#include "clirunner.h"
#include "clisession.h"
#include "platform/system.h"

int main(int argc, char** argv) {
  kline::SignalScope::CatchEarly();
  QCoreApplication app(argc, argv);
  kline::sys::UseUtf8Console();
  kline::sys::SurviveClosedPipes();
  return kline::RunCli(kline::sys::Arguments(argc, argv), std::cout, std::cerr);
}
