#pragma once

#include <string>
#include <vector>

#include "scriptedaction.h"
#include "ui/controlmodel.h"

namespace kline {

// Checks scripted actions against the windows' controls as loading leaves them (the test list
// filled), before anything runs: the window and control exist and the value fits the control.
// Returns why the first bad action is refused, naming it, or an empty text when all fit.
std::string CheckActions(const std::vector<ScriptedAction>& actions);

// A window's control names in natural order, arrays collapsed: "Check1(0..8), Command1, ...".
std::string ControlNames(const ControlModel& window);

}  // namespace kline
