#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "actuators/testlist.h"
#include "host/host.h"
#include "livedata/conversions.h"
#include "serial/byteexchange.h"
#include "serial/serialport.h"
#include "settings/inifile.h"
#include "ui/childwindow.h"
#include "ui/controlmodel.h"
#include "ui/sessionevents.h"

namespace kline {

class Form1;
class Form3;

// 16-bit booleans: true is all bits set.
constexpr int16_t kTrue = -1;
constexpr int16_t kFalse = 0;

// The main window's logic: the connect toggle, the connection flags, the poll loop on Timer1,
// the handshake, the identification and calibration readouts, and the live channels.
// Lives on the session thread: every method is called there, by the host's timer, by forwarded
// user events (through ctl) or by the other windows.
class Form2 : public MainWindowLink {
 public:
  Form2(Host& host, PortFactory makePort, std::string settingsPath, EventSink* sink);
  ~Form2();
  Form2(const Form2&) = delete;
  Form2& operator=(const Form2&) = delete;

  ControlModel ctl;

  // Window events.
  void Form_Load();
  void Form_Unload();
  void Check2_Click();
  void Check3_Click();
  void Check4_Click();
  void Text2_Change();
  void Timer1_Timer();
  void Command1_Click();
  void Command6_Click() { ReadEcuInfo(); }
  void Command7_Click() { ReadCalibration(); }
  void Option1_Click();
  void Option2_Click();
  void Option7_Click();
  void Option8_Click();
  void Option9_Click();
  void Check1_Click(int Index);
  void Command5_Click() { ReadSensorAirTemp(); }
  void Command10_Click() { ReadLive15m(); }
  void Command11_Click() { ReadFaults(); }
  void Command2_Click() { ReadImmobiliserStatus(); }
  void Command3_Click() { ReadImmobiliserStatus2(); }
  void Command4_Click();
  void Command9_Click();
  void test_Click();
  void Diag_Click();

  // Fault and status readouts.
  void ReadFaults();
  void ReadImmobiliserStatus();
  void ReadImmobiliserStatus2();

  // The other windows, created with this one and loaded when first shown.
  Form1& form1() { return *form1_; }
  Form3& form3() { return *form3_; }
  // A window's controls by its name ("Form2", "Form1", "Form3"); null for another name.
  ControlModel* window(const std::string& name);
  void Show() override { ctl.setVisible("Form2", true); }
  // The user's own actions, for the drivers of a session.
  bool connectPressed() const { return ctl.value("Check2") == 1; }
  void pressConnect(bool on) {
    if (connectPressed() != on) ctl.userClick("Check2");
  }
  void typePort(const std::string& text) { ctl.userSetText("Text6", text); }
  const std::string& portText() const { return ctl.text("Text6"); }
  void Hide() { ctl.setVisible("Form2", false); }

  // Procedures.
  void TimerOn(int16_t Interval) override;
  // TimerOn(0) with the reason the observers are told.
  void pauseLoop(const char* why) override {
    loopWhy_ = why;
    TimerOn(0);
  }
  void InitLink();
  void ReadEcuInfo();
  void ReadCalibration();
  // Live data: one cycle per tick of the selected ECU type (the ECU type table says which), run
  // by livedata/livecycle.h over this window's controls, host and port (connection/form2live.cpp).
  void ReadLive15m();
  void ReadLive16m();
  void ReadLiveP8();
  void ReadLivePerSensor();
  void ReadSensorAirTemp();
  // Hands the 15m cycle's trimmer value to the test window when that window is open.
  void TrimmerHandover();

  // The test list of the "Test" frame.
  void List1_Click();
  TestItemData List1_ItemData{};

  std::string LireINI(const std::string& Entete, const std::string& Variable);
  void EcrireINI(const std::string& Entete, const std::string& Variable, const std::string& Valeur);

  void log(const std::string& line) { ctl.appendLog(line); }
  void appendInfo(const std::string& line);
  // Publishes what happened to the session's observers.
  void publish(const SessionEvent& e) override {
    if (sink_) sink_->onEvent(e);
  }
  // A part of the identification is read: adds its line to the information pane and publishes
  // the whole so far.
  void identified(std::string ev::EcuIdentified::*part, const std::string& label,
                  const std::string& text);

  // State read by tests and the other windows.
  int16_t init = kFalse;
  int16_t ecuinf = kFalse;
  int16_t cal_ask = kFalse;
  int lbuff = 0;
  TempTable temptab{};

  SerialPort* port() override { return MSComm1.get(); }
  bool portOpen() const override { return MSComm1 && MSComm1->isOpen(); }
  Host& host() override { return host_; }
  TestCodes testCodes() const override;
  const IniFile& settings() const { return ini_; }

 private:
  void buildControls();
  // What an ECU type option does when chosen: the test list and the voltage field of its type.
  void ecuTypeChosen(const char* option);
  void runLiveCycle();
  void setBaud7812();
  void showVoltage(bool on);
  bool lastCycleCompleted_ = false;
  uint32_t connectedAt_ = 0;
  // What the observers are told about the poll loop and the ECU.
  bool loopRunning_ = false;
  const char* loopWhy_ = "";
  ev::EcuIdentified identity_;
  std::string testShown_;  // the verdict the test list's wait showed

  Host& host_;
  PortFactory makePort_;
  IniFile ini_;
  EventSink* sink_;
  std::unique_ptr<SerialPort> MSComm1;
  std::unique_ptr<Form1> form1_;
  std::unique_ptr<Form3> form3_;
};

}  // namespace kline
