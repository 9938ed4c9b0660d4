#include "diagnosis/faulttexts.h"

namespace kline {

namespace {

// The bit texts of one hex digit, either case.
std::string_view Nibble(char c) {
  static constexpr std::string_view kBits[16] = {"0000", "0001", "0010", "0011", "0100", "0101",
                                                 "0110", "0111", "1000", "1001", "1010", "1011",
                                                 "1100", "1101", "1110", "1111"};
  if (c >= '0' && c <= '9') return kBits[c - '0'];
  if (c >= 'A' && c <= 'F') return kBits[c - 'A' + 10];
  if (c >= 'a' && c <= 'f') return kBits[c - 'a' + 10];
  return {};
}

// One line of the fault readout. Bytes are compared whole, not bit by bit: a byte with two
// faults set shows neither.
struct FaultLine {
  bool second;            // tests f2 instead of f1
  uint8_t fault;          // the value of the fault byte that selects a fault text
  int kind;               // the k that selects `kindText`; -1 for faults without a kind
  const char* kindText;   // the fault text when k equals `kind`
  const char* faultText;  // the fault text otherwise
  const char* okText;     // the text when the fault byte differs
};

constexpr FaultLine kFaultLines[13] = {
    {false, 0x01, -1, "", "Icv Blocked", "Icv OK"},
    {false, 0x02, 0x01, "Maximum lean", "Maximum rich", "Enrichment OK "},
    {false, 0x04, 0x02, " Air temp sensor Short circuit", "Air temp sensor open circuit ",
     "Air temp sensor OK "},
    {false, 0x08, -1, "", "Knock Pinking", "Knock OK "},
    {false, 0x10, 0x04, "Water temp sensor Short circuit", "water temp sensor Open circuit ",
     "Water temp sensor OK "},
    {false, 0x20, -1, "", "Lambda sensor Faulty", "Lambda sensor OK    "},
    {false, 0x40, 0x80, "Map sensor Short circuit", "Map sensor Open circuit ", "Map sensor OK "},
    {false, 0x80, 0x10, "Throttle sensor Short circuit", "Throttle sensor Open circuit ",
     "Throttle sensor OK "},
    {true, 0x01, 0x80, "Camshaft sensor Short circuit", "Camshaft sensor Open circuit ", "OK"},
    {true, 0x04, -1, "", "Eprom Fault", "Eprom OK "},
    {true, 0x08, -1, "", "EEprom Fault", "OK"},
    {true, 0x40, -1, "", "Ram Fault", "OK  "},
    {true, 0x80, 0x40, "Crankshaft sensor Short circuit", "Crankshat sensor Open circuit ",
     "Crankshaft sensor OK"},
};

}  // namespace

std::string HexToBin(std::string_view hex) {
  std::string out;
  out.reserve(hex.size() * 4);
  for (char c : hex) out += Nibble(c);
  return out;
}

std::vector<std::string> SetBitTexts(const BitTexts& table, std::string_view bits) {
  std::vector<std::string> out;
  for (std::size_t i = 1; i <= 8; ++i)
    if (i <= bits.size() && bits[i - 1] == '1' && !table[i].empty()) out.emplace_back(table[i]);
  return out;
}

std::vector<std::string> BitPairLines(const BitPairTexts& table, std::string_view bits) {
  std::vector<std::string> out;
  for (std::size_t i = 1; i <= 8; ++i) {
    std::size_t v = i <= bits.size() && bits[i - 1] == '1' ? 1 : 0;
    out.emplace_back(table[2 * (i - 1) + v]);
  }
  return out;
}

std::vector<std::string> FaultLines(uint8_t f1, uint8_t f2, uint8_t k) {
  std::vector<std::string> out;
  for (const FaultLine& l : kFaultLines) {
    uint8_t f = l.second ? f2 : f1;
    if (f != l.fault)
      out.emplace_back(l.okText);
    else if (l.kind >= 0 && k == l.kind)
      out.emplace_back(l.kindText);
    else
      out.emplace_back(l.faultText);
  }
  return out;
}

}  // namespace kline
