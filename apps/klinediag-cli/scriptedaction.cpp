#include "scriptedaction.h"

#include <cctype>
#include <regex>
#include <stdexcept>

namespace kline {

ScriptedAction ParseScriptedAction(const std::string& text) {
  static const std::regex re(
      R"(^\s*(\d+)\s*:\s*(?:([A-Za-z_]\w*)\.)?([A-Za-z_]\w*(?:\(\d+\))?)(?:=(.*))?$)");
  std::smatch m;
  if (!std::regex_match(text, m, re))
    throw std::invalid_argument("bad action '" + text +
                                "' (expected T:[WINDOW.]CONTROL[(INDEX)][=VALUE])");
  ScriptedAction a;
  try {
    a.at = std::stoull(m[1].str());
  } catch (const std::out_of_range&) {
    throw std::invalid_argument("bad time in action '" + text + "'");
  }
  if (m[2].matched) a.window = m[2].str();
  a.control = m[3].str();
  if (m[4].matched) a.value = m[4].str();
  return a;
}

}  // namespace kline
