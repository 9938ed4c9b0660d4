#include "scriptedaction.h"

#include <algorithm>
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
  a.text = text;
  // Past the leading zeros, thirteen digits are beyond a week already: longer texts are not
  // converted, so they cannot overflow.
  std::string t = m[1].str();
  t.erase(0, std::min(t.find_first_not_of('0'), t.size() - 1));
  a.at = t.size() <= 13 ? std::stoull(t) : kMaxRunMs + 1;
  if (a.at > kMaxRunMs)
    throw std::invalid_argument("action '" + text + "': the time must be from 0 to " +
                                std::to_string(kMaxRunMs) + " ms (a week)");
  if (m[2].matched) a.window = m[2].str();
  a.control = m[3].str();
  if (m[4].matched) a.value = m[4].str();
  return a;
}

}  // namespace kline
