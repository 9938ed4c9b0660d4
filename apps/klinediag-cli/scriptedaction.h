#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "connection/useractions.h"

namespace kline {

class ControlModel;

// A week: the longest run (--duration) and the latest time of a scripted action.
constexpr uint64_t kMaxRunMs = 604800000;

// A scripted user action: "2500:Command6", "0:Check3=0", "6000:Form3.Command6", "0:Text2=250".
struct ScriptedAction {
  uint64_t at = 0;
  std::string window = "Form2";
  std::string control;  // with its index: "Check1(3)"
  std::optional<std::string> value;
  std::string text;  // as given, to name the action in messages
};

// Parses T:[WINDOW.]CONTROL[(INDEX)][=VALUE] with T up to kMaxRunMs; throws
// std::invalid_argument with the reason.
ScriptedAction ParseScriptedAction(const std::string& text);

// A user action (connection/useractions.h) as a scripted one.
ScriptedAction ActionFor(UserAction what, int value = 0);

// Plays an action on its window's controls as the user would: a button or menu is clicked, a
// check box set or toggled, a field typed into, a list entry or a slider position chosen.
void PlayAction(ControlModel& window, const ScriptedAction& a);

}  // namespace kline
