#include "connection/ecutypes.h"

#include <algorithm>
#include <array>

#include "connection/form2.h"
#include "serial/text.h"
#include "ui/controlmodel.h"

namespace kline {

namespace {

// How each kind of wake-up reads in the connect checklist.
constexpr const char* kWakesByBurst =
    "at 1200 baud the ECU sends a wake-up burst when the ignition comes on; klinediag answers "
    "it, then talks at 7812 baud.";
constexpr const char* kWakesAtOnce =
    "no burst to wait for; klinediag sends the wake-up answer at once at 1200 baud, then talks "
    "at 7812 baud.";

// The P8 starts with throttle and battery only: rpm, inj duration, ign advance, manifold
// pressure, air temp, water temp and trimmer value are unticked at Connect.
constexpr uint16_t kP8Unticked = 0b1'0011'1111;

constexpr std::array<EcuTypeInfo, 5> kTypes = {{
    {.option = "Option1",
     .caption = "15m",
     .label = "15m",
     .ecu = "15m",
     .cliName = "15m",
     .settingsCode = "1",
     .click = &Form2::Option1_Click,
     .connectBaud = 1200,
     .wakeUp = WakeUp::Burst,
     .untickAtConnect = 0,
     .live = &Form2::ReadLive15m,
     .throttleVoltage = false,
     .voltageField = VoltageField::Hide,
     .tests = &kTestList15m,
     .testCodes = TestCodes::First,
     .sim = EcuType::E15m,
     .help = ": every ticked channel in one cycle",
     .wakeUpLine = kWakesByBurst},
    {.option = "Option9",
     .caption = "15Rc",
     .label = "15Rc",
     .ecu = "15Rc",
     .cliName = "15rc",
     .settingsCode = "4",
     .click = &Form2::Option9_Click,
     .connectBaud = 1200,
     .wakeUp = WakeUp::AnswerAtOnce,
     .untickAtConnect = 0,
     .live = &Form2::ReadLive15m,
     .throttleVoltage = true,
     .voltageField = VoltageField::Show,
     .tests = &kTestList15m,
     .testCodes = TestCodes::First,
     .sim = EcuType::E15Rc,
     .help = ": read as the 15m, and shows the throttle sensor's voltage",
     .wakeUpLine = kWakesAtOnce},
    {.option = "Option7",
     .caption = "16m",
     .label = "16m",
     .ecu = "16m",
     .cliName = "16m",
     .settingsCode = "3",
     .click = &Form2::Option7_Click,
     .connectBaud = 1200,
     .wakeUp = WakeUp::Burst,
     .untickAtConnect = 0,
     .live = &Form2::ReadLive16m,
     .throttleVoltage = false,
     .voltageField = VoltageField::Hide,
     .tests = &kTestList16m,
     .testCodes = TestCodes::Second,
     .sim = EcuType::E16m,
     .help = ": its own cycle, with the inter byte delay below",
     .wakeUpLine = kWakesByBurst},
    {.option = "Option2",
     .caption = "P8",
     .label = "P8",
     .ecu = "P8",
     .cliName = "p8",
     .settingsCode = "2",
     .click = &Form2::Option2_Click,
     .connectBaud = 7812,
     .wakeUp = WakeUp::None,
     .untickAtConnect = kP8Unticked,
     .live = &Form2::ReadLiveP8,
     .throttleVoltage = false,
     .voltageField = VoltageField::Hide,
     .tests = &kTestListP8,
     .testCodes = TestCodes::Second,
     .sim = EcuType::P8,
     .help = ", every channel in one cycle, at 7812 baud",
     .wakeUpLine =
         "no wake-up; the line goes to 7812 baud at once and the live values are asked for."},
    {.option = "Option8",
     .caption = "P8",
     .label = "P8-sensor",
     .ecu = "P8",
     .cliName = "p8-sensor",
     .settingsCode = "",
     .click = &Form2::Option8_Click,
     .connectBaud = 7812,
     .wakeUp = WakeUp::None,
     .untickAtConnect = kP8Unticked,
     .live = &Form2::ReadLivePerSensor,
     .throttleVoltage = false,
     .voltageField = VoltageField::Keep,
     .tests = &kTestListP8,
     .testCodes = TestCodes::Second,
     .sim = EcuType::P8,
     .help = ", sensor by sensor (one request per ticked channel), at 7812 baud",
     .wakeUpLine = "no wake-up; the line goes to 7812 baud at once and each sensor is asked for "
                   "on its own."},
}};

}  // namespace

std::span<const EcuTypeInfo> EcuTypes() {
  return kTypes;
}

const EcuTypeInfo& DefaultEcuType() {
  return kTypes[0];
}

const EcuTypeInfo* FindEcuType(const std::string& name) {
  const std::string l = AsciiLower(name);
  for (const EcuTypeInfo& t : kTypes)
    if (l == AsciiLower(t.option) || l == t.cliName) return &t;
  return nullptr;
}

const EcuTypeInfo* EcuTypeOfCliName(const std::string& name) {
  const std::string l = AsciiLower(name);
  for (const EcuTypeInfo& t : kTypes)
    if (l == t.cliName) return &t;
  return nullptr;
}

const EcuTypeInfo& SelectedEcuTypeInfo(const ControlModel& form2) {
  for (const EcuTypeInfo& t : kTypes)
    if (form2.has(t.option) && form2.value(t.option)) return t;
  return DefaultEcuType();
}

std::vector<std::string> EcuCliNames() {
  std::vector<std::string> out;
  for (const EcuTypeInfo& t : kTypes) out.emplace_back(t.cliName);
  return out;
}

std::string EcuOfLabel(const std::string& label) {
  for (const EcuTypeInfo& t : kTypes)
    if (label == t.label) return t.ecu;
  return label;
}

std::vector<std::string> LabelsOfSameEcu(const std::string& label) {
  std::vector<std::string> out{label};
  const std::string ecu = EcuOfLabel(label);
  if (ecu != label) out.push_back(ecu);
  for (const EcuTypeInfo& t : kTypes)
    if (t.ecu == ecu && std::find(out.begin(), out.end(), t.label) == out.end())
      out.emplace_back(t.label);
  return out;
}

std::string EcuCliNamesText() {
  std::string out;
  for (std::size_t i = 0; i < kTypes.size(); ++i) {
    if (i) out += i + 1 == kTypes.size() ? " or " : ", ";
    out += kTypes[i].cliName;
  }
  return out;
}

}  // namespace kline
