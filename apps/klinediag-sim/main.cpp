// klinediag-sim: the simulated ECU on a pseudo-terminal, for trying the tool without a
// motorcycle and for end-to-end tests over a real tty.
#include <sys/prctl.h>
#include <unistd.h>
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "connection/ecutypes.h"
#include "ptyserver.h"

namespace {

std::atomic<bool> gStop{false};

extern "C" void onSignal(int) {
  gStop = true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string ecu = kline::DefaultEcuType().cliName;
  std::string simFile, link;
  bool verbose = false;
  CLI::App app{
      "klinediag-sim: a simulated K-line adapter and ECU on a pseudo-terminal.\n"
      "Prints the terminal's path on its first line; point klinediag at it.",
      "klinediag-sim"};
  app.add_option("--ecu", ecu, "ECU type: " + kline::EcuCliNamesText())
      ->check(CLI::IsMember(kline::EcuCliNames(), CLI::ignore_case));
  app.add_option("--sim", simFile, "JSON description of the simulated ECU (as klinediag-cli)");
  app.add_option("--link", link, "Also make a stable symbolic link to the terminal at PATH");
  app.add_flag("--verbose", verbose, "Log every byte and baud change on stderr");
  app.set_version_flag("--version", "klinediag-sim " KLINE_VERSION);
  app.footer(
      "\nExample:\n  klinediag-sim --ecu 16m --link /tmp/ecu &\n  klinediag --port /tmp/ecu\n");
  CLI11_PARSE(app, argc, argv);

  kline::SimConfig cfg;
  try {
    std::string json = "{}";
    if (!simFile.empty()) {
      const std::string why = kline::ReadSimFile(simFile, json);
      if (!why.empty()) throw std::runtime_error(why);
    }
    cfg = kline::SimConfig::FromJson(json, kline::ParseEcuType(ecu));
  } catch (const std::exception& e) {
    std::cerr << "klinediag-sim: " << e.what() << "\n";
    return 2;
  }

  kline::PtyServer server(cfg, verbose ? &std::cerr : nullptr);
  std::string path = server.open();
  if (path.empty()) {
    std::cerr << "klinediag-sim: " << server.error() << "\n";
    return 1;
  }
  if (!link.empty()) {
    ::unlink(link.c_str());
    if (::symlink(path.c_str(), link.c_str()) != 0) {
      std::cerr << "klinediag-sim: cannot create the link " << link << "\n";
      return 1;
    }
  }
  std::cout << path << std::endl;

  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  // Bytes are paced to the microsecond; the default timer slack would add 50 us to each.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  server.run(gStop);
  if (!link.empty()) ::unlink(link.c_str());
  return 0;
}
