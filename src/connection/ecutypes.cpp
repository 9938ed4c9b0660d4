#include "connection/ecutypes.h"

#include <array>
#include <cctype>

#include "ui/controlmodel.h"

namespace kline {

namespace {

constexpr std::array<EcuTypeInfo, 5> kTypes = {{
    {"Option1", "15m", "15m", "15m", "1", LiveVariant::Cycle15m, EcuType::E15m},
    {"Option9", "15Rc", "15Rc", "15rc", "4", LiveVariant::Cycle15m, EcuType::E15Rc},
    {"Option7", "16m", "16m", "16m", "3", LiveVariant::Cycle16m, EcuType::E16m},
    {"Option2", "P8", "P8", "p8", "2", LiveVariant::CycleP8, EcuType::P8},
    {"Option8", "P8", "P8-sensor", "p8-sensor", "", LiveVariant::PerSensor, EcuType::P8},
}};

std::string lower(const std::string& s) {
  std::string out;
  for (char c : s) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::span<const EcuTypeInfo> EcuTypes() {
  return kTypes;
}

const EcuTypeInfo* FindEcuType(const std::string& name) {
  const std::string l = lower(name);
  for (const EcuTypeInfo& t : kTypes)
    if (l == lower(t.option) || l == t.cliName) return &t;
  return nullptr;
}

const EcuTypeInfo& SelectedEcuTypeInfo(const ControlModel& form2) {
  for (const EcuTypeInfo& t : kTypes)
    if (form2.has(t.option) && form2.value(t.option)) return t;
  return kTypes[0];
}

std::vector<std::string> EcuCliNames() {
  std::vector<std::string> out;
  for (const EcuTypeInfo& t : kTypes) out.emplace_back(t.cliName);
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
