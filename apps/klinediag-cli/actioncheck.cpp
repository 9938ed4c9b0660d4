#include "actioncheck.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <memory>
#include <optional>

#include "session/sessioncore.h"
#include "sim/virtualhost.h"

namespace kline {

namespace {

const char* kindName(ControlKind k) {
  switch (k) {
    case ControlKind::Button:
      return "a button";
    case ControlKind::Menu:
      return "a menu";
    case ControlKind::CheckBox:
      return "a check box";
    case ControlKind::Option:
      return "an option";
    case ControlKind::TextBox:
      return "a text box";
    case ControlKind::Label:
      return "a label";
    case ControlKind::Shape:
      return "a shape";
    case ControlKind::List:
      return "a list";
    case ControlKind::ProgressBar:
      return "a progress bar";
    case ControlKind::Slider:
      return "a slider";
    case ControlKind::Frame:
      return "a frame";
    case ControlKind::Line:
      return "a line";
  }
  return "a control";
}

// A whole number as typed: blanks around, an optional sign, digits and nothing else.
std::optional<long> wholeNumber(const std::string& text) {
  auto b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return std::nullopt;
  auto e = text.find_last_not_of(" \t") + 1;
  if (text[b] == '+') ++b;
  long n = 0;
  auto [end, ec] = std::from_chars(text.data() + b, text.data() + e, n);
  if (ec != std::errc() || end != text.data() + e) return std::nullopt;
  return n;
}

// "Command10" after "Command9": runs of digits compare by value.
bool naturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ie = i, je = j;
      while (ie < a.size() && digit(a[ie])) ++ie;
      while (je < b.size() && digit(b[je])) ++je;
      long x = std::stol(a.substr(i, ie - i)), y = std::stol(b.substr(j, je - j));
      if (x != y) return x < y;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

std::string checkValue(const Control& c, const std::string& value) {
  std::optional<long> n = wholeNumber(value);
  switch (c.kind) {
    case ControlKind::TextBox:
      return {};
    case ControlKind::CheckBox:
      if (n && (*n == 0 || *n == 1)) return {};
      return c.name + " is a check box and takes 0 or 1 (or no value to toggle it)";
    case ControlKind::Option:
      if (n && *n == 1) return {};
      return c.name + " is an option and takes 1 (or no value)";
    case ControlKind::List: {
      long last = static_cast<long>(c.items.size()) - 1;
      if (n && *n >= 0 && *n <= last) return {};
      if (last < 0) return c.name + " has no items";
      return c.name + " has items 0 to " + std::to_string(last);
    }
    case ControlKind::Slider:
      // A slider's range is -max .. max, as the windows draw it.
      if (n && *n >= -c.max && *n <= c.max) return {};
      return c.name + " is a slider and takes a whole number from " + std::to_string(-c.max) +
             " to " + std::to_string(c.max);
    default:
      return c.name + " is " + kindName(c.kind) + " and takes no value";
  }
}

std::string checkAction(Form2& form, const ScriptedAction& a) {
  ControlModel* w = form.window(a.window);
  std::string why;
  if (!w)
    why = "no window " + a.window + " (windows: Form2, Form1, Form3)";
  else if (!w->has(a.control))
    why = a.window + " has no control " + a.control + " (controls: " + ControlNames(*w) + ")";
  else if (a.value)
    why = checkValue(w->get(a.control), *a.value);
  return why.empty() ? why : "action '" + a.text + "': " + why;
}

}  // namespace

std::string ControlNames(const ControlModel& window) {
  std::map<std::string, std::vector<int>> arrays;
  std::vector<std::string> names;
  for (const auto& [name, c] : window.all()) {
    auto open = name.find('(');
    if (open == std::string::npos)
      names.push_back(name);
    else
      arrays[name.substr(0, open)].push_back(std::stoi(name.substr(open + 1)));
  }
  for (auto& [base, indices] : arrays) {
    std::sort(indices.begin(), indices.end());
    bool runs = indices.back() - indices.front() + 1 == static_cast<int>(indices.size());
    std::string inside = std::to_string(indices.front());
    if (runs && indices.size() > 1)
      inside += ".." + std::to_string(indices.back());
    else if (!runs)
      for (std::size_t i = 1; i < indices.size(); ++i) inside += "," + std::to_string(indices[i]);
    names.push_back(base + "(" + inside + ")");
  }
  std::sort(names.begin(), names.end(), naturalLess);
  std::string list;
  for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
  return list;
}

std::string CheckActions(const std::vector<ScriptedAction>& actions) {
  if (actions.empty()) return {};
  // The windows of a stand-in session, loaded without a settings file or a port: checking on
  // the real window would need its Form_Load, which writes settings and publishes events. The
  // test list has seven entries for every ECU type, so the type chosen later changes nothing.
  VirtualHost host;
  SessionCore probe(host, SessionOptions{});
  probe.load();
  for (const auto& a : actions)
    if (std::string why = checkAction(probe.form(), a); !why.empty()) return why;
  return {};
}

}  // namespace kline
