#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/eventsink.h"
#include "ui/logpane.h"

namespace kline {

enum class ControlKind {
  Button,
  Menu,
  CheckBox,
  Option,
  TextBox,
  Label,
  Shape,
  List,
  ProgressBar,
  Slider,
  Frame,
  Line
};

// Colours as 0xRRGGBB; the two system roles used by the rpm bar are marked by flag values.
constexpr uint32_t kRgbGreen = 0x00FF00;
constexpr uint32_t kRgbRed = 0xFF0000;
// System colours, by their index with the high bit set: the front end maps them to its palette.
constexpr uint32_t kSysScrollBars = 0x80000000;  // index 0
constexpr uint32_t kSysUnlit = 0x80000004;       // index 4, the menu colour
constexpr uint32_t kSysLit = 0x80000006;         // index 6, the window-frame colour

// One control of a window under its design name ("Text1(5)", "Check2", "Option7").
struct Control {
  std::string name;
  ControlKind kind = ControlKind::Label;
  std::string text;     // TextBox
  std::string caption;  // Button, Menu, CheckBox, Option, Label, Frame
  int value = 0;        // CheckBox 0/1/2, Option 0/1, ProgressBar, Slider, List index (-1 none)
  bool enabled = true;
  bool visible = true;
  uint32_t colour = 0;
  int min = 0;  // Slider
  int max = 0;
  std::vector<std::string> items;  // List
  std::string group;               // Option buttons of one group exclude each other
  // The control shows what the ECU sent: a write of a text (any caption, for `rpm`) tells the
  // session that the ECU answers (ev::EcuAnswered).
  enum class FromEcu { No, Value, Rpm } fromEcu = FromEcu::No;
  std::function<void()> handler;  // Click for buttons, menus, boxes, options, lists; Change for
                                  // text fields and sliders
};

// The state of a window's controls, owned by the window's logic on the session thread.
// Writes from code behave as the toolkit's would: a check box whose value changes runs its
// Click handler, an option set to 1 clears its group and runs its Click, a text field whose text
// changes runs its Change handler. Every write is published to the sink, changed or not.
class ControlModel {
 public:
  ControlModel(std::string window, EventSink* sink) : window_(std::move(window)), sink_(sink) {}
  ControlModel(const ControlModel&) = delete;
  ControlModel& operator=(const ControlModel&) = delete;

  const std::string& window() const { return window_; }
  Control& add(const std::string& name, ControlKind kind, const std::string& caption = {});
  bool has(const std::string& name) const { return controls_.count(name) != 0; }
  const Control& get(const std::string& name) const;
  Control& at(const std::string& name);
  const std::map<std::string, Control>& all() const { return controls_; }
  void setHandler(const std::string& name, std::function<void()> h) { at(name).handler = h; }

  const std::string& text(const std::string& n) const { return get(n).text; }
  const std::string& caption(const std::string& n) const { return get(n).caption; }
  int value(const std::string& n) const { return get(n).value; }
  bool enabled(const std::string& n) const { return get(n).enabled; }
  bool visible(const std::string& n) const { return get(n).visible; }

  void setText(const std::string& n, const std::string& text);
  void setCaption(const std::string& n, const std::string& caption);
  void setValue(const std::string& n, int value);
  void setEnabled(const std::string& n, bool on);
  void setVisible(const std::string& n, bool on);
  void setColour(const std::string& n, uint32_t rgb);
  void setMax(const std::string& n, int max);
  void setItems(const std::string& n, std::vector<std::string> items);

  // User actions, as the front ends forward them: a click (button, menu, option, list entry, or
  // the toggle of a check box), typed text, a chosen value.
  void userClick(const std::string& n);
  void userSetText(const std::string& n, const std::string& text) {
    if (get(n).enabled) setText(n, text);
  }
  void userSetValue(const std::string& n, int value);

  // The log pane Rtb1 of this window.
  LogPane& log() { return log_; }
  void appendLog(const std::string& line);

 private:
  void publish(const std::string& n, Prop p, const PropValue& v);

  std::string window_;
  EventSink* sink_;
  std::map<std::string, Control> controls_;
  LogPane log_;
};

// Every property a view shows of each control of `m`, as the logic would set it, for a view that
// starts from nothing. A colour of 0 is the design default and is left out.
void ForEachShownProperty(
    const ControlModel& m,
    const std::function<void(const std::string& ctl, Prop p, const PropValue& v)>& set);

// "Text1" + 5 -> "Text1(5)".
std::string indexed(const std::string& base, int index);

}  // namespace kline
