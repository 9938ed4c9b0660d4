#pragma once

#include <cstdint>
#include <string>

#include "ui/controlmodel.h"

namespace kline {

class Host;
class SerialPort;

// The test window's two sets of test codes (ActuatorTest::codeA and codeB); the ECU type table
// says which set each type takes.
enum class TestCodes { First, Second };

// What the other windows use of the main window, which owns the port, the host and the poll
// loop: they talk to the ECU through its port while its loop is stopped, hand the loop back when
// they leave and publish through it. Only forward declarations here, so that the windows' logic
// needs nothing of the main window's own folder. Session thread only.
class MainWindowLink {
 public:
  virtual ~MainWindowLink() = default;

  // The port of the last Connect (null before it). A user event that runs inside a wait may
  // connect again and replace it: ask for it again after every DoEvents.
  virtual SerialPort* port() = 0;
  virtual bool portOpen() const = 0;
  virtual Host& host() = 0;
  // The poll loop's timer: 0 stops it, an interval restarts it.
  virtual void TimerOn(int16_t Interval) = 0;
  // TimerOn(0) with the reason the observers are told.
  virtual void pauseLoop(const char* why) = 0;
  virtual void Show() = 0;
  virtual void publish(const SessionEvent& e) = 0;
  // The set of test codes of the ECU type selected in the main window.
  virtual TestCodes testCodes() const = 0;
};

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
