#pragma once

#include <optional>

namespace kline {

// What the programs around the windows do as the user would, named by what it is. The one
// table outside the windows' own logic of which control does it: the command line's subcommands
// and the desktop program's pictures play these.
enum class UserAction {
  Connect,           // the connect toggle
  AskCalibration,    // the "Calibration" box ticked
  ReadFaults,        // the "DTC" button
  ReadImmobiliser,   // "Virgin?"
  ReadImmobiliser2,  // "Virign2"
  RunTest,           // the test list's entry `value` chosen
  OpenTests,         // the "Tests" menu
  FuelPumpTest,      // the test window's fuel pump button
};

struct UserActionControl {
  const char* window;
  const char* control;
  std::optional<int> value;  // a value to set; none: a click
};

inline UserActionControl ControlOf(UserAction what, int value = 0) {
  switch (what) {
    case UserAction::Connect:
      return {"Form2", "Check2", std::nullopt};
    case UserAction::AskCalibration:
      return {"Form2", "Check4", 1};
    case UserAction::ReadFaults:
      return {"Form2", "Command11", std::nullopt};
    case UserAction::ReadImmobiliser:
      return {"Form2", "Command2", std::nullopt};
    case UserAction::ReadImmobiliser2:
      return {"Form2", "Command3", std::nullopt};
    case UserAction::RunTest:
      return {"Form2", "List1", value};
    case UserAction::OpenTests:
      return {"Form2", "test", std::nullopt};
    case UserAction::FuelPumpTest:
      return {"Form1", "Command1", std::nullopt};
  }
  return {"Form2", "", std::nullopt};
}

}  // namespace kline
