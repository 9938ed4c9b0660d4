#pragma once

#include <string>

#include "ui/controlmodel.h"

namespace kline {

// A window other than the main one. It exists with the main window (its controls can be
// addressed at any time) and is loaded, which runs its Form_Load, when it is first shown or
// loaded; unloading hides it and the next show loads it again. The control named after the
// window is the window itself (caption, visible). Session thread only.
class ChildWindow {
 public:
  ChildWindow(const std::string& name, const std::string& caption, EventSink* sink);
  virtual ~ChildWindow() = default;
  ChildWindow(const ChildWindow&) = delete;
  ChildWindow& operator=(const ChildWindow&) = delete;

  ControlModel ctl;

  bool loaded() const { return loaded_; }
  void Load();
  void Unload();
  // Loads the window if needed and shows it, unless loading closed it again.
  void Show();
  void Hide();

  virtual void Form_Load() = 0;

  void log(const std::string& line) { ctl.appendLog(line); }

 private:
  std::string name_;
  bool loaded_ = false;
};

}  // namespace kline
