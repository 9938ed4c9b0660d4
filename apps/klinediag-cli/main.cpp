#include <QCoreApplication>
#include <iostream>

#include "clirunner.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  return kline::RunCli(args, std::cout, std::cerr);
}
