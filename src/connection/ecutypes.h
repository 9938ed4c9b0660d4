#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "actuators/testlist.h"
#include "ui/childwindow.h"

namespace kline {

class ControlModel;
class Form2;

// The protocol family a simulated ECU answers as.
enum class EcuType { E15m, E16m, E15Rc, P8 };

// How Connect wakes the ECU.
enum class WakeUp {
  Burst,         // the ECU sends a burst when the ignition comes on; InitLink waits and answers
  AnswerAtOnce,  // InitLink answers at once: there is no burst to wait for
  None,          // no handshake: the link counts as initialised at Connect
};

// What choosing the type does to the throttle sensor's voltage field Text1(9) and its unit.
enum class VoltageField { Hide, Show, Keep };

// One ECU type: everything that differs from one type to the next, for the main window's logic,
// the test window, the settings file, the command line, the report, the checklist and the
// simulated ECU. The one table of them; the code around it asks the table rather than naming a
// type.
struct EcuTypeInfo {
  const char* option;   // the main window's option button ("Option1")
  const char* caption;  // its caption ("15m"; both P8 options read P8)
  const char* label;    // for people: the report, file names, the command line's text
  // The ECU behind the option, as the bike records know a bike by it: the two P8 options read
  // one P8 ECU two ways, so both are "P8" and a bike read either way is one bike.
  const char* ecu;
  const char* cliName;       // --ecu and --sim's "type" ("p8-sensor")
  const char* settingsCode;  // the settings file's "Ecu" value; empty: not stored
  void (Form2::*click)();    // the option's Click handler
  int connectBaud;           // the line's rate once Connect has opened the port at 1200
  WakeUp wakeUp;
  uint16_t untickAtConnect;  // bit i set: Connect unticks the channel Check1(i)
  void (Form2::*live)();     // one live cycle of the poll loop
  bool throttleVoltage;      // the 15m cycle also reads the throttle sensor's voltage (3A)
  VoltageField voltageField;
  const TestList* tests;   // the main window's test list
  TestCodes testCodes;     // the test window's set of codes
  EcuType sim;             // what the simulated ECU answers as, unless its description says
  const char* help;        // what the option does, after "<caption> ECU" (its tooltip)
  const char* wakeUpLine;  // how Connect wakes it, after "<label>: "
};

// In the window's order: 15m, 15Rc, 16m, P8, P8 sensor by sensor.
std::span<const EcuTypeInfo> EcuTypes();
// The type selected when the main window opens: the first one.
const EcuTypeInfo& DefaultEcuType();
// The type of an option name or a command-line name (any case); null for another text.
const EcuTypeInfo* FindEcuType(const std::string& optionOrCliName);
// The type of a command-line name (any case); null for another text.
const EcuTypeInfo* EcuTypeOfCliName(const std::string& cliName);
// The type whose option is selected in the main window's controls (the default when none is).
const EcuTypeInfo& SelectedEcuTypeInfo(const ControlModel& form2);
// "15m, 15rc, 16m, p8 or p8-sensor".
std::string EcuCliNamesText();
std::vector<std::string> EcuCliNames();
// The ECU a type's label ("P8-sensor") reads, as the records know it ("P8"); another text as it is.
std::string EcuOfLabel(const std::string& label);
// The labels of the types that read the same ECU as `label`, `label` first, then that ECU's own
// name, then the others ("P8-sensor": P8-sensor, P8); just `label` for another text.
std::vector<std::string> LabelsOfSameEcu(const std::string& label);

}  // namespace kline
