#include "scriptedaction.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "livedata/numbers.h"
#include "ui/controlmodel.h"

namespace kline {

namespace {

// Read by hand rather than by a regular expression: the library's matcher recurses once per
// character, and a value as long as a command-line argument may be overflows the stack.
bool isBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}
bool isDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
bool isNameStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
}
bool isNameChar(char c) {
  return isNameStart(c) || isDigit(c);
}

class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}
  bool done() const { return i_ == s_.size(); }
  bool peek(char c) const { return i_ < s_.size() && s_[i_] == c; }
  bool take(char c) {
    if (!peek(c)) return false;
    ++i_;
    return true;
  }
  void blanks() {
    while (i_ < s_.size() && isBlank(s_[i_])) ++i_;
  }
  std::string digits() {
    std::size_t b = i_;
    while (i_ < s_.size() && isDigit(s_[i_])) ++i_;
    return s_.substr(b, i_ - b);
  }
  std::string name() {
    if (i_ >= s_.size() || !isNameStart(s_[i_])) return {};
    std::size_t b = i_;
    while (i_ < s_.size() && isNameChar(s_[i_])) ++i_;
    return s_.substr(b, i_ - b);
  }
  std::string rest() {
    std::string r = s_.substr(i_);
    i_ = s_.size();
    return r;
  }

 private:
  const std::string& s_;
  std::size_t i_ = 0;
};

}  // namespace

ScriptedAction ParseScriptedAction(const std::string& text) {
  // T:[WINDOW.]CONTROL[(INDEX)][=VALUE], blanks allowed around T and the colon; the value is
  // one line.
  auto bad = [&] {
    return std::invalid_argument("bad action '" + text +
                                 "' (expected T:[WINDOW.]CONTROL[(INDEX)][=VALUE])");
  };
  Reader r(text);
  r.blanks();
  std::string t = r.digits();
  r.blanks();
  if (t.empty() || !r.take(':')) throw bad();
  r.blanks();
  ScriptedAction a;
  a.text = text;
  std::string control = r.name();
  if (control.empty()) throw bad();
  if (r.take('.')) {
    a.window = control;
    control = r.name();
    if (control.empty()) throw bad();
  }
  if (r.take('(')) {
    std::string index = r.digits();
    if (index.empty() || !r.take(')')) throw bad();
    control += "(" + index + ")";
  }
  a.control = control;
  if (r.take('=')) {
    a.value = r.rest();
    if (a.value->find_first_of("\r\n") != std::string::npos) throw bad();
  }
  if (!r.done()) throw bad();
  // Past the leading zeros, thirteen digits are beyond a week already: longer texts are not
  // converted, so they cannot overflow.
  t.erase(0, std::min(t.find_first_not_of('0'), t.size() - 1));
  a.at = t.size() <= 13 ? std::stoull(t) : kMaxRunMs + 1;
  if (a.at > kMaxRunMs)
    throw std::invalid_argument("action '" + text + "': the time must be from 0 to " +
                                std::to_string(kMaxRunMs) + " ms (a week)");
  return a;
}

ScriptedAction ActionFor(UserAction what, int value) {
  const UserActionControl c = ControlOf(what, value);
  ScriptedAction a;
  a.window = c.window;
  a.control = c.control;
  if (c.value) a.value = std::to_string(*c.value);
  a.text = a.window + "." + a.control + (a.value ? "=" + *a.value : std::string());
  return a;
}

void PlayAction(ControlModel& m, const ScriptedAction& a) {
  const Control& c = m.get(a.control);
  switch (c.kind) {
    case ControlKind::CheckBox:
      if (a.value)
        m.userSetValue(a.control, WholeNumber(*a.value));
      else
        m.userClick(a.control);
      break;
    case ControlKind::TextBox:
      m.userSetText(a.control, a.value.value_or(""));
      break;
    case ControlKind::List:
    case ControlKind::Slider:
      m.userSetValue(a.control, WholeNumber(a.value.value_or("0")));
      break;
    default:
      m.userClick(a.control);
      break;
  }
}

}  // namespace kline
