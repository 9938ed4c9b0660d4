#include "ui/controlmodel.h"

#include <algorithm>
#include <stdexcept>

namespace kline {

const char* propName(Prop p) {
  switch (p) {
    case Prop::Text:
      return "text";
    case Prop::Caption:
      return "caption";
    case Prop::Value:
      return "value";
    case Prop::Enabled:
      return "enabled";
    case Prop::Visible:
      return "visible";
    case Prop::Colour:
      return "colour";
    case Prop::Max:
      return "max";
    case Prop::Items:
      return "items";
  }
  return "?";
}

std::string indexed(const std::string& base, int index) {
  return base + "(" + std::to_string(index) + ")";
}

Control& ControlModel::add(const std::string& name, ControlKind kind, const std::string& caption) {
  Control c;
  c.name = name;
  c.kind = kind;
  c.caption = caption;
  if (kind == ControlKind::List) c.value = -1;
  return controls_[name] = std::move(c);
}

const Control& ControlModel::get(const std::string& name) const {
  auto it = controls_.find(name);
  if (it == controls_.end()) throw std::out_of_range(window_ + " has no control " + name);
  return it->second;
}

Control& ControlModel::at(const std::string& name) {
  return const_cast<Control&>(static_cast<const ControlModel*>(this)->get(name));
}

void ControlModel::publish(const std::string& n, Prop p, const PropValue& v) {
  if (sink_) sink_->onSet(window_, n, p, v);
}

void ControlModel::setText(const std::string& n, const std::string& text) {
  Control& c = at(n);
  bool changed = c.text != text;
  c.text = text;
  publish(n, Prop::Text, text);
  if (sink_ && c.fromEcu == Control::FromEcu::Value && !text.empty())
    sink_->onEvent(ev::EcuAnswered{false});
  if (changed && c.kind == ControlKind::TextBox && c.handler) c.handler();
}

void ControlModel::setCaption(const std::string& n, const std::string& caption) {
  Control& c = at(n);
  c.caption = caption;
  publish(n, Prop::Caption, caption);
  if (sink_ && c.fromEcu == Control::FromEcu::Rpm) sink_->onEvent(ev::EcuAnswered{true});
}

void ControlModel::setValue(const std::string& n, int value) {
  Control& c = at(n);
  bool changed = c.value != value;
  if (c.kind == ControlKind::Option) {
    value = value ? 1 : 0;
    changed = c.value != value;
    if (value) {
      for (auto& [name, other] : controls_) {
        if (&other != &c && other.kind == ControlKind::Option && other.group == c.group &&
            other.value) {
          other.value = 0;
          publish(name, Prop::Value, 0);
        }
      }
    }
  }
  c.value = value;
  publish(n, Prop::Value, value);
  if (!changed || !c.handler) return;
  switch (c.kind) {
    case ControlKind::CheckBox:
    case ControlKind::Slider:
    case ControlKind::List:
      c.handler();
      break;
    case ControlKind::Option:
      if (value) c.handler();
      break;
    default:
      break;
  }
}

void ControlModel::setEnabled(const std::string& n, bool on) {
  at(n).enabled = on;
  publish(n, Prop::Enabled, on);
}

void ControlModel::setVisible(const std::string& n, bool on) {
  at(n).visible = on;
  publish(n, Prop::Visible, on);
}

void ControlModel::setColour(const std::string& n, uint32_t rgb) {
  at(n).colour = rgb;
  publish(n, Prop::Colour, static_cast<int>(rgb));
}

void ControlModel::setMax(const std::string& n, int max) {
  at(n).max = max;
  publish(n, Prop::Max, max);
}

void ControlModel::setItems(const std::string& n, std::vector<std::string> items) {
  Control& c = at(n);
  c.items = std::move(items);
  publish(n, Prop::Items, c.items);
}

void ControlModel::userClick(const std::string& n) {
  Control& c = at(n);
  // A disabled control takes no user action, as on screen.
  if (!c.enabled) return;
  switch (c.kind) {
    case ControlKind::CheckBox:
      setValue(n, c.value == 1 ? 0 : 1);
      break;
    case ControlKind::Option:
      if (c.value) {
        // A click on the selected option still reaches its handler, as a user click does.
        if (c.handler) c.handler();
      } else {
        setValue(n, 1);
      }
      break;
    default:
      if (c.handler) c.handler();
      break;
  }
}

void ControlModel::userSetValue(const std::string& n, int value) {
  Control& c = at(n);
  if (!c.enabled) return;
  if (c.kind == ControlKind::Option) {
    if (value) userClick(n);
    return;
  }
  if (c.kind == ControlKind::Slider) {
    // A slider cannot be moved past its ends, whatever a script asks.
    value = std::clamp(value, c.min, c.max);
  }
  if (c.kind == ControlKind::List) {
    // Choosing an entry is a click on it, even the one already selected.
    c.value = value;
    publish(n, Prop::Value, value);
    if (c.handler) c.handler();
    return;
  }
  setValue(n, value);
}

void ControlModel::appendLog(const std::string& line) {
  log_.append(line);
  if (sink_) sink_->onLog(window_, line);
}

void ForEachShownProperty(
    const ControlModel& m,
    const std::function<void(const std::string& ctl, Prop p, const PropValue& v)>& set) {
  for (const auto& [name, c] : m.all()) {
    switch (c.kind) {
      case ControlKind::TextBox:
        set(name, Prop::Text, c.text);
        break;
      case ControlKind::List:
        set(name, Prop::Items, c.items);
        set(name, Prop::Value, c.value);
        break;
      case ControlKind::CheckBox:
      case ControlKind::Option:
        set(name, Prop::Caption, c.caption);
        set(name, Prop::Value, c.value);
        break;
      case ControlKind::ProgressBar:
      case ControlKind::Slider:
        set(name, Prop::Max, c.max);
        set(name, Prop::Value, c.value);
        break;
      case ControlKind::Shape:
      case ControlKind::Line:
        if (c.colour != 0) set(name, Prop::Colour, static_cast<int>(c.colour));
        break;
      default:
        set(name, Prop::Caption, c.caption);
        break;
    }
    set(name, Prop::Enabled, c.enabled);
    set(name, Prop::Visible, c.visible);
  }
}

}  // namespace kline
