#pragma once

#include <span>
#include <string>
#include <vector>

#include "sim/simconfig.h"

namespace kline {

class ControlModel;

// How the poll loop reads the live channels of a type.
enum class LiveVariant { Cycle15m, Cycle16m, CycleP8, PerSensor };

// One ECU type as the window, the settings file, the command line, the report and the
// simulated ECU name it. The one table of them; the window's logic keeps its own option
// handlers, this table says what each option means to everything around it.
struct EcuTypeInfo {
  const char* option;        // the main window's option button ("Option1")
  const char* caption;       // its caption ("15m"; both P8 options read "P8")
  const char* label;         // for people: the report, file names, the command line's text
  const char* cliName;       // --ecu and --sim's "type" ("p8-sensor")
  const char* settingsCode;  // the settings file's "Ecu" value; empty: not stored
  LiveVariant live;
  EcuType sim;  // the simulated ECU's protocol family
};

// In the window's order: 15m, 15Rc, 16m, P8, P8 sensor by sensor.
std::span<const EcuTypeInfo> EcuTypes();
// The type of an option name or a command-line name (any case); null for another text.
const EcuTypeInfo* FindEcuType(const std::string& optionOrCliName);
// The type whose option is selected in the main window's controls (15m when none is).
const EcuTypeInfo& SelectedEcuTypeInfo(const ControlModel& form2);
// "15m, 15rc, 16m, p8 or p8-sensor".
std::string EcuCliNamesText();
std::vector<std::string> EcuCliNames();

}  // namespace kline
