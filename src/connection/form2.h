#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "connection/byteexchange.h"
#include "serial/inifile.h"
#include "serial/serialport.h"
#include "ui/controlmodel.h"
#include "ui/host.h"

namespace kline {

// Makes the port object for the text of the port field ("sim", a device, a number).
using PortFactory = std::function<std::unique_ptr<SerialPort>(const std::string& spec)>;

// 16-bit booleans: true is all bits set.
constexpr int16_t kTrue = -1;
constexpr int16_t kFalse = 0;

// The main window's logic: the connect toggle, the connection flags, the poll loop on Timer1,
// the handshake, the identification and calibration readouts, and the live channels.
// Lives on the session thread: every method is called there, by the host's timer, by forwarded
// user events (through ctl) or by the other windows.
class Form2 {
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

  // Procedures.
  void TimerOn(int16_t Interval);
  void InitLink();
  void ReadEcuInfo();
  void ReadCalibration();
  std::string LireINI(const std::string& Entete, const std::string& Variable);
  void EcrireINI(const std::string& Entete, const std::string& Variable,
                 const std::string& Valeur);

  void log(const std::string& line) { ctl.appendLog(line); }
  void appendInfo(const std::string& line);

  // State read by tests and the other windows.
  int16_t init = kFalse;
  int16_t ecuinf = kFalse;
  int16_t cal_ask = kFalse;
  int lbuff = 0;

  SerialPort* port() { return MSComm1.get(); }
  bool portOpen() const { return MSComm1 && MSComm1->isOpen(); }
  Host& host() { return host_; }
  const IniFile& settings() const { return ini_; }

 private:
  void buildControls();
  void runLiveCycle();
  void setBaud7812();

  Host& host_;
  PortFactory makePort_;
  IniFile ini_;
  EventSink* sink_;
  std::unique_ptr<SerialPort> MSComm1;
};

}  // namespace kline
