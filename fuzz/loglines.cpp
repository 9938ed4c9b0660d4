// Every line the windows log, in one place: the fixed texts and the patterns of the formatted
// ones, taken from the log calls of src/ (connection/, livedata/, diagnosis/, actuators/). A new
// log call needs its text here, or the session fuzzer reports it as an unknown line.
#include "loglines.h"

#include <map>
#include <regex>
#include <set>
#include <vector>

#include "diagnosis/faulttexts.h"

namespace kline::fuzz {

namespace {

// Hex pairs as ToHex writes them.
#define HEX "(?:[0-9A-F]{2})"
// Any character: 8-bit record and line bytes are kept as UTF-8, control bytes included.
#define ANY "[\\s\\S]"

struct Known {
  std::set<std::string> fixed;
  std::vector<std::regex> patterns;
};

void addTexts(Known& k, const auto& table) {
  for (std::string_view t : table)
    if (!t.empty()) k.fixed.emplace(t);
}

std::map<std::string, Known> Build() {
  std::map<std::string, Known> m;

  Known& main = m["Form2"];
  main.fixed = {
      // connect (connection/form2.cpp), with the fuzz port's name and reasons
      "1200bds", "7812", "port fuzz not opened: no such serial port",
      "port fuzz lost: the adapter went away",
      // the poll loop and the handshake (connection/form2.cpp, initlink.cpp)
      "init = false => call initial ", "initial => 15rc ecu, skip isocode ", "iso: ", "Iso code OK",
      "Tx => 0x0F", "Tx => 0xAA", "Tx => 0xCC", "init successfull",
      // readouts (connection/readout.cpp)
      "ask ecu info... ", "ask ecu calibration... ",
      // per-sensor time-outs (livedata/persensor.cpp)
      "RPM1 timeout !! ", "RPM2 timeout !! ", "Inj1 timeout !! ", "inj2 timeout !! ",
      "Adv timeout !! ", "atmo timeout !! ", "Air timeout !! ", "Eau timeout !! ",
      "trim timeout !! ",
      // the fault readout (diagnosis/faulttexts.cpp, FaultLines)
      "Icv Blocked", "Icv OK", "Maximum lean", "Maximum rich", "Enrichment OK ",
      " Air temp sensor Short circuit", "Air temp sensor open circuit ", "Air temp sensor OK ",
      "Knock Pinking", "Knock OK ", "Water temp sensor Short circuit",
      "water temp sensor Open circuit ", "Water temp sensor OK ", "Lambda sensor Faulty",
      "Lambda sensor OK    ", "Map sensor Short circuit", "Map sensor Open circuit ",
      "Map sensor OK ", "Throttle sensor Short circuit", "Throttle sensor Open circuit ",
      "Throttle sensor OK ", "Camshaft sensor Short circuit", "Camshaft sensor Open circuit ", "OK",
      "Eprom Fault", "Eprom OK ", "EEprom Fault", "Ram Fault", "OK  ",
      "Crankshaft sensor Short circuit", "Crankshat sensor Open circuit ", "Crankshaft sensor OK"};
  // the immobiliser readouts (diagnosis/faults.cpp)
  addTexts(main, immotab);
  addTexts(main, immotab2);
  main.patterns = {
      // the wake-up burst (connection/initlink.cpp)
      std::regex("RX=> " HEX "* "),
      std::regex("buff= " HEX "+  Lbuff= [0-9]+"),
      // readouts: elapsed ms, then the record read so far (connection/readout.cpp)
      std::regex("Ecu info: [0-9]+ " ANY "{0,20}"),
      std::regex("Cal: [0-9]+ " ANY "{0,16}"),
      // the test list (actuators/testlist.cpp): replies, the item code, the last reply
      std::regex(HEX "+"),
      std::regex("8[0-7]"),
      std::regex(HEX "*  elapsed [0-9]+"),
      // per-sensor time-outs with the bytes waiting (livedata/persensor.cpp)
      std::regex("Throttle timeout!!  " ANY "* "),
      std::regex("Bat timeout!!  " ANY "*"),
  };

  Known& test = m["Form1"];  // actuators/form1.cpp
  test.fixed = {"Enter in diagnostic mode OK",
                "Exit diagnostic mode OK",
                "Test finish",
                "Test failed",
                "Test unknown",
                "Enter CO Regulation OK",
                "Exit CO Regulation OK",
                "Fuel pump",
                "Injector1",
                "Injector2",
                "Rev counter",
                "rev counter",
                "Coil1",
                "Coil2",
                "Clear DTC",
                "Reset TPS"};
  test.patterns = {
      std::regex(HEX "+"),
      std::regex("Custom code " ANY "*"),
      std::regex("Custom code refused: type one or two hexadecimal digits, not \"" ANY "*\""),
      std::regex("Trimmer value refused: type a whole number from 0 to 254, not \"" ANY "*\""),
      std::regex("trimmer set to:-?[0-9]+"),
  };

  Known& diag = m["Form3"];  // diagnosis/form3.cpp
  addTexts(diag, errtab1);
  addTexts(diag, errtab2);
  addTexts(diag, errtype);
  addTexts(diag, statetab);
  return m;
}

#undef HEX
#undef ANY

}  // namespace

bool KnownLogLine(const std::string& win, const std::string& line) {
  static const std::map<std::string, Known> known = Build();
  auto it = known.find(win);
  if (it == known.end()) return false;
  if (it->second.fixed.count(line)) return true;
  for (const std::regex& re : it->second.patterns) {
    if (!std::regex_match(line, re)) continue;
    // "buff= HEX  Lbuff= N" gives the length of its hex text.
    if (line.rfind("buff= ", 0) == 0) {
      std::size_t gap = line.find("  Lbuff= ");
      return line.substr(gap + 9) == std::to_string(gap - 6);
    }
    return true;
  }
  return false;
}

}  // namespace kline::fuzz
