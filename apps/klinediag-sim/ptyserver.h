#pragma once

#include <atomic>
#include <memory>
#include <ostream>
#include <string>

#include "sim/simconfig.h"

namespace kline {

// Serves the simulated ECU on the master side of a pseudo-terminal: a program that opens the
// slave side sees an adapter that echoes and paces bytes at the line's rate, with the ECU behind
// it. Every open of the slave powers the ECU up again; the baud rate follows what the program
// sets on its side.
class PtyServer {
 public:
  PtyServer(SimConfig config, std::ostream* verbose);
  ~PtyServer();

  // Opens the pseudo-terminal; returns the slave's path, or empty with error() set.
  std::string open();
  const std::string& error() const { return error_; }
  // Serves until `stop` becomes true.
  void run(const std::atomic<bool>& stop);

 private:
  struct State;
  std::unique_ptr<State> s_;
  std::string error_;
};

}  // namespace kline
