#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kline {

// The command line of klinediag-cli: parses it and runs what it chose, a subcommand
// (subcommands.h) or the headless main window, which loads the window, presses Connect at time
// 0, plays the scripted actions, and presses Disconnect at the end. Needs a QCoreApplication.
// Returns the process exit code: 0 done, 1 the port did not open, 2 usage error (a subcommand's
// own codes otherwise). What goes to `out` and `err` shows control characters visibly
// (TerminalText); files keep their bytes.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kline
