#pragma once

#include <optional>
#include <string>

#include "ui/sessionevents.h"

namespace kline {

// Decides which of the user's actuator actions ask before they act, and what the question
// says: clearing the stored faults always asks, showing the faults last read; any test while
// the engine turns (the latest live cycle's engine speed above zero) asks too. Nothing asks
// while no session runs, since nothing reaches the ECU then. It follows a session's typed
// events; the windows ask through it, scripted actions and the command line do not. One thread
// at a time.
class ActionGuard {
 public:
  struct Question {
    bool ask = false;
    bool clearsFaults = false;
    std::string title;
    std::string text;
    // The faults last read, one line each, or why none can be shown (clearing only).
    std::string faults;
    // The caption of the button that goes ahead.
    std::string go;
  };

  void onEvent(const SessionEvent& e);
  // `name`: the action as the window shows it ("80 fuel pump", "Clear DTC errors").
  Question check(const std::string& name, bool clearsFaults) const;

 private:
  bool running_ = false;
  std::optional<double> rpm_;
  std::string rpmText_;
  std::optional<Readout> faults_;
  bool faultsEarlier_ = false;
};

// Whether the test window's button `n` (1 to 9; 8 sends the custom code `customCode`) clears
// the stored faults, with the first set of test codes (`codesA`, TestCodes::First) or the second.
bool TestButtonClearsFaults(int n, bool codesA, const std::string& customCode);

}  // namespace kline
